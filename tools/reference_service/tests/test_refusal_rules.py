"""Scenario rules make a call refuse with a given code and message for its first N
calls, so that the client's retry and recovery can be tested."""
import copy
import json

import pytest

from support import DEMO_KEY, admin, authorize, http_request, post_json

RETRYABLE = ["DEVICE_NOT_BOUND", "TRAFFIC_QUOTA_EXCEEDED", "CONCURRENT_LIMIT_EXCEEDED",
             "DEVICE_OFFLINE", "DEVICE_RELAY_OFFLINE"]


def with_rules(port, rules):
    scenario = copy.deepcopy(admin(port, "scenario"))
    scenario["rules"] = rules
    admin(port, "scenario", scenario)


@pytest.mark.parametrize("code", RETRYABLE)
def test_first_n_authorizations_are_refused_then_granted(svc, code):
    with_rules(svc.port, [{"path": "/api/connections/request", "count": 2, "code": code,
                           "message": "现场设备暂不可用"}])
    for _ in range(2):
        status, envelope = authorize(svc.port)
        assert status == 200
        assert envelope == {"success": False, "code": code, "message": "现场设备暂不可用", "data": None}
    _, envelope = authorize(svc.port)
    assert envelope["success"] is True
    state = admin(svc.port, "state")
    assert len(state["connections"]) == 1
    assert state["rules"] == [{"path": "/api/connections/request", "hits": 3}]


def test_skip_refuses_a_later_call_only(svc):
    with_rules(svc.port, [{"path": "/api/devices/resolve", "skip": 1, "count": 1, "code": "X", "message": "m"}])
    results = [post_json(svc.port, "/api/devices/resolve", {"deviceSecret": DEMO_KEY})[1]["success"]
               for _ in range(3)]
    assert results == [True, False, True]


def test_rule_without_count_applies_to_every_call_and_globs_paths(svc):
    with_rules(svc.port, [{"path": "/api/connections/*/disconnect", "code": "NOPE", "message": "不行",
                           "status": 503}])
    for connection_id in ("a", "b"):
        status, envelope = post_json(svc.port, f"/api/connections/{connection_id}/disconnect",
                                     {"engineerId": "E", "reason": "r"})
        assert status == 503 and envelope["code"] == "NOPE"


def test_rule_can_answer_an_arbitrary_json_body(svc):
    body = {"success": True, "code": "OK", "message": "", "data": {
        "connectionId": "c1", "assignedAddress": "100.64.0.9", "routes": [1, 2]}}
    with_rules(svc.port, [{"path": "/api/connections/request", "count": 1, "body": body}])
    assert authorize(svc.port)[1] == body


def test_rule_can_answer_a_non_json_body(svc):
    with_rules(svc.port, [{"path": "/api/devices/resolve", "count": 1, "status": 502,
                           "rawBody": "<html>bad gateway</html>", "contentType": "text/html"}])
    status, headers, body = http_request(svc.port, "POST", "/api/devices/resolve", b"{}")
    assert status == 502 and body == b"<html>bad gateway</html>"
    assert headers["Content-Type"] == "text/html"


def test_rules_restart_counting_after_reset(svc):
    with_rules(svc.port, [{"path": "/api/devices/resolve", "count": 1, "code": "X", "message": "m"}])
    admin(svc.port, "reset", {"keepScenario": True})
    assert post_json(svc.port, "/api/devices/resolve", {"deviceSecret": DEMO_KEY})[1]["success"] is False
    admin(svc.port, "reset", {})
    assert post_json(svc.port, "/api/devices/resolve", {"deviceSecret": DEMO_KEY})[1]["success"] is True


def test_invalid_rule_is_refused_and_keeps_the_old_scenario(svc):
    status, _, body = http_request(svc.port, "POST", "/admin/scenario", json.dumps(
        {"rules": [{"path": "/api/devices/resolve", "code": "X", "body": {}}]}).encode())
    envelope = json.loads(body)
    assert envelope["success"] is False and envelope["code"] == "INVALID_SCENARIO"
    assert post_json(svc.port, "/api/devices/resolve", {"deviceSecret": DEMO_KEY})[1]["success"] is True

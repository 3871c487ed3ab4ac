"""Built-in refusals of the control calls: codes, messages and no side effects."""
from support import DEMO_KEY, DEMO_NUMBER, admin, authorize, grant, post_json

WAREHOUSE_KEY = "OVK-DEMO-WAREHOUSE-41D7"


def assert_refusal(envelope, code):
    assert envelope["success"] is False
    assert envelope["code"] == code
    assert isinstance(envelope["message"], str) and envelope["message"]
    assert envelope["data"] is None


def test_unknown_access_key_is_refused_by_every_call(svc):
    _, envelope = post_json(svc.port, "/api/devices/resolve", {"deviceSecret": "no-such-key"})
    assert_refusal(envelope, "DEVICE_SECRET_INVALID")
    _, envelope = authorize(svc.port, key="no-such-key")
    assert_refusal(envelope, "DEVICE_SECRET_INVALID")
    _, envelope = post_json(svc.port, f"/api/devices/{DEMO_NUMBER}/remote-desktop/session", {
        "deviceNumber": DEMO_NUMBER, "deviceSecret": "no-such-key", "engineerId": "ENG-1"})
    assert_refusal(envelope, "DEVICE_SECRET_INVALID")


def test_device_number_that_does_not_belong_to_the_key_is_refused(svc):
    _, envelope = authorize(svc.port, number="SITE-0002")
    assert_refusal(envelope, "DEVICE_NUMBER_MISMATCH")
    assert admin(svc.port, "state")["connections"] == []


def test_empty_device_number_is_accepted_and_answered(svc):
    data = grant_without_number(svc.port)
    assert data["deviceNumber"] == DEMO_NUMBER


def grant_without_number(port):
    _, envelope = authorize(port, number="")
    assert envelope["success"] is True, envelope
    return envelope["data"]


def test_concurrent_limit_counts_live_connections_only(svc):
    _, first = authorize(svc.port, key=WAREHOUSE_KEY, number="SITE-0002")
    assert first["success"] is True
    _, second = authorize(svc.port, key=WAREHOUSE_KEY, number="SITE-0002")
    assert_refusal(second, "CONCURRENT_LIMIT_EXCEEDED")
    post_json(svc.port, f"/api/connections/{first['data']['connectionId']}/disconnect",
              {"engineerId": "ENG-12345678", "reason": "本地客户端断开连接"})
    _, third = authorize(svc.port, key=WAREHOUSE_KEY, number="SITE-0002")
    assert third["success"] is True


def test_disconnect_of_unknown_connection_is_refused(svc):
    _, envelope = post_json(svc.port, "/api/connections/c-unknown/disconnect",
                            {"engineerId": "ENG-1", "reason": "x"})
    assert_refusal(envelope, "CONNECTION_NOT_FOUND")


def test_disconnect_by_another_engineer_is_refused_and_keeps_the_connection(svc):
    data = grant(svc.port, engineer="ENG-33333333")
    _, envelope = post_json(svc.port, f"/api/connections/{data['connectionId']}/disconnect",
                            {"engineerId": "ENG-44444444", "reason": "x"})
    assert_refusal(envelope, "ENGINEER_MISMATCH")
    assert admin(svc.port, "state")["connections"][0]["ended"] is False


def test_remote_desktop_for_device_without_session_data_is_refused(svc):
    _, envelope = post_json(svc.port, "/api/devices/SITE-0002/remote-desktop/session", {
        "deviceNumber": "SITE-0002", "deviceSecret": WAREHOUSE_KEY, "engineerId": "ENG-1"})
    assert_refusal(envelope, "REMOTE_DESKTOP_UNAVAILABLE")


def test_remote_desktop_path_must_name_the_keys_device(svc):
    _, envelope = post_json(svc.port, "/api/devices/SITE-0002/remote-desktop/session", {
        "deviceNumber": "SITE-0002", "deviceSecret": DEMO_KEY, "engineerId": "ENG-1"})
    assert_refusal(envelope, "DEVICE_NUMBER_MISMATCH")


def test_unknown_path_and_wrong_method_are_refused(svc):
    _, envelope = post_json(svc.port, "/api/nothing-here", {})
    assert_refusal(envelope, "NOT_FOUND")
    from support import http_request
    import json
    status, _, body = http_request(svc.port, "GET", "/api/devices/resolve")
    assert status == 405
    assert_refusal(json.loads(body), "METHOD_NOT_ALLOWED")


def test_exhausted_address_pool_is_refused_until_an_address_is_free(svc):
    scenario = admin(svc.port, "scenario")
    scenario["addressPool"] = "100.64.7.0/30"
    admin(svc.port, "scenario", scenario)
    admin(svc.port, "reset", {"keepScenario": True})
    first = grant(svc.port)
    assert first["assignedAddress"] == "100.64.7.2"
    _, envelope = authorize(svc.port)
    assert_refusal(envelope, "ADDRESS_POOL_EXHAUSTED")
    post_json(svc.port, f"/api/connections/{first['connectionId']}/disconnect",
              {"engineerId": "ENG-12345678", "reason": "r"})
    assert grant(svc.port)["assignedAddress"] == "100.64.7.2"

"""The admin endpoint itself: envelopes, errors, scenario replacement and reset."""
import json

from support import DEMO_KEY, admin, grant, http_request, post_json, relay_path, WsClient


def call(port, method, path, body=None):
    status, _, data = http_request(port, method, path, None if body is None else json.dumps(body).encode())
    return status, json.loads(data)


def test_unknown_admin_path_and_method(svc):
    assert call(svc.port, "GET", "/admin/nothing")[1]["code"] == "NOT_FOUND"
    assert call(svc.port, "POST", "/admin/state", {})[1]["code"] == "METHOD_NOT_ALLOWED"


def test_bad_admin_bodies_are_refused(svc):
    status, _, body = http_request(svc.port, "POST", "/admin/fault", b"{not json")
    assert json.loads(body)["code"] == "BAD_JSON"
    assert call(svc.port, "POST", "/admin/fault", {"name": "delay-http", "ms": "x"})[1]["code"] == "INVALID_REQUEST"
    assert call(svc.port, "POST", "/admin/send-packet", {"base64": "!!"})[1]["code"] == "INVALID_REQUEST"
    assert call(svc.port, "POST", "/admin/config", {"pingIntervalSeconds": -1})[1]["code"] == "INVALID_REQUEST"


def test_scenario_replacement_keeps_granted_connections(svc):
    data = grant(svc.port)
    admin(svc.port, "scenario", {"devices": [{"accessKey": "K2", "deviceNumber": "N2",
                                              "sharedNetworks": ["172.20.0.0/24"]}]})
    assert post_json(svc.port, "/api/devices/resolve", {"deviceSecret": DEMO_KEY})[1]["success"] is False
    assert post_json(svc.port, "/api/devices/resolve", {"deviceSecret": "K2"})[1]["data"]["sharedNetworks"] == \
        ["172.20.0.0/24"]
    ws = WsClient(svc.port, relay_path(data["connectionId"]))
    assert ws.status == 101
    ws.close()


def test_reset_forgets_connections_and_restores_the_start_scenario(svc):
    data = grant(svc.port)
    ws = WsClient(svc.port, relay_path(data["connectionId"]))
    admin(svc.port, "scenario", {"devices": []})
    admin(svc.port, "config", {"pingIntervalSeconds": 5})
    admin(svc.port, "reset", {})
    assert ws.closed_by_server()
    ws.close()
    state = admin(svc.port, "state")
    assert state["connections"] == [] and state["relay"]["live"] == [] and state["relay"]["ended"] == []
    assert state["config"]["pingIntervalSeconds"] == 0
    assert post_json(svc.port, "/api/devices/resolve", {"deviceSecret": DEMO_KEY})[1]["success"] is True
    assert grant(svc.port)["assignedAddress"] == data["assignedAddress"], "the pool starts over"


def test_state_time_stamps_share_one_clock(svc):
    before = admin(svc.port, "state")["now"]
    grant(svc.port)
    state = admin(svc.port, "state")
    assert before <= state["connections"][0]["createdAt"] <= state["now"]


def test_admin_accepts_loopback_peers_only():
    from refsvc.admin import _is_loopback
    assert _is_loopback("127.0.0.1") and _is_loopback("127.5.6.7") and _is_loopback("::1")
    assert not _is_loopback("10.0.0.1") and not _is_loopback(None) and not _is_loopback("garbage")

"""The WebSocket upgrade: 101 for granted connections, 403 for unknown or ended ones."""
import base64
import hashlib
import json

from support import admin, grant, post_json, relay_path, WsClient, wait_until


def expected_accept(key):
    return base64.b64encode(hashlib.sha1((key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11").encode()).digest()).decode()


def test_granted_connection_is_upgraded(svc):
    data = grant(svc.port, engineer="ENG-55555555")
    ws = WsClient(svc.port, relay_path(data["connectionId"], "ENG-55555555"))
    try:
        assert ws.status == 101
        assert ws.response_head.startswith("HTTP/1.1 101 ")
        assert ws.header("Upgrade").lower() == "websocket"
        assert "upgrade" in ws.header("Connection").lower()
        assert ws.header("Sec-WebSocket-Accept") == expected_accept("dGhlIHNhbXBsZSBub25jZQ==")
        state = wait_until(lambda: (s := admin(svc.port, "state"))["relay"]["live"] and s)
        (live,) = state["relay"]["live"]
        assert live["connectionId"] == data["connectionId"] and live["engineerId"] == "ENG-55555555"
        (attempt,) = state["relay"]["upgradeAttempts"]
        assert attempt["status"] == 101 and attempt["engineerIdMatches"] is True
        assert state["connections"][0]["liveRelays"] == 1
    finally:
        ws.close()
    assert wait_until(lambda: not admin(svc.port, "state")["relay"]["live"])


def test_unknown_connection_gets_403_with_an_envelope(svc):
    ws = WsClient(svc.port, relay_path("c-never-granted"))
    assert ws.status == 403
    assert ws.response_head.startswith("HTTP/1.1 403 ")
    length = int(ws.header("Content-Length"))
    body = ws.read_rest()[:length]
    assert json.loads(body)["code"] == "CONNECTION_NOT_FOUND"
    assert admin(svc.port, "state")["relay"]["upgradeAttempts"][0]["status"] == 403


def test_disconnected_connection_gets_403_and_its_relay_is_closed(svc):
    data = grant(svc.port)
    ws = WsClient(svc.port, relay_path(data["connectionId"]))
    assert ws.status == 101
    post_json(svc.port, f"/api/connections/{data['connectionId']}/disconnect",
              {"engineerId": "ENG-12345678", "reason": "本地客户端断开连接"})
    assert ws.closed_by_server(3.0)
    ws.close()
    again = WsClient(svc.port, relay_path(data["connectionId"]))
    assert again.status == 403
    again.close()
    state = admin(svc.port, "state")
    assert state["connections"][0]["endReason"] == "本地客户端断开连接"


def test_connection_id_with_reserved_characters_is_decoded(svc):
    scenario = admin(svc.port, "scenario")
    scenario["connectionIds"] = ["a b/中"]
    admin(svc.port, "scenario", scenario)
    admin(svc.port, "reset", {"keepScenario": True})
    data = grant(svc.port)
    assert data["connectionId"] == "a b/中"
    ws = WsClient(svc.port, relay_path("a b/中"))
    assert ws.status == 101
    ws.close()
    _, envelope = post_json(svc.port, "/api/connections/a%20b%2F%E4%B8%AD/disconnect",
                            {"engineerId": "ENG-12345678", "reason": "r"})
    assert envelope["success"] is True


def test_handshake_without_websocket_headers_is_400(svc):
    from support import http_request
    data = grant(svc.port)
    status, _, body = http_request(svc.port, "GET", relay_path(data["connectionId"]))
    assert status == 400 and json.loads(body)["code"] == "BAD_HANDSHAKE"


def test_a_new_relay_for_the_same_connection_replaces_the_old(svc):
    data = grant(svc.port)
    first = WsClient(svc.port, relay_path(data["connectionId"]))
    second = WsClient(svc.port, relay_path(data["connectionId"]))
    assert first.status == second.status == 101
    assert first.closed_by_server(3.0)
    assert len(admin(svc.port, "state")["relay"]["live"]) == 1
    first.close()
    second.close()

"""The relay pings at the configured interval and keeps count of the pongs that come
back, matched against the pings it sent."""
import time

from support import admin, b64, grant, relay_path, WsClient, wait_until


def open_relay(svc):
    data = grant(svc.port)
    ws = WsClient(svc.port, relay_path(data["connectionId"]))
    assert ws.status == 101
    return ws


def live_session(svc):
    return admin(svc.port, "state")["relay"]["live"][0]


def test_no_pings_by_default(svc):
    ws = open_relay(svc)
    try:
        time.sleep(0.6)
        assert live_session(svc)["pingsSent"] == 0
    finally:
        ws.close()


def test_pings_at_the_interval_and_answered_pongs_are_counted(svc):
    ws = open_relay(svc)
    try:
        admin(svc.port, "config", {"pingIntervalSeconds": 0.1})
        payloads = []
        for _ in range(3):
            fin, opcode, payload = ws.recv_frame(2.0)
            assert fin and opcode == 0x9 and 0 < len(payload) <= 125
            ws.send_frame(0xA, payload)
            payloads.append(payload)
        assert len(set(payloads)) == 3
        session = wait_until(lambda: (s := live_session(svc))["pongsMatched"] >= 3 and s)
        assert session["pongsReceived"] == session["pongsMatched"] == 3
        assert [p["payloadBase64"] for p in session["pongs"]] == [b64(p) for p in payloads]
        assert all(p["matched"] for p in session["pongs"])
        assert admin(svc.port, "state")["relay"]["pongsReceived"] == 3
    finally:
        ws.close()


def test_unanswered_pings_stay_outstanding(svc):
    ws = open_relay(svc)
    try:
        admin(svc.port, "config", {"pingIntervalSeconds": 0.05})
        session = wait_until(lambda: (s := live_session(svc))["pingsSent"] >= 3 and s)
        assert session["pongsReceived"] == 0 and session["outstandingPings"] >= 3
        assert session["lastPongAt"] is None
    finally:
        ws.close()


def test_pong_with_a_foreign_payload_is_counted_but_not_matched(svc):
    ws = open_relay(svc)
    try:
        ws.send_frame(0xA, b"not-a-ping")
        session = wait_until(lambda: (s := live_session(svc))["pongsReceived"] == 1 and s)
        assert session["pongsMatched"] == 0 and session["pongs"][0]["matched"] is False
    finally:
        ws.close()


def test_admin_ping_sends_the_given_payload(svc):
    ws = open_relay(svc)
    try:
        admin(svc.port, "ping", {"payloadBase64": b64(b"ab")})
        assert ws.recv_frame(2.0) == (True, 0x9, b"ab")
        ws.send_frame(0xA, b"ab")
        assert wait_until(lambda: live_session(svc)["pongsMatched"] == 1)
    finally:
        ws.close()


def test_client_ping_is_answered_with_a_pong(svc):
    ws = open_relay(svc)
    try:
        ws.send_frame(0x9, b"xyz")
        assert ws.recv_frame(2.0) == (True, 0xA, b"xyz")
    finally:
        ws.close()

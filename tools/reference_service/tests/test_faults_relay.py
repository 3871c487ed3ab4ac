"""Relay faults for the client's hostile-relay and reconnection tests."""
import socket
import struct

import pytest

from support import admin, b64, fault, grant, http_request, icmp_echo_request, relay_path, WsClient, wait_until


@pytest.fixture
def relay(svc):
    data = grant(svc.port)
    ws = WsClient(svc.port, relay_path(data["connectionId"]))
    assert ws.status == 101
    yield ws, data
    ws.close()


def test_close_relays_ends_every_relay_connection(svc, relay):
    ws, data = relay
    assert fault(svc.port, "close-relays") == {"closed": 1}
    assert ws.closed_by_server()
    ended = wait_until(lambda: admin(svc.port, "state")["relay"]["ended"])
    assert ended[0]["closeReason"] == "closed by admin fault"
    again = WsClient(svc.port, relay_path(data["connectionId"]))
    assert again.status == 101, "the connection itself stays granted"
    again.close()


def test_close_relays_with_abort_resets_the_connection(svc, relay):
    ws, _ = relay
    fault(svc.port, "close-relays", abort=True)
    ws.sock.settimeout(3.0)
    with pytest.raises(ConnectionResetError):
        ws.sock.recv(10)


def test_refuse_upgrades_for_n_attempts(svc):
    data = grant(svc.port)
    fault(svc.port, "refuse-upgrades", count=2, status=503)
    statuses = []
    for _ in range(3):
        ws = WsClient(svc.port, relay_path(data["connectionId"]))
        statuses.append(ws.status)
        ws.close()
    assert statuses == [503, 503, 101]
    attempts = admin(svc.port, "state")["relay"]["upgradeAttempts"]
    assert [a["status"] for a in attempts] == [503, 503, 101]
    assert attempts[0]["time"] <= attempts[1]["time"] <= attempts[2]["time"]


def test_send_close_frame(svc, relay):
    ws, _ = relay
    fault(svc.port, "send-close-frame", code=1001, reason="bye", closeAfterMs=200)
    fin, opcode, payload = ws.recv_frame()
    assert (fin, opcode) == (True, 0x8) and payload == struct.pack("!H", 1001) + b"bye"
    assert ws.closed_by_server(2.0)


def test_send_oversized_frame_announces_4_mib_plus_one(svc, relay):
    ws, _ = relay
    data = fault(svc.port, "send-oversized-frame")
    assert ws.recv_header() == (True, 0x2, False, 4 * 1024 * 1024 + 1)
    assert data["headerBase64"] == b64(bytes([0x82, 0x7F]) + struct.pack("!Q", 4194305))


def test_send_raw_bytes_reach_the_client_unchanged(svc, relay):
    ws, _ = relay
    raw = bytes([0x82, 0x83, 1, 2, 3, 4, 0xAA, 0xBB, 0xCC])  # a masked server frame
    fault(svc.port, "send-raw", base64=b64(raw), closeAfter=True)
    ws.sock.settimeout(2.0)
    received = b""
    while len(received) < len(raw):
        chunk = ws.sock.recv(100)
        if not chunk:
            break
        received += chunk
    assert received == raw
    assert ws.closed_by_server()


def test_raw_upgrade_response_replaces_the_handshake_answer(svc):
    data = grant(svc.port)
    fault(svc.port, "raw-upgrade-response", base64=b64(b"HTTP/1.1 200 OK\r\n"), closeAfterMs=100)
    sock = socket.create_connection(("127.0.0.1", svc.port), timeout=2)
    try:
        sock.sendall(f"GET {relay_path(data['connectionId'])} HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\n"
                     "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                     "Sec-WebSocket-Version: 13\r\n\r\n".encode())
        received = b""
        for _ in range(100):
            chunk = sock.recv(1000)
            if not chunk:
                break
            received += chunk
        assert received == b"HTTP/1.1 200 OK\r\n"
    finally:
        sock.close()
    assert admin(svc.port, "state")["relay"]["upgradeAttempts"][-1]["status"] == "raw"


def test_faults_without_a_relay_are_refused(svc):
    import json
    status, _, body = http_request(svc.port, "POST", "/admin/fault", json.dumps({"name": "send-close-frame"}).encode())
    assert json.loads(body)["code"] == "NO_RELAY"
    status, _, body = http_request(svc.port, "POST", "/admin/fault", json.dumps({"name": "no-such"}).encode())
    assert json.loads(body)["code"] == "UNKNOWN_FAULT"


def test_send_packet_pushes_a_packet_to_the_client(svc, relay):
    ws, data = relay
    packet = icmp_echo_request("192.168.1.3", data["assignedAddress"])
    assert admin(svc.port, "send-packet", {"base64": b64(packet)}) == {
        "connectionId": data["connectionId"], "via": "ws"}
    assert ws.recv_binary() == packet

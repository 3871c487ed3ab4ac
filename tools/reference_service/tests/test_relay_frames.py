"""How the relay reads client frames: fragments, empty and text messages, and the
protocol errors that make it close the connection."""
import struct

import pytest

from support import admin, grant, icmp_echo_request, relay_path, WsClient, wait_until


@pytest.fixture
def relay(svc):
    data = grant(svc.port, target="192.168.1.0/24")
    ws = WsClient(svc.port, relay_path(data["connectionId"]))
    assert ws.status == 101
    yield ws, data
    ws.close()


def session(svc):
    state = admin(svc.port, "state")["relay"]
    return (state["live"] + state["ended"])[-1]


def test_fragmented_binary_message_is_one_packet(svc, relay):
    ws, data = relay
    packet = icmp_echo_request(data["assignedAddress"], "192.168.1.7")
    ws.send_frame(0x2, packet[:10], fin=False)
    ws.send_frame(0x0, packet[10:30], fin=False)
    ws.send_frame(0x9, b"p")  # control frames may come between fragments
    ws.send_frame(0x0, packet[30:], fin=True)
    assert ws.recv_frame() == (True, 0xA, b"p")
    reply = ws.recv_binary()
    assert reply[12:16] == bytes([192, 168, 1, 7])
    s = session(svc)
    assert s["messagesIn"] == 1 and s["fragmentedMessagesIn"] == 1 and s["framesIn"] == 4


def test_empty_and_text_messages_are_ignored(svc, relay):
    ws, _ = relay
    ws.send_frame(0x2, b"")
    ws.send_frame(0x1, b"hello")
    s = wait_until(lambda: (x := session(svc))["framesIn"] == 2 and x)
    assert s["emptyMessagesIn"] == 1 and s["textMessagesIn"] == 1 and s["messagesIn"] == 0
    assert s["live"] is True


@pytest.mark.parametrize("frame, reason", [
    (lambda ws: ws.send_frame(0x2, b"x", mask=False), "unmasked client frame"),
    (lambda ws: ws.send_frame(0x2, b"x", rsv=4), "reserved bits 4 set"),
    (lambda ws: ws.send_frame(0x3, b"x"), "unknown opcode 3"),
    (lambda ws: ws.send_frame(0x9, b"x", fin=False), "fragmented or long control frame"),
    (lambda ws: ws.send_frame(0x0, b"x"), "continuation frame without a message"),
    (lambda ws: ws.sock.sendall(bytes([0x82, 0xFF]) + struct.pack("!Q", 1 << 63)),
     "64-bit length with the top bit set"),
])
def test_protocol_errors_close_with_1002(svc, relay, frame, reason):
    ws, _ = relay
    frame(ws)
    fin, opcode, payload = ws.recv_frame()
    assert opcode == 0x8 and struct.unpack("!H", payload[:2])[0] == 1002
    assert ws.closed_by_server()
    s = wait_until(lambda: (x := session(svc))["live"] is False and x)
    assert s["protocolErrors"] == [reason]


def test_frame_above_4_mib_closes_with_1009(svc, relay):
    ws, _ = relay
    ws.sock.sendall(bytes([0x82, 0xFF]) + struct.pack("!Q", 4 * 1024 * 1024 + 1))
    fin, opcode, payload = ws.recv_frame()
    assert opcode == 0x8 and struct.unpack("!H", payload[:2])[0] == 1009
    assert ws.closed_by_server()


def test_close_frame_is_answered_and_the_connection_ends(svc, relay):
    ws, _ = relay
    ws.send_frame(0x8, struct.pack("!H", 1000))
    fin, opcode, payload = ws.recv_frame()
    assert opcode == 0x8
    assert ws.closed_by_server()
    assert wait_until(lambda: session(svc)["closeReason"] == "close frame received")

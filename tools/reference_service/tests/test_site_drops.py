"""Packets that a real site would not answer get no reply, and the packet log says why."""
import socket
import struct
import time

import pytest

from support import admin, grant, icmp_echo_request, ipv4, relay_path, tcp_syn, udp_packet, WsClient


@pytest.fixture
def relay(svc):
    data = grant(svc.port, target="192.168.1.0/24")
    ws = WsClient(svc.port, relay_path(data["connectionId"]))
    assert ws.status == 101
    yield ws, data["assignedAddress"]
    ws.close()


def corrupt(packet: bytes, offset: int) -> bytes:
    return packet[:offset] + bytes([packet[offset] ^ 0x01]) + packet[offset + 1:]


def fragment_of(packet: bytes) -> bytes:
    header = bytearray(packet[:20])
    header[6:8] = struct.pack("!H", 0x2000)  # more fragments
    header[10:12] = b"\0\0"
    total = 0
    for i in range(0, 20, 2):
        total += int.from_bytes(header[i:i + 2], "big")
    while total > 0xFFFF:
        total = (total & 0xFFFF) + (total >> 16)
    header[10:12] = struct.pack("!H", 0xFFFF - total)
    return bytes(header) + packet[20:]


CASES = [
    ("outside routes", lambda t: icmp_echo_request(t, "10.20.0.5"), "destination outside the granted routes"),
    ("wrong source", lambda t: icmp_echo_request("100.64.99.99", "192.168.1.5"), "source is not the tunnel address"),
    ("bad IP checksum", lambda t: corrupt(icmp_echo_request(t, "192.168.1.5"), 10), "bad IPv4 header checksum"),
    ("bad ICMP checksum", lambda t: corrupt(icmp_echo_request(t, "192.168.1.5"), 30), "bad ICMP checksum"),
    ("bad UDP checksum", lambda t: corrupt(udp_packet(t, "192.168.1.5", 1, 2, b"abc"), 30), "bad UDP checksum"),
    ("echo reply", lambda t: ipv4(t, "192.168.1.5", 1, bytes([0, 0, 0xFF, 0xFF, 0, 0, 0, 0])), "ICMP type 0 code 0"),
    ("tcp", lambda t: tcp_syn(t, "192.168.1.5"), "TCP is not answered by the simulated site"),
    ("fragment", lambda t: fragment_of(udp_packet(t, "192.168.1.5", 1, 2, b"abc")), "fragment"),
    ("not ipv4", lambda t: b"\x60" + bytes(39), "malformed (not IPv4)"),
]


@pytest.mark.parametrize("name, build, reason", CASES, ids=[c[0] for c in CASES])
def test_packet_is_dropped_with_a_reason(svc, relay, name, build, reason):
    ws, tunnel = relay
    ws.send_frame(0x2, build(tunnel))
    ws.send_frame(0x2, icmp_echo_request(tunnel, "192.168.1.9", seq=9))  # a marker that is answered
    reply = ws.recv_binary()
    assert socket.inet_ntoa(reply[16:20]) == tunnel and socket.inet_ntoa(reply[12:16]) == "192.168.1.9"
    log = [p for p in admin(svc.port, "packets") if p["direction"] == "in"]
    assert log[0]["verdict"] == "dropped: " + reason
    assert log[1]["verdict"] == "icmp-echo"


def test_silent_address_and_reply_delay_from_the_scenario(svc):
    scenario = admin(svc.port, "scenario")
    scenario["site"] = {"silentAddresses": ["192.168.1.66"], "replyDelayMs": 300}
    admin(svc.port, "scenario", scenario)
    data = grant(svc.port)
    ws = WsClient(svc.port, relay_path(data["connectionId"]))
    try:
        tunnel = data["assignedAddress"]
        ws.send_frame(0x2, icmp_echo_request(tunnel, "192.168.1.66"))
        started = time.monotonic()
        ws.send_frame(0x2, icmp_echo_request(tunnel, "192.168.1.67"))
        reply = ws.recv_binary()
        assert time.monotonic() - started >= 0.25
        assert reply[12:16] == bytes([192, 168, 1, 67])
    finally:
        ws.close()

"""The simulated site answers ICMP echo requests and echoes UDP datagrams for every
address inside the granted routes. Every checksum of its replies is verified here with
a checksum routine of this file's own."""
import socket

import pytest

from support import grant, icmp_echo_request, relay_path, udp_packet, WsClient


def ones_complement_total(data: bytes) -> int:
    """Adds the data as 16-bit big-endian words with end-around carry, byte by byte."""
    total = 0
    for index in range(0, len(data), 2):
        high = data[index]
        low = data[index + 1] if index + 1 < len(data) else 0
        total += (high << 8) | low
        if total > 0xFFFF:
            total = (total & 0xFFFF) + 1
    return total


def verifies(data: bytes) -> bool:
    """A block carrying its own correct checksum sums to 0xFFFF."""
    return ones_complement_total(data) == 0xFFFF


def check_ipv4_header(packet: bytes, src: str, dst: str, proto: int) -> bytes:
    assert packet[0] == 0x45
    total = int.from_bytes(packet[2:4], "big")
    assert total == len(packet)
    assert verifies(packet[:20]), "IPv4 header checksum"
    assert packet[9] == proto
    assert socket.inet_ntoa(packet[12:16]) == src and socket.inet_ntoa(packet[16:20]) == dst
    assert packet[8] > 0
    return packet[20:]


@pytest.fixture
def relay(svc):
    data = grant(svc.port)
    ws = WsClient(svc.port, relay_path(data["connectionId"]))
    assert ws.status == 101
    yield ws, data["assignedAddress"]
    ws.close()


def test_checksum_routine_of_this_file_agrees_with_rfc1071_example():
    # RFC 1071's example words 0001 f203 f4f5 f6f7 sum to ddf2 (one's complement).
    assert ones_complement_total(bytes.fromhex("0001f203f4f5f6f7")) == 0xDDF2
    assert verifies(bytes.fromhex("0001f203f4f5f6f7") + (0xFFFF - 0xDDF2).to_bytes(2, "big"))


@pytest.mark.parametrize("target", ["192.168.1.1", "192.168.1.254", "10.20.0.0", "10.20.255.255", "10.20.3.4"])
def test_icmp_echo_is_answered_from_the_target(relay, target):
    ws, tunnel = relay
    data = bytes(range(56))
    ws.send_frame(0x2, icmp_echo_request(tunnel, target, ident=0x1F2E, seq=77, data=data))
    reply = ws.recv_binary()
    icmp = check_ipv4_header(reply, target, tunnel, 1)
    assert icmp[0] == 0 and icmp[1] == 0, "echo reply, code 0"
    assert verifies(icmp), "ICMP checksum"
    assert int.from_bytes(icmp[4:6], "big") == 0x1F2E and int.from_bytes(icmp[6:8], "big") == 77
    assert icmp[8:] == data


@pytest.mark.parametrize("size", [0, 1, 7, 100, 1322, 4000])
def test_udp_is_echoed_with_ports_swapped(relay, size):
    ws, tunnel = relay
    payload = bytes((i * 7 + 1) & 0xFF for i in range(size))
    ws.send_frame(0x2, udp_packet(tunnel, "192.168.1.20", 50000, 9999, payload))
    reply = ws.recv_binary()
    segment = check_ipv4_header(reply, "192.168.1.20", tunnel, 17)
    assert int.from_bytes(segment[0:2], "big") == 9999 and int.from_bytes(segment[2:4], "big") == 50000
    assert int.from_bytes(segment[4:6], "big") == len(segment) == 8 + size
    assert int.from_bytes(segment[6:8], "big") != 0, "the site always computes the UDP checksum"
    pseudo = reply[12:20] + bytes([0, 17]) + len(segment).to_bytes(2, "big")
    assert verifies(pseudo + segment), "UDP checksum over the pseudo-header"
    assert segment[8:] == payload


def test_udp_without_checksum_is_accepted(relay):
    ws, tunnel = relay
    ws.send_frame(0x2, udp_packet(tunnel, "10.20.1.1", 1234, 53, b"q", checksum=False))
    reply = ws.recv_binary()
    assert reply[-1:] == b"q"

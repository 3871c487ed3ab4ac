"""The TUN bridge's two sides: the stand-in's opens, packets and injections over loopback UDP,
and the TUN device, here one end of a datagram socket pair that keeps packet boundaries."""
import json
import os
import socket
import struct
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))

from tun_bridge import BATCH_BYTES, MAGIC, Bridge, batch_datagrams, filter_ranges, selected  # noqa: E402

FILTER = ("outbound and ip and !impostor and (icmp or tcp or udp) and ((ip.DstAddr >= 10.20.0.0 and "
          "ip.DstAddr <= 10.20.255.255) or (ip.DstAddr >= 100.80.0.0 and ip.DstAddr <= 100.80.0.255))")
INTERFACE = 7


def ipv4(dst: str, protocol: int = 17, src: str = "192.168.1.50", version: int = 4) -> bytes:
    header = struct.pack("!BBHHHBBH4s4s", (version << 4) | 5, 0, 28, 1, 0, 64, protocol, 0,
                         socket.inet_aton(src), socket.inet_aton(dst))
    return header + bytes(8)


def open_datagram(handle: int, flags: int, text: str) -> bytes:
    return MAGIC + bytes([1]) + struct.pack("!IBhQ", handle, 0, -300, flags) + text.encode()


def inject_datagram(handle: int, interface: int, outbound: int, packet: bytes) -> bytes:
    return MAGIC + bytes([4]) + struct.pack("!IIIB", handle, interface, 0, outbound) + packet


@pytest.fixture
def rig():
    kernel, device = socket.socketpair(socket.AF_UNIX, socket.SOCK_DGRAM)
    device.setblocking(False)
    kernel.settimeout(0.5)
    bridge = Bridge(device.fileno(), INTERFACE, 0)
    standin = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    standin.bind(("127.0.0.1", 0))
    standin.settimeout(0.5)

    def to_bridge(data: bytes) -> None:
        bridge.on_datagram(data, standin.getsockname())

    def pump() -> None:
        bridge.on_tun_readable()

    yield bridge, kernel, standin, to_bridge, pump
    standin.close()
    bridge.sock.close()
    kernel.close()
    device.close()


def received(sock: socket.socket):
    try:
        return sock.recv(70000)
    except OSError:
        return None


def test_filter_ranges_are_read_from_the_tunnel_filter():
    assert filter_ranges(FILTER) == [(0x0A140000, 0x0A14FFFF), (0x64500000, 0x645000FF)]
    assert filter_ranges("false") == []


def test_only_ipv4_icmp_tcp_udp_to_a_range_is_selected():
    ranges = filter_ranges(FILTER)
    assert selected(ipv4("100.80.0.10", 1), ranges) and selected(ipv4("10.20.3.4", 6), ranges)
    assert not selected(ipv4("100.80.1.10"), ranges)
    assert not selected(ipv4("10.20.0.10", 2), ranges)  # IGMP
    assert not selected(ipv4("10.20.0.10", version=6), ranges)
    assert not selected(b"\x45" * 10, ranges)


def test_opens_are_accepted_and_the_capture_handle_gets_the_selected_packets(rig):
    bridge, kernel, standin, to_bridge, pump = rig
    to_bridge(open_datagram(1, 0, FILTER))
    assert received(standin) == MAGIC + bytes([2]) + struct.pack("!IB", 1, 1)
    to_bridge(open_datagram(2, 8, "false"))  # the send-only injection handle
    assert received(standin) == MAGIC + bytes([2]) + struct.pack("!IB", 2, 1)
    assert bridge.capture.handle == 1

    wanted = ipv4("100.80.0.10")
    kernel.send(ipv4("192.168.1.7"))  # the engineer's own LAN: not diverted
    kernel.send(wanted)
    pump()
    assert received(standin) == MAGIC + bytes([3]) + struct.pack("!II", INTERFACE, 0) + wanted
    assert received(standin) is None
    assert bridge.stats["diverted"] == 1 and bridge.stats["notDiverted"] == 1


def test_packets_waiting_together_go_to_the_stand_in_as_one_batch(rig):
    bridge, kernel, standin, to_bridge, pump = rig
    to_bridge(open_datagram(1, 0, FILTER))
    received(standin)
    wanted = [ipv4("100.80.0.10"), ipv4("10.20.0.1"), ipv4("10.20.0.2")]
    for packet in [wanted[0], ipv4("192.168.1.7"), *wanted[1:]]:
        kernel.send(packet)
    pump()
    records = b"".join(struct.pack("!IIH", INTERFACE, 0, len(p)) + p for p in wanted)
    assert received(standin) == MAGIC + bytes([6]) + records
    assert received(standin) is None
    assert bridge.stats["diverted"] == 3


def test_a_batch_larger_than_one_datagram_is_split_without_losing_a_packet():
    packets = [bytes([i]) * 1400 for i in range(100)]
    datagrams = batch_datagrams(packets, INTERFACE)
    assert len(datagrams) > 1
    assert sum(count for _, count in datagrams) == 100
    assert all(len(datagram) <= BATCH_BYTES for datagram, _ in datagrams)
    joined = b"".join(datagram[5:] for datagram, _ in datagrams)
    assert joined == b"".join(struct.pack("!IIH", INTERFACE, 0, 1400) + p for p in packets)


def test_inbound_injections_on_the_tun_reach_the_kernel_and_others_do_not(rig):
    bridge, kernel, standin, to_bridge, pump = rig
    reply = ipv4("192.168.1.50", src="100.80.0.10")
    to_bridge(inject_datagram(2, INTERFACE, 0, reply))
    assert received(kernel) == reply
    to_bridge(inject_datagram(2, INTERFACE, 1, reply))      # put back outbound
    to_bridge(inject_datagram(2, INTERFACE + 1, 0, reply))  # another interface
    assert received(kernel) is None
    assert bridge.stats["injectedInbound"] == 1
    assert bridge.stats["injectedOutbound"] == 1 and bridge.stats["injectedOnOtherInterface"] == 1


def test_closing_the_capture_handle_ends_the_diversion(rig):
    bridge, kernel, standin, to_bridge, pump = rig
    to_bridge(open_datagram(1, 0, FILTER))
    received(standin)
    to_bridge(MAGIC + bytes([5]) + struct.pack("!I", 1))
    kernel.send(ipv4("10.20.0.10"))
    pump()
    assert received(standin) is None and bridge.capture is None


def test_counters_are_answered_as_json(rig):
    bridge, kernel, standin, to_bridge, pump = rig
    to_bridge(open_datagram(1, 0, FILTER))
    received(standin)
    to_bridge(b"STATS")
    state = json.loads(received(standin))
    assert state["captureFilter"] == FILTER and state["interfaceIndex"] == INTERFACE
    assert state["stats"]["opens"] == 1 and state["opens"][0]["priority"] == -300

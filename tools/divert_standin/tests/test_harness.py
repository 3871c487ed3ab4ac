"""The demo's harness for the WinDivert stand-in, driven the way the stand-in DLL drives it."""
import os
import queue
import signal
import socket
import struct
import subprocess
import sys
import threading
import time

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
HARNESS = os.path.join(os.path.dirname(HERE), "harness.py")
PYTHON = "/usr/bin/python3"
sys.path.insert(0, os.path.join(HERE, "..", "..", "reference_service"))

from refsvc.packets import (  # noqa: E402
    PROTO_ICMP, addr_to_int, build_icmp, build_ipv4, internet_checksum, parse_icmp, parse_ipv4)

MAGIC = b"SDV1"
FILTER = ("outbound and ip and !impostor and (icmp or tcp or udp) and "
          "((ip.DstAddr >= 100.80.1.0 and ip.DstAddr <= 100.80.1.255) or "
          "(ip.DstAddr >= 10.20.0.0 and ip.DstAddr <= 10.20.255.255))")


class HarnessProcess:
    def __init__(self, *args):
        self.process = subprocess.Popen([PYTHON, HARNESS, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        text=True)
        self.lines = queue.Queue()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        ready = self.lines.get(timeout=10)
        assert ready.startswith("ready 127.0.0.1:"), ready
        self.port = int(ready.rsplit(":", 1)[1])
        self.log = []

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line.rstrip("\n"))

    def wait_for_line(self, text, timeout=5.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                line = self.lines.get(timeout=max(0.01, deadline - time.monotonic()))
            except queue.Empty:
                break
            self.log.append(line)
            if text in line:
                return line
        raise AssertionError(f"no line with {text!r} in {self.log}")

    def remaining_lines(self):
        """Everything printed after the lines already waited for, once the process has ended."""
        self.reader.join(timeout=5)
        rest = []
        while not self.lines.empty():
            rest.append(self.lines.get_nowait())
        return rest

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            return self.process.wait(timeout=5)
        finally:
            if self.process.poll() is None:
                self.process.kill()
                self.process.wait(timeout=5)


class StandIn:
    """The DLL's side: one loopback UDP socket per handle."""

    def __init__(self, port):
        self.harness = ("127.0.0.1", port)
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.settimeout(2.0)

    def open(self, handle, flags=0, filter_text=FILTER, layer=0, priority=0):
        self.sock.sendto(MAGIC + bytes([1]) + struct.pack("!IBhQ", handle, layer, priority, flags)
                         + filter_text.encode(), self.harness)
        return self.sock.recvfrom(100)

    def next_packet(self, timeout=2.0):
        self.sock.settimeout(timeout)
        data, _ = self.sock.recvfrom(70000)
        assert data[:5] == MAGIC + bytes([3])
        interface, sub_interface = struct.unpack_from("!II", data, 5)
        return interface, sub_interface, data[13:]

    def no_packet_within(self, seconds):
        self.sock.settimeout(seconds)
        try:
            data, _ = self.sock.recvfrom(70000)
        except socket.timeout:
            return True
        raise AssertionError(f"unexpected datagram {data!r}")

    def drain(self):
        self.sock.settimeout(0.05)
        try:
            while True:
                self.sock.recvfrom(70000)
        except socket.timeout:
            pass

    def inject(self, handle, packet, outbound=False, interface=1):
        self.sock.sendto(MAGIC + bytes([4]) + struct.pack("!IIIB", handle, interface, 0, int(outbound)) + packet,
                         self.harness)

    def close(self, handle):
        self.sock.sendto(MAGIC + bytes([5]) + struct.pack("!I", handle), self.harness)


@pytest.fixture
def harness_factory():
    started = []

    def start(*args):
        process = HarnessProcess(*args)
        started.append(process)
        return process

    yield start
    for process in started:
        assert process.stop() == 0


def echo_reply_for(request_packet):
    ip = parse_ipv4(request_packet)
    icmp = parse_icmp(ip.payload)
    return build_ipv4(ip.dst, ip.src, PROTO_ICMP, build_icmp(0, 0, icmp.rest))


def test_open_is_accepted_with_an_answer_to_its_sender(harness_factory):
    harness = harness_factory()
    standin = StandIn(harness.port)
    answer, sender = standin.open(7, filter_text="false", flags=0x8, priority=-3)
    assert answer == MAGIC + bytes([2]) + struct.pack("!IB", 7, 1)
    assert sender == standin.harness
    line = harness.wait_for_line("open handle=7")
    assert "(injection)" in line and "priority=-3" in line and "flags=0x8" in line and "filter=false" in line


def test_pings_go_to_the_capture_handle_with_valid_checksums(harness_factory):
    harness = harness_factory("--ping-every", "0.1")
    standin = StandIn(harness.port)
    standin.open(1)
    interface, sub_interface, packet = standin.next_packet()
    assert (interface, sub_interface) == (1, 0)
    ip = parse_ipv4(packet)
    assert internet_checksum(packet[:ip.header_length]) == 0
    assert ip.src == addr_to_int("192.0.2.100")
    assert ip.dst == addr_to_int("100.80.1.10")  # the filter's first network, address + 10
    assert ip.protocol == PROTO_ICMP
    icmp = parse_icmp(ip.payload)
    assert icmp.type == 8 and icmp.code == 0 and icmp.checksum_ok
    _, _, second = standin.next_packet()
    assert struct.unpack_from("!H", parse_icmp(parse_ipv4(second).payload).rest, 2)[0] == \
        struct.unpack_from("!H", icmp.rest, 2)[0] + 1


def test_injection_handles_get_no_pings(harness_factory):
    harness = harness_factory("--ping-every", "0.1")
    standin = StandIn(harness.port)
    standin.open(2, flags=0x8, filter_text="false")
    assert standin.no_packet_within(0.5)


def test_a_fixed_target_overrides_the_filter(harness_factory):
    harness = harness_factory("--ping-every", "0.1", "--ping-target", "10.20.3.4", "--source", "10.0.0.9")
    standin = StandIn(harness.port)
    standin.open(1)
    ip = parse_ipv4(standin.next_packet()[2])
    assert (ip.src, ip.dst) == (addr_to_int("10.0.0.9"), addr_to_int("10.20.3.4"))


def test_injected_echo_reply_is_logged_as_the_tunnel_answer(harness_factory):
    harness = harness_factory("--ping-every", "0.2")
    standin = StandIn(harness.port)
    standin.open(1)
    _, _, request = standin.next_packet()
    standin.inject(2, echo_reply_for(request))
    line = harness.wait_for_line("inject handle=2")
    assert "inbound if=1.0 ICMP echo reply 100.80.1.10 -> 192.0.2.100" in line
    assert "tunnel answered in" in line
    assert harness.stop() == 0
    rest = harness.remaining_lines()
    assert "1 echo replies came back through the tunnel" in rest[-1], rest


def test_a_reply_to_no_ping_of_ours_is_logged_without_a_time(harness_factory):
    harness = harness_factory()
    standin = StandIn(harness.port)
    stray = build_ipv4(addr_to_int("10.20.0.1"), addr_to_int("10.0.0.2"), PROTO_ICMP,
                       build_icmp(0, 0, struct.pack("!HH", 0x1234, 5) + b"x"))
    standin.inject(3, stray, outbound=True)
    line = harness.wait_for_line("inject handle=3")
    assert "outbound" in line and "ICMP echo reply 10.20.0.1 -> 10.0.0.2 id=0x1234 seq=5" in line
    assert "tunnel answered" not in line


def test_close_stops_the_pings(harness_factory):
    harness = harness_factory("--ping-every", "0.1")
    standin = StandIn(harness.port)
    standin.open(1)
    standin.next_packet()
    standin.close(1)
    harness.wait_for_line("close handle=1")
    standin.drain()
    assert standin.no_packet_within(0.5)


def test_malformed_datagrams_are_ignored(harness_factory):
    harness = harness_factory()
    standin = StandIn(harness.port)
    standin.sock.sendto(b"xx", standin.harness)
    standin.sock.sendto(MAGIC + bytes([9]) + b"\0" * 8, standin.harness)
    standin.sock.sendto(MAGIC + bytes([1]) + b"\0" * 3, standin.harness)  # an open that is too short
    standin.inject(1, b"\x45\x00")
    harness.wait_for_line("unreadable packet of 2 bytes")
    answer, _ = standin.open(4)
    assert answer[4] == 2 and answer[-1] == 1


def test_ends_when_the_parent_ends(harness_factory):
    parent = subprocess.Popen(["sleep", "30"])
    harness = harness_factory("--parent-pid", str(parent.pid))
    parent.kill()
    parent.wait(timeout=5)
    assert harness.process.wait(timeout=5) == 0
    harness.wait_for_line(f"parent {parent.pid} has ended")

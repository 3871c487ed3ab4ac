#!/usr/bin/python3
"""Harness for the WinDivert stand-in DLL, for the demo: accepts every open, logs what the
client injects and, with --ping-every, sends ICMP echo requests into the newest capture handle,
so that the tunnel carries traffic to the site and back.

The stand-in finds the harness through OSTREVANE_DIVERT_HARNESS=127.0.0.1:PORT; the wire format
is in standin_protocol.h beside this file. Prints "ready 127.0.0.1:PORT" on stdout when it
listens, then one line per event. SIGTERM or SIGINT ends it with exit code 0."""
from __future__ import annotations

import argparse
import os
import re
import signal
import socket
import struct
import sys
import time
from dataclasses import dataclass, field

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "reference_service"))

from refsvc.packets import (  # noqa: E402
    PROTO_ICMP, PROTO_UDP, PacketError, addr_to_int, build_icmp, build_ipv4, int_to_addr, parse_icmp, parse_ipv4,
    parse_udp)

MAGIC = b"SDV1"
KIND_OPEN, KIND_OPENED, KIND_PACKET, KIND_INJECT, KIND_CLOSE = 1, 2, 3, 4, 5
FLAG_SEND_ONLY = 0x0008
ICMP_ECHO_REPLY, ICMP_ECHO_REQUEST = 0, 8
PING_IDENTIFIER = 0x4F56
PING_INTERFACE = 1
DEFAULT_SOURCE = "192.0.2.100"  # a documentation address: what a local program would send from
RANGE_CLAUSE = re.compile(r"ip\.DstAddr >= (\d+\.\d+\.\d+\.\d+) and ip\.DstAddr <= (\d+\.\d+\.\d+\.\d+)")


@dataclass
class OpenHandle:
    handle: int
    address: tuple[str, int]
    flags: int
    filter: str


@dataclass
class Harness:
    sock: socket.socket
    source: int
    target: int | None  # fixed ping target, or None: taken from the capture filter
    handles: dict[int, OpenHandle] = field(default_factory=dict)
    sequence: int = 0
    sent_at: dict[int, float] = field(default_factory=dict)
    replies: int = 0

    def capture_handle(self) -> OpenHandle | None:
        captures = [h for h in self.handles.values() if not h.flags & FLAG_SEND_ONLY]
        return max(captures, key=lambda h: h.handle) if captures else None

    def receive(self, data: bytes, sender: tuple[str, int]) -> None:
        if len(data) < 5 or data[:4] != MAGIC:
            log(f"ignored datagram of {len(data)} bytes")
            return
        kind = data[4]
        if kind == KIND_OPEN and len(data) >= 20:
            handle, layer, priority, flags = struct.unpack_from("!IBhQ", data, 5)
            text = data[20:].decode("utf-8", "replace")
            self.handles[handle] = OpenHandle(handle, sender, flags, text)
            self.sock.sendto(MAGIC + bytes([KIND_OPENED]) + struct.pack("!IB", handle, 1), sender)
            role = "injection" if flags & FLAG_SEND_ONLY else "capture"
            log(f"open handle={handle} ({role}) layer={layer} priority={priority} flags=0x{flags:x} filter={text}")
        elif kind == KIND_INJECT and len(data) >= 18:
            handle, interface, sub_interface, outbound = struct.unpack_from("!IIIB", data, 5)
            packet = data[18:]
            direction = "outbound" if outbound else "inbound"
            log(f"inject handle={handle} {direction} if={interface}.{sub_interface} {self.describe(packet)}")
        elif kind == KIND_CLOSE and len(data) >= 9:
            (handle,) = struct.unpack_from("!I", data, 5)
            self.handles.pop(handle, None)
            log(f"close handle={handle}")
        else:
            log(f"ignored datagram of kind {kind} and {len(data)} bytes")

    def describe(self, packet: bytes) -> str:
        try:
            ip = parse_ipv4(packet)
            route = f"{int_to_addr(ip.src)} -> {int_to_addr(ip.dst)}"
            if ip.protocol == PROTO_ICMP:
                icmp = parse_icmp(ip.payload)
                if icmp.type == ICMP_ECHO_REPLY and len(icmp.rest) >= 4:
                    identifier, sequence = struct.unpack_from("!HH", icmp.rest)
                    text = f"ICMP echo reply {route} id=0x{identifier:04x} seq={sequence}"
                    sent = self.sent_at.pop(sequence, None) if identifier == PING_IDENTIFIER else None
                    if sent is not None:
                        self.replies += 1
                        text += f": tunnel answered in {(time.monotonic() - sent) * 1000:.0f} ms"
                    return text
                return f"ICMP type {icmp.type} {route}"
            if ip.protocol == PROTO_UDP:
                udp = parse_udp(ip.payload)
                return f"UDP {route} ports {udp.src_port}->{udp.dst_port} {len(udp.data)} bytes"
            return f"protocol {ip.protocol} {route} {len(packet)} bytes"
        except PacketError as error:
            return f"unreadable packet of {len(packet)} bytes ({error})"

    def ping_target(self, capture: OpenHandle) -> int | None:
        if self.target is not None:
            return self.target
        match = RANGE_CLAUSE.search(capture.filter)
        if not match:
            return None
        first, last = addr_to_int(match.group(1)), addr_to_int(match.group(2))
        return first + 10 if first + 10 <= last else first

    def ping(self) -> None:
        capture = self.capture_handle()
        target = self.ping_target(capture) if capture else None
        if capture is None or target is None:
            return
        self.sequence = (self.sequence + 1) & 0xFFFF
        payload = b"ostrevane-demo-ping"
        request = build_icmp(ICMP_ECHO_REQUEST, 0, struct.pack("!HH", PING_IDENTIFIER, self.sequence) + payload)
        packet = build_ipv4(self.source, target, PROTO_ICMP, request, identification=self.sequence)
        datagram = MAGIC + bytes([KIND_PACKET]) + struct.pack("!II", PING_INTERFACE, 0) + packet
        self.sock.sendto(datagram, capture.address)
        self.sent_at[self.sequence] = time.monotonic()
        log(f"ping {int_to_addr(self.source)} -> {int_to_addr(target)} id=0x{PING_IDENTIFIER:04x} seq={self.sequence}")


def log(text: str) -> None:
    print(f"[{time.strftime('%H:%M:%S')}] {text}", flush=True)


def parse_args(argv: list[str]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--port", type=int, default=0, help="UDP port on 127.0.0.1 (default 0: a free one)")
    parser.add_argument("--ping-every", type=float, default=0.0,
                        help="seconds between echo requests while a capture handle is open (0: none)")
    parser.add_argument("--ping-target", help="address to ping (default: the first network of the capture "
                                              "filter, its address + 10)")
    parser.add_argument("--source", default=DEFAULT_SOURCE, help=f"source of the echo requests ({DEFAULT_SOURCE})")
    parser.add_argument("--parent-pid", type=int, default=0, help="end when this process has ended")
    args = parser.parse_args(argv)
    if not 0 <= args.port <= 65535 or args.ping_every < 0:
        parser.error("bad --port or --ping-every")
    return args


def main(argv: list[str]) -> int:
    args = parse_args(argv)
    stop = False

    def request_stop(_signum, _frame):
        nonlocal stop
        stop = True

    signal.signal(signal.SIGTERM, request_stop)
    signal.signal(signal.SIGINT, request_stop)

    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("127.0.0.1", args.port))
    harness = Harness(sock, addr_to_int(args.source), addr_to_int(args.ping_target) if args.ping_target else None)
    print(f"ready 127.0.0.1:{sock.getsockname()[1]}", flush=True)

    next_ping = time.monotonic() + args.ping_every
    while not stop:
        if args.parent_pid and not process_alive(args.parent_pid):
            log(f"parent {args.parent_pid} has ended")
            break
        now = time.monotonic()
        if args.ping_every and now >= next_ping:
            harness.ping()
            next_ping = now + args.ping_every
        wait = min(0.5, max(0.01, next_ping - now)) if args.ping_every else 0.5
        sock.settimeout(wait)
        try:
            data, sender = sock.recvfrom(70000)
        except (socket.timeout, InterruptedError):
            continue
        harness.receive(data, sender)
    log(f"stopped; {harness.replies} echo replies came back through the tunnel")
    sock.close()
    return 0


def process_alive(pid: int) -> bool:
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    return True


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

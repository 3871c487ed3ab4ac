#!/usr/bin/python3
"""Bridges a Linux TUN device to the WinDivert stand-in, so that ordinary programs in the
TUN's network namespace talk through the client under Wine.

The bridge plays the stand-in's harness (wire format in tools/divert_standin/standin_protocol.h):
it accepts every open, remembers the newest capture handle and its filter, hands each packet
that the kernel routes into the TUN and that the filter selects to that handle as an outbound
packet of the TUN's interface, and writes every packet that the client injects inbound back
into the TUN, where the kernel delivers it to the program that waits for it. Packets that the
client puts back outbound are counted and dropped: nothing lies beyond the TUN.

Usage: tun_bridge.py --tun DEVICE[@NETNS] [--port N]
Prints "ready port=N" when it listens on 127.0.0.1:N (UDP). A datagram "STATS" to that port is
answered with the counters as JSON (`tun_bridge.py --query N` prints them). SIGTERM and SIGINT
end it.
"""
from __future__ import annotations

import argparse
import ipaddress
import json
import os
import re
import selectors
import signal
import socket
import struct
import sys
from collections import Counter
from dataclasses import dataclass, field
from typing import Optional

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "reference_service"))

from refsvc import tun  # noqa: E402

MAGIC = b"SDV1"
KIND_OPEN, KIND_OPENED, KIND_PACKET, KIND_INJECT, KIND_CLOSE, KIND_PACKETS = 1, 2, 3, 4, 5, 6
BATCH_BYTES = 60000  # what one PACKETS datagram carries at most (a UDP datagram holds 65507)
FLAG_SEND_ONLY = 8
STATS_REQUEST = b"STATS"
DIVERTED_PROTOCOLS = (1, 6, 17)
RANGE_PATTERN = re.compile(r"ip\.DstAddr >= (\d+\.\d+\.\d+\.\d+) and ip\.DstAddr <= (\d+\.\d+\.\d+\.\d+)")


def filter_ranges(text: str) -> list[tuple[int, int]]:
    """The destination ranges of a tunnel filter ("... (ip.DstAddr >= A and ip.DstAddr <= B) or ...")."""
    return [(int(ipaddress.IPv4Address(a)), int(ipaddress.IPv4Address(b))) for a, b in RANGE_PATTERN.findall(text)]


def selected(packet: bytes, ranges: list[tuple[int, int]]) -> bool:
    """What the tunnel's filter diverts: outbound IPv4 ICMP, TCP or UDP to one of its ranges."""
    if len(packet) < 20 or packet[0] >> 4 != 4 or packet[9] not in DIVERTED_PROTOCOLS:
        return False
    destination = struct.unpack_from("!I", packet, 16)[0]
    return any(first <= destination <= last for first, last in ranges)


@dataclass
class CaptureHandle:
    handle: int
    address: tuple[str, int]
    filter: str
    ranges: list[tuple[int, int]] = field(default_factory=list)


class Bridge:
    def __init__(self, tun_fd: int, interface_index: int, port: int):
        self.tun_fd = tun_fd
        self.interface_index = interface_index
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", port))
        self.sock.setblocking(False)
        for option in (socket.SO_RCVBUF, socket.SO_SNDBUF):
            self.sock.setsockopt(socket.SOL_SOCKET, option, 4 * 1024 * 1024)
        self.port = self.sock.getsockname()[1]
        self.capture: Optional[CaptureHandle] = None
        self.opens: list[dict] = []
        self.stats: Counter = Counter()

    # --- stand-in side ----------------------------------------------------------------
    def on_datagram(self, data: bytes, sender: tuple[str, int]) -> None:
        if data == STATS_REQUEST:
            self.sock.sendto(json.dumps(self.snapshot()).encode(), sender)
            return
        if len(data) < 5 or data[:4] != MAGIC:
            self.stats["ignored"] += 1
            return
        kind = data[4]
        if kind == KIND_OPEN and len(data) >= 20:
            self.on_open(data, sender)
        elif kind == KIND_INJECT and len(data) >= 18:
            self.on_inject(data)
        elif kind == KIND_CLOSE and len(data) >= 9:
            handle = struct.unpack_from("!I", data, 5)[0]
            self.stats["closes"] += 1
            if self.capture is not None and self.capture.handle == handle:
                self.capture = None
        else:
            self.stats["ignored"] += 1

    def on_open(self, data: bytes, sender: tuple[str, int]) -> None:
        handle, layer, priority, flags = struct.unpack_from("!IBhQ", data, 5)
        text = data[20:].decode("utf-8", "replace")
        self.opens.append({"handle": handle, "layer": layer, "priority": priority, "flags": flags, "filter": text})
        self.stats["opens"] += 1
        if not flags & FLAG_SEND_ONLY:
            self.capture = CaptureHandle(handle, sender, text, filter_ranges(text))
        self.sock.sendto(MAGIC + bytes([KIND_OPENED]) + struct.pack("!IB", handle, 1), sender)

    def on_inject(self, data: bytes) -> None:
        _handle, interface, _sub_interface, outbound = struct.unpack_from("!IIIB", data, 5)
        packet = data[18:]
        if outbound:
            self.stats["injectedOutbound"] += 1  # put back unchanged: nothing lies beyond the TUN
            return
        if interface != self.interface_index:
            self.stats["injectedOnOtherInterface"] += 1
            return
        if tun.write_packet(self.tun_fd, packet):
            self.stats["injectedInbound"] += 1
        else:
            self.stats["injectRefusedByTun"] += 1

    # --- kernel side -------------------------------------------------------------------
    def on_tun_readable(self) -> None:
        capture = self.capture
        waiting = tun.read_packets(self.tun_fd)
        chosen = []
        for packet in waiting:
            if capture is None or not selected(packet, capture.ranges):
                self.stats["notDiverted"] += 1
            else:
                chosen.append(packet)
        if capture is not None:
            for datagram, count in batch_datagrams(chosen, self.interface_index):
                try:
                    self.sock.sendto(datagram, capture.address)
                    self.stats["diverted"] += count
                except OSError:
                    self.stats["divertFailed"] += count

    def snapshot(self) -> dict:
        return {"port": self.port, "interfaceIndex": self.interface_index,
                "captureFilter": self.capture.filter if self.capture else None,
                "opens": self.opens[-10:], "stats": dict(self.stats)}


def batch_datagrams(packets: list[bytes], interface: int) -> list[tuple[bytes, int]]:
    """The packets that were waiting together, as the driver would queue them: a lone packet as a
    PACKET datagram, several as PACKETS datagrams of at most BATCH_BYTES; with each its count."""
    if len(packets) == 1:
        return [(MAGIC + bytes([KIND_PACKET]) + struct.pack("!II", interface, 0) + packets[0], 1)]
    datagrams: list[tuple[bytes, int]] = []
    records: list[bytes] = []
    size = 5
    for packet in packets:
        record = struct.pack("!IIH", interface, 0, len(packet)) + packet
        if records and size + len(record) > BATCH_BYTES:
            datagrams.append((MAGIC + bytes([KIND_PACKETS]) + b"".join(records), len(records)))
            records, size = [], 5
        records.append(record)
        size += len(record)
    if records:
        datagrams.append((MAGIC + bytes([KIND_PACKETS]) + b"".join(records), len(records)))
    return datagrams


def query(port: int) -> int:
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.settimeout(2.0)
    try:
        sock.sendto(STATS_REQUEST, ("127.0.0.1", port))
        print(sock.recv(65535).decode())
        return 0
    except OSError as exc:
        print(f"tun_bridge: no answer on port {port}: {exc}", file=sys.stderr)
        return 1
    finally:
        sock.close()


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description="TUN device to WinDivert stand-in bridge")
    parser.add_argument("--tun", help="TUN device, DEVICE or DEVICE@NETNS")
    parser.add_argument("--port", type=int, default=0, help="UDP port on 127.0.0.1 (0: a free one)")
    parser.add_argument("--query", type=int, metavar="PORT", help="print the counters of a running bridge")
    args = parser.parse_args(argv)
    if args.query is not None:
        return query(args.query)
    if not args.tun:
        parser.error("--tun is required")
    device, netns = tun.parse_tun_spec(args.tun)
    fd = tun.open_tun(device, netns)
    with tun.in_network_namespace(netns):
        interface_index = socket.if_nametoindex(device)
    bridge = Bridge(fd, interface_index, args.port)

    stop = False

    def request_stop(_signum, _frame) -> None:
        nonlocal stop
        stop = True

    signal.signal(signal.SIGTERM, request_stop)
    signal.signal(signal.SIGINT, request_stop)
    selector = selectors.DefaultSelector()
    selector.register(fd, selectors.EVENT_READ, "tun")
    selector.register(bridge.sock, selectors.EVENT_READ, "sock")
    print(f"ready port={bridge.port} interface={interface_index}", flush=True)
    while not stop:
        for key, _ in selector.select(timeout=0.5):
            if key.data == "tun":
                bridge.on_tun_readable()
                continue
            for _ in range(256):
                try:
                    data, sender = bridge.sock.recvfrom(70000)
                except BlockingIOError:
                    break
                bridge.on_datagram(data, sender)
    selector.close()
    bridge.sock.close()
    os.close(fd)
    print(json.dumps(bridge.snapshot()["stats"]), file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

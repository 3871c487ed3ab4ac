"""The site end of the relay.

A backend receives each IPv4 packet that an engineer's client sent through the relay
and hands the site's answers to `deliver`. The simulated site below answers ICMP echo
requests and echoes UDP datagrams for every address inside the connection's routes;
another backend (a real network behind a TUN device) can take its place as long as it
keeps the same three methods: `TunSite` is one.
"""
from __future__ import annotations

import asyncio
import ipaddress
import os
from collections import Counter
from typing import Callable, Optional

from . import packets as P
from . import tun
from .connections import Connection
from .scenario import SiteSettings

Deliver = Callable[[Connection, bytes], None]
SettingsSource = Callable[[], SiteSettings]


class SiteBackend:
    """Interface of a site, built with the `deliver` callback and a source of the
    scenario's site settings. `packet_from_client` returns a short verdict for the
    packet log ("icmp-echo", "udp-echo", "forwarded", or "dropped: <reason>").
    `stats` (a Counter) is shown by the admin state."""

    stats: Counter
    _settings: SettingsSource

    async def start(self) -> None:
        pass

    async def stop(self) -> None:
        pass

    def reset(self) -> None:
        """Forgets counters; called by the admin reset."""

    def packet_from_client(self, connection: Connection, packet: bytes) -> str:
        raise NotImplementedError

    def _drop(self, reason: str) -> str:
        self.stats["dropped:" + reason] += 1
        return "dropped: " + reason

    def _refuse_addresses(self, connection: Connection, ip: P.IPv4Packet) -> Optional[str]:
        """The drop verdict for a packet that the connection may not send to the site, or None."""
        if ip.src_text != connection.assigned_address:
            return self._drop("source is not the tunnel address")
        destination = ipaddress.IPv4Address(ip.dst)
        if not connection.routes_contain(destination):
            return self._drop("destination outside the granted routes")
        if str(destination) in self._settings().silent_addresses:
            return self._drop("silent address")
        return None


class SimulatedSite(SiteBackend):
    def __init__(self, deliver: Deliver, settings: SettingsSource):
        self._deliver = deliver
        self._settings = settings
        self._identification = 0
        self.stats: Counter = Counter()
        self._pending: set[asyncio.TimerHandle] = set()

    async def stop(self) -> None:
        for handle in self._pending:
            handle.cancel()
        self._pending.clear()

    def reset(self) -> None:
        self.stats.clear()

    def packet_from_client(self, connection: Connection, packet: bytes) -> str:
        try:
            ip = P.parse_ipv4(packet)
        except P.PacketError as exc:
            return self._drop(f"malformed ({exc})")
        if not ip.header_checksum_ok():
            return self._drop("bad IPv4 header checksum")
        if ip.is_fragment:
            return self._drop("fragment")
        refused = self._refuse_addresses(connection, ip)
        if refused is not None:
            return refused
        if ip.protocol == P.PROTO_ICMP:
            reply, verdict = self._icmp(ip)
        elif ip.protocol == P.PROTO_UDP:
            reply, verdict = self._udp(ip)
        elif ip.protocol == P.PROTO_TCP:
            return self._drop("TCP is not answered by the simulated site")
        else:
            return self._drop(f"protocol {ip.protocol}")
        if reply is None:
            return self._drop(verdict)
        self.stats[verdict] += 1
        self._send_later(connection, reply)
        return verdict

    def _next_identification(self) -> int:
        self._identification = (self._identification + 1) & 0xFFFF
        return self._identification

    def _icmp(self, ip: P.IPv4Packet) -> tuple[Optional[bytes], str]:
        try:
            icmp = P.parse_icmp(ip.payload)
        except P.PacketError:
            return None, "short ICMP message"
        if not icmp.checksum_ok:
            return None, "bad ICMP checksum"
        if icmp.type != 8 or icmp.code != 0:
            return None, f"ICMP type {icmp.type} code {icmp.code}"
        reply = P.build_icmp(0, 0, icmp.rest)  # same identifier, sequence and data
        return P.build_ipv4(ip.dst, ip.src, P.PROTO_ICMP, reply,
                            identification=self._next_identification()), "icmp-echo"

    def _udp(self, ip: P.IPv4Packet) -> tuple[Optional[bytes], str]:
        try:
            udp = P.parse_udp(ip.payload)
        except P.PacketError:
            return None, "malformed UDP header"
        if not P.udp_checksum_ok(ip.src, ip.dst, ip.payload[:udp.length]):
            return None, "bad UDP checksum"
        segment = P.build_udp(ip.dst, ip.src, udp.dst_port, udp.src_port, udp.data)
        return P.build_ipv4(ip.dst, ip.src, P.PROTO_UDP, segment,
                            identification=self._next_identification()), "udp-echo"

    def _send_later(self, connection: Connection, reply: bytes) -> None:
        delay = self._settings().reply_delay_ms
        if delay <= 0:
            self._deliver(connection, reply)
            return
        loop = asyncio.get_running_loop()

        def fire() -> None:
            self._pending.discard(handle)
            self._deliver(connection, reply)

        handle = loop.call_later(delay / 1000.0, fire)
        self._pending.add(handle)


class TunSite(SiteBackend):
    """A real network behind a Linux TUN device: packets from the client are written into the
    device, and whatever the kernel routes back into it goes to the connection whose tunnel
    address is the destination. The device (and its namespace, addresses and routes) is set
    up by whoever runs the service; the backend only owns the descriptor."""

    def __init__(self, deliver: Deliver, settings: SettingsSource, device: str, netns: Optional[str] = None):
        self._deliver = deliver
        self._settings = settings
        self.device = device
        self.netns = netns
        self._fd: Optional[int] = None
        self._by_address: dict[int, Connection] = {}  # tunnel address -> its connection
        self.stats: Counter = Counter()

    async def start(self) -> None:
        self._fd = tun.open_tun(self.device, self.netns)
        asyncio.get_running_loop().add_reader(self._fd, self._readable)

    async def stop(self) -> None:
        if self._fd is not None:
            asyncio.get_running_loop().remove_reader(self._fd)
            os.close(self._fd)
            self._fd = None

    def reset(self) -> None:
        self.stats.clear()
        self._by_address.clear()

    def packet_from_client(self, connection: Connection, packet: bytes) -> str:
        try:
            ip = P.parse_ipv4(packet)
        except P.PacketError as exc:
            return self._drop(f"malformed ({exc})")
        refused = self._refuse_addresses(connection, ip)
        if refused is not None:
            return refused
        if self._fd is None or not tun.write_packet(self._fd, ip.raw):
            return self._drop("TUN device refused the packet")
        self._by_address[ip.src] = connection
        self.stats["forwarded"] += 1
        return "forwarded"

    def _readable(self) -> None:
        if self._fd is None:
            return
        for packet in tun.read_packets(self._fd):
            try:
                ip = P.parse_ipv4(packet)
            except P.PacketError:
                self.stats["fromSite.dropped:malformed"] += 1
                continue
            connection = self._by_address.get(ip.dst)
            if connection is None or connection.ended:
                self.stats["fromSite.dropped:no connection"] += 1
                continue
            self.stats["fromSite"] += 1
            self._deliver(connection, ip.raw)


# Backends by the name given to --site. Each is built as Backend(deliver, settings).
SITE_BACKENDS: dict[str, Callable[[Deliver, SettingsSource], SiteBackend]] = {
    "simulated": SimulatedSite,
}
TUN_PREFIX = "tun:"


def site_backend_factory(spec: str) -> Callable[[Deliver, SettingsSource], SiteBackend]:
    """The backend named by --site: a name of SITE_BACKENDS, or "tun:DEVICE" / "tun:DEVICE@NETNS"
    for a real network behind a TUN device. Raises ValueError for anything else."""
    if spec in SITE_BACKENDS:
        return SITE_BACKENDS[spec]
    if spec.startswith(TUN_PREFIX):
        device, netns = tun.parse_tun_spec(spec[len(TUN_PREFIX):])
        return lambda deliver, settings: TunSite(deliver, settings, device, netns)
    raise ValueError(f"unknown site {spec!r}: one of {', '.join(sorted(SITE_BACKENDS))} or tun:DEVICE[@NETNS]")

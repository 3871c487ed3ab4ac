"""The site end of the relay.

A backend receives each IPv4 packet that an engineer's client sent through the relay
and hands the site's answers to `deliver`. The simulated site below answers ICMP echo
requests and echoes UDP datagrams for every address inside the connection's routes;
another backend (a real network behind a TUN device) can take its place as long as it
keeps the same three methods.
"""
from __future__ import annotations

import asyncio
import ipaddress
from collections import Counter
from typing import Callable, Optional

from . import packets as P
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

    async def start(self) -> None:
        pass

    async def stop(self) -> None:
        pass

    def reset(self) -> None:
        """Forgets counters; called by the admin reset."""

    def packet_from_client(self, connection: Connection, packet: bytes) -> str:
        raise NotImplementedError


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

    def _drop(self, reason: str) -> str:
        self.stats["dropped:" + reason] += 1
        return "dropped: " + reason

    def packet_from_client(self, connection: Connection, packet: bytes) -> str:
        try:
            ip = P.parse_ipv4(packet)
        except P.PacketError as exc:
            return self._drop(f"malformed ({exc})")
        if not ip.header_checksum_ok():
            return self._drop("bad IPv4 header checksum")
        if ip.src_text != connection.assigned_address:
            return self._drop("source is not the tunnel address")
        if ip.is_fragment:
            return self._drop("fragment")
        destination = ipaddress.IPv4Address(ip.dst)
        if not connection.routes_contain(destination):
            return self._drop("destination outside the granted routes")
        if str(destination) in self._settings().silent_addresses:
            return self._drop("silent address")
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


# Backends by the name given to --site. Each is built as Backend(deliver, settings).
SITE_BACKENDS: dict[str, Callable[[Deliver, SettingsSource], SiteBackend]] = {
    "simulated": SimulatedSite,
}

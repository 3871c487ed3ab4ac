"""Granted connections and the tunnel address pool."""
from __future__ import annotations

import ipaddress
import secrets
from dataclasses import dataclass, field
from typing import Callable, Optional

from .scenario import Device


@dataclass
class UdpPathState:
    token: int = 0
    address: Optional[tuple[str, int]] = None
    last_ack_at: Optional[float] = None
    token_issued_at: Optional[float] = None
    renew_token: bool = False  # set when a new relay opens: the next hello gets a new token


@dataclass
class Connection:
    connection_id: str
    device_number: str
    device_key: str
    engineer_id: str
    target_network: str
    assigned_address: str
    routes: list[str]
    route_networks: list[ipaddress.IPv4Network]
    created_at: float
    ended: bool = False
    ended_at: Optional[float] = None
    end_reason: Optional[str] = None
    end_engineer_id: Optional[str] = None
    udp: UdpPathState = field(default_factory=UdpPathState)

    def routes_contain(self, address: ipaddress.IPv4Address) -> bool:
        return any(address in net for net in self.route_networks)


class AddressPool:
    """Hands out host addresses of the pool, skipping the network address, the first
    host (kept for the service side) and the broadcast address."""

    def __init__(self, network: ipaddress.IPv4Network):
        self.network = network
        self._first = int(network.network_address) + 2
        self._last = int(network.broadcast_address) - 1
        self._next = self._first
        self._used: set[int] = set()

    def allocate(self) -> Optional[str]:
        span = self._last - self._first + 1
        for _ in range(span):
            candidate = self._next
            self._next = self._first if self._next >= self._last else self._next + 1
            if candidate not in self._used:
                self._used.add(candidate)
                return str(ipaddress.IPv4Address(candidate))
        return None

    def release(self, address: str) -> None:
        self._used.discard(int(ipaddress.IPv4Address(address)))


def select_routes(device: Device, target: str) -> tuple[list[str], str]:
    """The granted routes and the effective target: only the requested network when the
    device shares it, otherwise every shared network ("ALL")."""
    text = target.strip()
    try:
        wanted = ipaddress.IPv4Network(text, strict=False) if "/" in text else None
    except ValueError:
        wanted = None
    if wanted is not None:
        for shared_text, shared in zip(device.shared_networks, device.networks):
            if shared == wanted:
                return [shared_text], shared_text
    return list(device.shared_networks), "ALL"


class ConnectionRegistry:
    def __init__(self, pool_network: ipaddress.IPv4Network, preset_ids: list[str],
                 clock: Callable[[], float]):
        self.pool = AddressPool(pool_network)
        self._preset_ids = list(preset_ids)
        self._clock = clock
        self.by_id: dict[str, Connection] = {}

    def _new_id(self) -> str:
        while self._preset_ids:
            candidate = self._preset_ids.pop(0)
            if candidate not in self.by_id:
                return candidate
        while True:
            candidate = "c-" + secrets.token_hex(8)
            if candidate not in self.by_id:
                return candidate

    def live_for_device(self, device_number: str) -> int:
        return sum(1 for c in self.by_id.values() if c.device_number == device_number and not c.ended)

    def grant(self, device: Device, engineer_id: str, target: str) -> Optional[Connection]:
        address = self.pool.allocate()
        if address is None:
            return None
        routes, effective = select_routes(device, target)
        networks = [ipaddress.IPv4Network(r, strict=False) for r in routes]
        connection = Connection(connection_id=self._new_id(), device_number=device.device_number,
                                device_key=device.access_key, engineer_id=engineer_id,
                                target_network=effective, assigned_address=address,
                                routes=routes, route_networks=networks, created_at=self._clock())
        self.by_id[connection.connection_id] = connection
        return connection

    def get(self, connection_id: str) -> Optional[Connection]:
        return self.by_id.get(connection_id)

    def live(self, connection_id: str) -> Optional[Connection]:
        connection = self.by_id.get(connection_id)
        return connection if connection is not None and not connection.ended else None

    def end(self, connection: Connection, reason: str, engineer_id: str) -> None:
        if connection.ended:
            return
        connection.ended = True
        connection.ended_at = self._clock()
        connection.end_reason = reason
        connection.end_engineer_id = engineer_id
        connection.udp = UdpPathState()
        self.pool.release(connection.assigned_address)

    def by_token(self, token: int) -> Optional[Connection]:
        if token == 0:
            return None
        for connection in self.by_id.values():
            if connection.udp.token == token and not connection.ended:
                return connection
        return None

    def all_tokens(self) -> set[int]:
        return {c.udp.token for c in self.by_id.values() if c.udp.token}

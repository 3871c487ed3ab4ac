"""The UDP relay: "OVU1" datagrams on the same port number as the HTTP service.

hello (kind 2):  magic, 2, u16 length + connection id, u16 length + engineer id
ack   (kind 3):  magic, 3, role 2, u64 token             (exactly 14 bytes)
data  (kind 4):  magic, 4, u64 token, one IPv4 packet
"""
from __future__ import annotations

import asyncio
import secrets
import struct
from collections import Counter, deque
from typing import TYPE_CHECKING, Optional

if TYPE_CHECKING:
    from .app import Service
    from .connections import Connection

MAGIC = b"OVU1"
KIND_HELLO = 2
KIND_ACK = 3
KIND_DATA = 4
ROLE_CLIENT = 2
DATA_HEADER = 13
MAX_REPLY_PACKET = 1350
MAX_CLIENT_DATAGRAM = 1363


class DatagramError(ValueError):
    pass


def parse_hello(datagram: bytes) -> tuple[str, str]:
    """The connection id and engineer id of a hello; the whole datagram must be used."""
    pos = 5
    texts = []
    for _ in range(2):
        if len(datagram) < pos + 2:
            raise DatagramError("hello is truncated")
        (length,) = struct.unpack_from("!H", datagram, pos)
        pos += 2
        if len(datagram) < pos + length:
            raise DatagramError("hello is truncated")
        try:
            texts.append(datagram[pos:pos + length].decode("utf-8"))
        except UnicodeDecodeError as exc:
            raise DatagramError("hello text is not UTF-8") from exc
        pos += length
    if pos != len(datagram):
        raise DatagramError("hello has trailing bytes")
    return texts[0], texts[1]


def build_hello(connection_id: str, engineer_id: str) -> bytes:
    out = bytearray(MAGIC + bytes([KIND_HELLO]))
    for text in (connection_id, engineer_id):
        raw = text.encode("utf-8")[:0xFFFF]
        out += struct.pack("!H", len(raw)) + raw
    return bytes(out)


def build_ack(token: int, role: int = ROLE_CLIENT) -> bytes:
    return MAGIC + bytes([KIND_ACK, role]) + struct.pack("!Q", token)


def build_data(token: int, packet: bytes) -> bytes:
    return MAGIC + bytes([KIND_DATA]) + struct.pack("!Q", token) + packet


def token_text(token: int) -> str:
    return str(token)


class UdpRelay(asyncio.DatagramProtocol):
    def __init__(self, service: "Service"):
        self.service = service
        self.transport: Optional[asyncio.DatagramTransport] = None
        self.stats: Counter = Counter()
        self.hellos: deque = deque(maxlen=500)
        self.last_client_address: Optional[tuple[str, int]] = None

    def connection_made(self, transport) -> None:
        self.transport = transport

    def reset(self) -> None:
        self.stats.clear()
        self.hellos.clear()
        self.last_client_address = None

    # --- incoming ------------------------------------------------------------------
    def datagram_received(self, data: bytes, addr) -> None:
        self.stats["datagramsIn"] += 1
        if self.service.faults.udp_silent:
            self.stats["droppedWhileSilent"] += 1
            return
        if len(data) < 5 or data[:4] != MAGIC:
            self.stats["malformed"] += 1
            return
        kind = data[4]
        if kind == KIND_HELLO:
            self._hello(data, addr)
        elif kind == KIND_DATA:
            self._data(data, addr)
        else:
            self.stats["unknownKind"] += 1

    def _hello(self, data: bytes, addr) -> None:
        self.stats["hellos"] += 1
        now = self.service.clock()
        entry = {"time": round(now, 6), "address": f"{addr[0]}:{addr[1]}", "answered": False,
                 "lengthBytes": len(data)}
        self.hellos.append(entry)
        try:
            connection_id, engineer_id = parse_hello(data)
        except DatagramError as exc:
            self.stats["malformedHellos"] += 1
            entry["reason"] = str(exc)
            return
        entry.update(connectionId=connection_id, engineerId=engineer_id)
        connection = self.service.connections.live(connection_id)
        if connection is None:
            self.stats["unknownHellos"] += 1
            entry["reason"] = "unknown or ended connection"
            return
        entry["engineerIdMatches"] = engineer_id == connection.engineer_id
        if self.service.faults.ignore_hellos.take():
            self.stats["ignoredHellos"] += 1
            entry["reason"] = "ignored by fault"
            return
        udp = connection.udp
        address = (addr[0], addr[1])
        if udp.token == 0 or udp.renew_token or udp.address != address:
            udp.token = self._new_token()
            udp.token_issued_at = now
            udp.renew_token = False
            self.stats["tokensIssued"] += 1
        udp.address = address
        udp.last_ack_at = now
        self.last_client_address = address
        self._send(build_ack(udp.token), address)
        self.stats["acksSent"] += 1
        entry.update(answered=True, token=token_text(udp.token))

    def _data(self, data: bytes, addr) -> None:
        if len(data) <= DATA_HEADER:
            self.stats["emptyData"] += 1
            return
        (token,) = struct.unpack_from("!Q", data, 5)
        connection = self.service.connections.by_token(token)
        if connection is None:
            self.stats["dataBadToken"] += 1
            return
        if len(data) > MAX_CLIENT_DATAGRAM:
            self.stats["oversizeDataIn"] += 1
        self.stats["dataIn"] += 1
        self.last_client_address = (addr[0], addr[1])
        self.service.router.packet_from_client(connection, data[DATA_HEADER:], "udp")

    def _new_token(self) -> int:
        used = self.service.connections.all_tokens()
        while True:
            token = secrets.randbits(64)
            if token and token not in used:
                return token

    # --- outgoing ------------------------------------------------------------------
    def fresh(self, connection: "Connection") -> bool:
        udp = connection.udp
        return (udp.token != 0 and udp.address is not None and udp.last_ack_at is not None
                and self.service.clock() - udp.last_ack_at <= self.service.config.udp_fresh_seconds)

    def send_data(self, connection: "Connection", packet: bytes) -> bool:
        if self.service.faults.udp_silent or len(packet) > MAX_REPLY_PACKET or not self.fresh(connection):
            return False
        self._send(build_data(connection.udp.token, packet), connection.udp.address)
        self.stats["dataOut"] += 1
        return True

    def send_raw(self, data: bytes, address: tuple[str, int]) -> None:
        self._send(data, address)
        self.stats["rawOut"] += 1

    def _send(self, data: bytes, address) -> None:
        if self.transport is not None and not self.transport.is_closing():
            self.transport.sendto(data, address)

    def to_json(self) -> dict:
        paths = []
        now = self.service.clock()
        for connection in self.service.connections.by_id.values():
            udp = connection.udp
            if udp.token or udp.address:
                paths.append({"connectionId": connection.connection_id,
                              "token": token_text(udp.token), "tokenHex": f"{udp.token:016x}",
                              "address": f"{udp.address[0]}:{udp.address[1]}" if udp.address else None,
                              "lastAckAgeSeconds": None if udp.last_ack_at is None
                              else round(now - udp.last_ack_at, 6),
                              "fresh": self.fresh(connection)})
        last = self.last_client_address
        return {"stats": dict(self.stats), "paths": paths, "hellos": list(self.hellos),
                "lastClientAddress": f"{last[0]}:{last[1]}" if last else None}

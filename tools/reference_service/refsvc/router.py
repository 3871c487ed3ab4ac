"""Moves packets between the engineer's client (WebSocket or UDP) and the site, and
keeps a short log of what came in and how the answers went out."""
from __future__ import annotations

import base64
from collections import Counter, deque
from typing import TYPE_CHECKING

from .packets import PROTO_UDP

if TYPE_CHECKING:
    from .app import Service
    from .connections import Connection

PACKET_LOG = 1000


def _is_udp(packet: bytes) -> bool:
    return len(packet) >= 20 and packet[0] >> 4 == 4 and packet[9] == PROTO_UDP


class PacketRouter:
    def __init__(self, service: "Service"):
        self.service = service
        self.stats: Counter = Counter()
        self.log: deque = deque(maxlen=PACKET_LOG)
        self._seq = 0

    def reset(self) -> None:
        self.stats.clear()
        self.log.clear()

    def _log(self, direction: str, connection: "Connection", packet: bytes, via: str) -> dict:
        self._seq += 1
        entry = {"seq": self._seq, "time": round(self.service.clock(), 6),
                 "direction": direction, "connectionId": connection.connection_id,
                 "via": via, "length": len(packet), "verdict": None,
                 "base64": base64.b64encode(packet).decode("ascii")}
        self.log.append(entry)
        return entry

    def packet_from_client(self, connection: "Connection", packet: bytes, via: str) -> None:
        self.stats[f"fromClient.{via}"] += 1
        entry = self._log("in", connection, packet, via)  # before the site answers
        if connection.ended:
            entry["verdict"] = "dropped: connection ended"
            return
        entry["verdict"] = self.service.site.packet_from_client(connection, packet)

    def deliver(self, connection: "Connection", packet: bytes, via: str = "auto") -> str:
        """Sends a site packet to the client: UDP replies that fit go as datagrams while
        the client's UDP path is fresh, everything else over the WebSocket."""
        sent = "dropped"
        if via in ("auto", "udp") and (via == "udp" or _is_udp(packet)) \
                and self.service.udp.send_data(connection, packet):
            sent = "udp"
        elif via in ("auto", "ws"):
            session = self.service.relays.session_for(connection.connection_id)
            if session is not None and session.send_packet(packet):
                sent = "ws"
        self.stats[f"toClient.{sent}"] += 1
        self._log("out", connection, packet, sent)
        return sent

    def to_json(self) -> dict:
        return {"stats": dict(self.stats), "site": dict(getattr(self.service.site, "stats", {}))}

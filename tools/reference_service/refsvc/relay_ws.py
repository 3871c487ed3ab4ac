"""The WebSocket relay: upgrade at /api/relay/client/<connection id>?engineerId=<id>,
then one binary message per IPv4 packet in each direction.

The upgrade response comes from aiohttp, but the frames after it are read and written
here, so that every frame the client sends (mask bit, fragments, pongs) is visible and
so that tests can make the relay misbehave on purpose.
"""
from __future__ import annotations

import asyncio
import base64
import socket
import struct
from collections import deque
from typing import TYPE_CHECKING, Optional
from urllib.parse import parse_qs, unquote

from aiohttp import web

from .envelope import Refusal
from .wsframes import (CLOSE_NORMAL, OP_BINARY, OP_CLOSE, OP_PING, OP_PONG, OP_TEXT, FrameError,
                       FrameParser, MessageAssembler, accept_key, build_frame, close_payload,
                       valid_client_key)

if TYPE_CHECKING:
    from .app import Service
    from .connections import Connection

RELAY_PREFIX = "/api/relay/client/"
MAX_MESSAGE = 4 * 1024 * 1024
MAX_SEND_BUFFER = 16 * 1024 * 1024
HISTORY = 200


def b64(data: bytes) -> str:
    return base64.b64encode(data).decode("ascii")


class RelaySession:
    """One accepted relay connection. Also serves as aiohttp's payload parser for the
    upgraded connection (feed_data / feed_eof)."""

    def __init__(self, service: "Service", session_id: int, connection: "Connection",
                 engineer_id: str, peer: Optional[str], transport: asyncio.Transport):
        self.service = service
        self.session_id = session_id
        self.connection = connection
        self.engineer_id = engineer_id
        self.peer = peer
        self.transport = transport
        self.opened_at = service.clock()
        self.closed_at: Optional[float] = None
        self.close_reason: Optional[str] = None
        self.done: asyncio.Future = asyncio.get_running_loop().create_future()
        self._parser = FrameParser(MAX_MESSAGE)
        self._assembler = MessageAssembler(MAX_MESSAGE)
        self._ping_seq = 0
        self.outstanding_pings: dict[bytes, float] = {}
        self.counters = {"framesIn": 0, "unmaskedFramesIn": 0, "messagesIn": 0, "bytesIn": 0,
                         "emptyMessagesIn": 0, "textMessagesIn": 0, "fragmentedMessagesIn": 0,
                         "messagesOut": 0, "bytesOut": 0, "droppedOut": 0,
                         "pingsSent": 0, "pongsReceived": 0, "pongsMatched": 0,
                         "pingsReceived": 0, "closeFramesReceived": 0}
        self.pongs: deque = deque(maxlen=50)
        self.protocol_errors: list[str] = []
        self.last_pong_at: Optional[float] = None

    # --- aiohttp payload-parser interface ------------------------------------
    def feed_data(self, data: bytes) -> tuple[bool, bytes]:
        if self.done.done() or self.transport.is_closing():
            return False, b""
        try:
            for frame in self._parser.feed(data):
                self._on_frame(frame)
                if self.transport.is_closing():
                    break
        except FrameError as exc:
            self.protocol_errors.append(exc.reason)
            self.close(f"protocol error: {exc.reason}", close_code=exc.close_code)
        return False, b""

    def feed_eof(self) -> None:
        self._finish("peer closed the connection")

    # --- incoming frames -------------------------------------------------------
    def _on_frame(self, frame) -> None:
        self.counters["framesIn"] += 1
        if not frame.masked:
            self.counters["unmaskedFramesIn"] += 1
        if frame.opcode == OP_PING:
            self.counters["pingsReceived"] += 1
            self._write(build_frame(OP_PONG, frame.payload))
            return
        if frame.opcode == OP_PONG:
            self._on_pong(frame.payload)
            return
        if frame.opcode == OP_CLOSE:
            self.counters["closeFramesReceived"] += 1
            self.close("close frame received", close_code=CLOSE_NORMAL)
            return
        if frame.opcode in (OP_BINARY, OP_TEXT) and not frame.fin:
            self.counters["fragmentedMessagesIn"] += 1
        message = self._assembler.add(frame)
        if message is None:
            return
        opcode, payload = message
        if opcode == OP_TEXT:
            self.counters["textMessagesIn"] += 1
            return
        if not payload:
            self.counters["emptyMessagesIn"] += 1
            return
        self.counters["messagesIn"] += 1
        self.counters["bytesIn"] += len(payload)
        self.service.router.packet_from_client(self.connection, payload, "ws")

    def _on_pong(self, payload: bytes) -> None:
        now = self.service.clock()
        matched = self.outstanding_pings.pop(payload, None) is not None
        self.counters["pongsReceived"] += 1
        if matched:
            self.counters["pongsMatched"] += 1
        self.last_pong_at = now
        self.pongs.append({"time": round(now, 6), "payloadBase64": b64(payload), "matched": matched})
        self.service.relays.pongs_total += 1

    # --- outgoing ----------------------------------------------------------------
    def _write(self, data: bytes) -> bool:
        if self.transport.is_closing():
            return False
        self.transport.write(data)
        return True

    def send_packet(self, packet: bytes) -> bool:
        if self.transport.get_write_buffer_size() > MAX_SEND_BUFFER or \
                not self._write(build_frame(OP_BINARY, packet)):
            self.counters["droppedOut"] += 1
            return False
        self.counters["messagesOut"] += 1
        self.counters["bytesOut"] += len(packet)
        return True

    def send_ping(self, payload: Optional[bytes] = None) -> bytes:
        if payload is None:
            self._ping_seq += 1
            payload = f"ovping-{self.session_id}-{self._ping_seq}".encode("ascii")
        if self._write(build_frame(OP_PING, payload)):
            self.outstanding_pings[payload] = self.service.clock()
            self.counters["pingsSent"] += 1
        return payload

    def send_raw(self, data: bytes) -> bool:
        return self._write(data)

    def send_close_frame(self, code: int, reason: str, close_after_ms: int) -> None:
        self._write(build_frame(OP_CLOSE, close_payload(code, reason)))
        loop = asyncio.get_running_loop()
        loop.call_later(close_after_ms / 1000.0, self.close, "close frame sent by the relay")

    def close(self, reason: str, close_code: Optional[int] = None, abort: bool = False) -> None:
        """Ends the connection: with a close frame when a code is given, with a reset
        instead of an orderly shutdown when `abort` is set."""
        if self.close_reason is None:
            self.close_reason = reason
        if close_code is not None:
            self._write(build_frame(OP_CLOSE, close_payload(close_code)))
        if abort:
            sock = self.transport.get_extra_info("socket")
            if sock is not None:  # linger 0: the close sends a reset
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.transport.abort()
        elif not self.transport.is_closing():
            self.transport.close()
        self._finish(reason)

    def _finish(self, reason: str) -> None:
        if self.close_reason is None:
            self.close_reason = reason
        if self.closed_at is None:
            self.closed_at = self.service.clock()
            self.service.relays.session_ended(self)
        if not self.done.done():
            self.done.set_result(None)

    # --- life --------------------------------------------------------------------
    async def run(self) -> None:
        """Sends pings at the configured interval until the connection ends."""
        loop = asyncio.get_running_loop()
        last_ping = loop.time()
        while not self.done.done():
            interval = self.service.config.ping_interval
            if interval > 0:
                wait = last_ping + interval - loop.time()
                if wait <= 0:
                    self.send_ping()
                    last_ping = loop.time()
                    continue
                wait = min(wait, 0.5)
            else:
                wait = 0.5
                last_ping = loop.time()
            await asyncio.wait([self.done], timeout=wait)

    def to_json(self) -> dict:
        return {"sessionId": self.session_id, "connectionId": self.connection.connection_id,
                "engineerId": self.engineer_id, "peer": self.peer,
                "openedAt": round(self.opened_at, 6),
                "closedAt": None if self.closed_at is None else round(self.closed_at, 6),
                "closeReason": self.close_reason, "live": self.closed_at is None,
                "lastPongAt": None if self.last_pong_at is None else round(self.last_pong_at, 6),
                "outstandingPings": len(self.outstanding_pings),
                "pongs": list(self.pongs), "protocolErrors": list(self.protocol_errors),
                **self.counters}


class RelayHub:
    """All relay sessions, live and ended, and every upgrade attempt."""

    def __init__(self, service: "Service"):
        self.service = service
        self.live: dict[int, RelaySession] = {}
        self.history: deque = deque(maxlen=HISTORY)
        self.attempts: deque = deque(maxlen=1000)
        self.pongs_total = 0
        self._next_id = 0

    def session_for(self, connection_id: str) -> Optional[RelaySession]:
        sessions = [s for s in self.live.values() if s.connection.connection_id == connection_id]
        return sessions[-1] if sessions else None

    def select(self, connection_id: Optional[str]) -> list[RelaySession]:
        return [s for s in self.live.values()
                if connection_id is None or s.connection.connection_id == connection_id]

    def close_connection(self, connection_id: str, reason: str) -> int:
        sessions = self.select(connection_id)
        for session in sessions:
            session.close(reason)
        return len(sessions)

    def close_all(self, reason: str) -> int:
        sessions = list(self.live.values())
        for session in sessions:
            session.close(reason)
        return len(sessions)

    def session_ended(self, session: RelaySession) -> None:
        self.live.pop(session.session_id, None)
        self.history.append(session)

    def reset(self) -> None:
        self.close_all("service reset")
        self.history.clear()
        self.attempts.clear()
        self.pongs_total = 0

    def to_json(self) -> dict:
        return {"live": [s.to_json() for s in self.live.values()],
                "ended": [s.to_json() for s in self.history],
                "upgradeAttempts": list(self.attempts),
                "pongsReceived": self.pongs_total}

    # --- the upgrade ---------------------------------------------------------------
    async def handle_upgrade(self, request: web.Request, raw_id: str, query: str) -> web.StreamResponse:
        """`raw_id` is the rest of the path after the prefix, as sent."""
        connection_id = unquote(raw_id, errors="replace")
        engineer_values = parse_qs(query, keep_blank_values=True).get("engineerId", [])
        engineer_id = engineer_values[0] if engineer_values else None
        attempt = {"time": round(self.service.clock(), 6), "connectionId": connection_id,
                   "engineerId": engineer_id, "peer": request.remote, "status": None}
        self.attempts.append(attempt)
        faults = self.service.faults

        if faults.raw_upgrade_responses:
            raw = faults.raw_upgrade_responses.pop(0)
            attempt["status"] = "raw"
            return await self._raw_answer(request, raw)
        if faults.refuse_upgrades.take():
            attempt["status"] = faults.refuse_status
            return self._refuse(Refusal("UPGRADE_REFUSED", "中继暂时拒绝连接", faults.refuse_status))

        headers = request.headers
        if request.method != "GET" or "websocket" not in headers.get("Upgrade", "").lower() \
                or "upgrade" not in headers.get("Connection", "").lower() \
                or headers.get("Sec-WebSocket-Version", "").strip() != "13" \
                or not valid_client_key(headers.get("Sec-WebSocket-Key")):
            attempt["status"] = 400
            return self._refuse(Refusal("BAD_HANDSHAKE", "WebSocket 握手请求无效", 400))
        if "/" in raw_id or not raw_id:
            attempt["status"] = 403
            return self._refuse(Refusal("CONNECTION_NOT_FOUND", "连接不存在", 403))
        connection = self.service.connections.get(connection_id)
        if connection is None or connection.ended:
            attempt["status"] = 403
            code, message = ("CONNECTION_NOT_FOUND", "连接不存在") if connection is None \
                else ("CONNECTION_ENDED", "连接已断开")
            return self._refuse(Refusal(code, message, 403))
        attempt["engineerIdMatches"] = engineer_id == connection.engineer_id

        response = web.StreamResponse(status=101, reason="Switching Protocols")
        response.headers["Upgrade"] = "websocket"
        response.headers["Connection"] = "Upgrade"
        response.headers["Sec-WebSocket-Accept"] = accept_key(headers["Sec-WebSocket-Key"])
        response.content_length = 0
        response.force_close()
        await response.prepare(request)
        attempt["status"] = 101

        for older in self.select(connection_id):
            older.close("replaced by a newer relay connection")
        self._next_id += 1
        session = RelaySession(self.service, self._next_id, connection, engineer_id or "",
                               request.remote, request.transport)
        self.live[session.session_id] = session
        attempt["sessionId"] = session.session_id
        # A client that opens a new relay negotiates its UDP path again, from a new socket: until
        # that hello is acknowledged, replies must not go to the old path's address.
        connection.udp.renew_token = True
        connection.udp.last_ack_at = None
        request.protocol.keep_alive(False)
        request.protocol.set_parser(session)
        await session.run()
        return response

    @staticmethod
    def _refuse(refusal: Refusal) -> web.Response:
        response = refusal.response()
        response.force_close()
        return response

    @staticmethod
    async def _raw_answer(request: web.Request, raw: dict) -> web.StreamResponse:
        transport = request.transport
        if transport is not None and not transport.is_closing():
            transport.write(raw["data"])
            close_after = raw.get("closeAfterMs")
            deadline = asyncio.get_running_loop().time() + \
                (close_after / 1000.0 if close_after is not None else 30.0)
            while not transport.is_closing() and asyncio.get_running_loop().time() < deadline:
                await asyncio.sleep(0.02)
            transport.close()
        return web.Response(status=500)

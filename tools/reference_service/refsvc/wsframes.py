"""WebSocket frames (RFC 6455) as the relay reads and writes them.

The relay parses client frames itself instead of leaving it to a library, so that
it can see and record everything the client sends: the mask bit, fragmentation,
pongs and protocol errors.
"""
from __future__ import annotations

import base64
import hashlib
import struct
from dataclasses import dataclass
from typing import Optional

OP_CONTINUATION = 0x0
OP_TEXT = 0x1
OP_BINARY = 0x2
OP_CLOSE = 0x8
OP_PING = 0x9
OP_PONG = 0xA

CONTROL_OPCODES = (OP_CLOSE, OP_PING, OP_PONG)
KNOWN_OPCODES = (OP_CONTINUATION, OP_TEXT, OP_BINARY) + CONTROL_OPCODES

CLOSE_NORMAL = 1000
CLOSE_PROTOCOL_ERROR = 1002
CLOSE_TOO_BIG = 1009

ACCEPT_GUID = b"258EAFA5-E914-47DA-95CA-C5AB0DC85B11"


def accept_key(client_key: str) -> str:
    digest = hashlib.sha1(client_key.strip().encode("ascii") + ACCEPT_GUID).digest()
    return base64.b64encode(digest).decode("ascii")


def valid_client_key(client_key: Optional[str]) -> bool:
    if not client_key:
        return False
    try:
        return len(base64.b64decode(client_key.strip(), validate=True)) == 16
    except ValueError:
        return False


@dataclass
class Frame:
    fin: bool
    rsv: int
    opcode: int
    masked: bool
    payload: bytes  # unmasked


class FrameError(Exception):
    def __init__(self, close_code: int, reason: str):
        super().__init__(reason)
        self.close_code = close_code
        self.reason = reason


def encode_length(length: int, mask_bit: int = 0) -> bytes:
    if length < 126:
        return bytes([mask_bit | length])
    if length <= 0xFFFF:
        return bytes([mask_bit | 126]) + struct.pack("!H", length)
    return bytes([mask_bit | 127]) + struct.pack("!Q", length)


def build_frame(opcode: int, payload: bytes = b"", *, fin: bool = True,
                mask_key: Optional[bytes] = None) -> bytes:
    """A server frame is unmasked; pass mask_key to build a client-style frame."""
    first = (0x80 if fin else 0) | opcode
    if mask_key is None:
        return bytes([first]) + encode_length(len(payload)) + payload
    masked = bytes(b ^ mask_key[i % 4] for i, b in enumerate(payload))
    return bytes([first]) + encode_length(len(payload), 0x80) + mask_key + masked


def close_payload(code: int, reason: str = "") -> bytes:
    return struct.pack("!H", code) + reason.encode("utf-8")


def _unmask(data: bytes, key: bytes) -> bytes:
    if not data:
        return b""
    repeated = (key * (len(data) // 4 + 1))[:len(data)]
    return (int.from_bytes(data, "big") ^ int.from_bytes(repeated, "big")).to_bytes(len(data), "big")


class FrameParser:
    """Incremental parser of client frames. `feed` returns the complete frames;
    violations raise FrameError with the close code the relay should send."""

    def __init__(self, max_payload: int, require_mask: bool = True):
        self.max_payload = max_payload
        self.require_mask = require_mask
        self._buffer = bytearray()

    def feed(self, data: bytes) -> list[Frame]:
        self._buffer += data
        frames = []
        while True:
            frame = self._next()
            if frame is None:
                return frames
            frames.append(frame)

    def _next(self) -> Optional[Frame]:
        buf = self._buffer
        if len(buf) < 2:
            return None
        fin = bool(buf[0] & 0x80)
        rsv = (buf[0] >> 4) & 0x07
        opcode = buf[0] & 0x0F
        masked = bool(buf[1] & 0x80)
        length = buf[1] & 0x7F
        pos = 2
        if length == 126:
            if len(buf) < 4:
                return None
            length = struct.unpack_from("!H", buf, 2)[0]
            pos = 4
        elif length == 127:
            if len(buf) < 10:
                return None
            length = struct.unpack_from("!Q", buf, 2)[0]
            pos = 10
            if length >> 63:
                raise FrameError(CLOSE_PROTOCOL_ERROR, "64-bit length with the top bit set")
        if rsv:
            raise FrameError(CLOSE_PROTOCOL_ERROR, f"reserved bits {rsv} set")
        if opcode not in KNOWN_OPCODES:
            raise FrameError(CLOSE_PROTOCOL_ERROR, f"unknown opcode {opcode}")
        if opcode in CONTROL_OPCODES and (length > 125 or not fin):
            raise FrameError(CLOSE_PROTOCOL_ERROR, "fragmented or long control frame")
        if self.require_mask and not masked:
            raise FrameError(CLOSE_PROTOCOL_ERROR, "unmasked client frame")
        if length > self.max_payload:
            raise FrameError(CLOSE_TOO_BIG, f"frame of {length} bytes is too large")
        key = b""
        if masked:
            if len(buf) < pos + 4:
                return None
            key = bytes(buf[pos:pos + 4])
            pos += 4
        if len(buf) < pos + length:
            return None
        payload = bytes(buf[pos:pos + length])
        del buf[:pos + length]
        if masked:
            payload = _unmask(payload, key)
        return Frame(fin, rsv, opcode, masked, payload)


class MessageAssembler:
    """Joins data frames into messages and checks the fragmentation rules."""

    def __init__(self, max_message: int):
        self.max_message = max_message
        self._opcode: Optional[int] = None
        self._parts: list[bytes] = []
        self._size = 0

    def add(self, frame: Frame) -> Optional[tuple[int, bytes]]:
        if frame.opcode == OP_CONTINUATION:
            if self._opcode is None:
                raise FrameError(CLOSE_PROTOCOL_ERROR, "continuation frame without a message")
        else:
            if self._opcode is not None:
                raise FrameError(CLOSE_PROTOCOL_ERROR, "new message inside a fragmented message")
            self._opcode = frame.opcode
        self._size += len(frame.payload)
        if self._size > self.max_message:
            raise FrameError(CLOSE_TOO_BIG, "message is too large")
        self._parts.append(frame.payload)
        if not frame.fin:
            return None
        message = (self._opcode, b"".join(self._parts))
        self._opcode, self._parts, self._size = None, [], 0
        return message

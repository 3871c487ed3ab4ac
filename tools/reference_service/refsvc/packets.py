"""IPv4, ICMP and UDP parsing and building for the relay and the simulated site.

Addresses are plain dotted strings at the edges and 32-bit integers inside.
"""
from __future__ import annotations

import ipaddress
import struct
from dataclasses import dataclass

PROTO_ICMP = 1
PROTO_TCP = 6
PROTO_UDP = 17


def internet_checksum(data: bytes) -> int:
    """One's-complement sum of 16-bit big-endian words, complemented."""
    if len(data) % 2:
        data += b"\x00"
    total = 0
    for (word,) in struct.iter_unpack("!H", data):
        total += word
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def addr_to_int(text: str) -> int:
    return int(ipaddress.IPv4Address(text))


def int_to_addr(value: int) -> str:
    return str(ipaddress.IPv4Address(value))


@dataclass
class IPv4Packet:
    header_length: int
    total_length: int
    identification: int
    flags_fragment: int
    ttl: int
    protocol: int
    src: int
    dst: int
    raw: bytes  # exactly total_length bytes

    @property
    def payload(self) -> bytes:
        return self.raw[self.header_length:self.total_length]

    @property
    def is_fragment(self) -> bool:
        more_fragments = self.flags_fragment & 0x2000
        offset = self.flags_fragment & 0x1FFF
        return bool(more_fragments or offset)

    @property
    def src_text(self) -> str:
        return int_to_addr(self.src)

    @property
    def dst_text(self) -> str:
        return int_to_addr(self.dst)

    def header_checksum_ok(self) -> bool:
        return internet_checksum(self.raw[:self.header_length]) == 0


class PacketError(ValueError):
    """A byte string that is not a usable IPv4 packet."""


def parse_ipv4(data: bytes) -> IPv4Packet:
    if len(data) < 20:
        raise PacketError("shorter than an IPv4 header")
    version = data[0] >> 4
    ihl = (data[0] & 0x0F) * 4
    if version != 4:
        raise PacketError("not IPv4")
    if ihl < 20 or ihl > len(data):
        raise PacketError("bad header length")
    total = struct.unpack_from("!H", data, 2)[0]
    if total < ihl or total > len(data):
        raise PacketError("bad total length")
    ident, flags_fragment, ttl, proto = struct.unpack_from("!HHBB", data, 4)
    src, dst = struct.unpack_from("!II", data, 12)
    return IPv4Packet(ihl, total, ident, flags_fragment, ttl, proto, src, dst, bytes(data[:total]))


def build_ipv4(src: int, dst: int, protocol: int, payload: bytes, *, identification: int = 0,
               ttl: int = 64) -> bytes:
    total = 20 + len(payload)
    if total > 0xFFFF:
        raise PacketError("packet too long")
    header = bytearray(struct.pack("!BBHHHBBHII", 0x45, 0, total, identification & 0xFFFF, 0,
                                   ttl, protocol, 0, src, dst))
    struct.pack_into("!H", header, 10, internet_checksum(bytes(header)))
    return bytes(header) + payload


def pseudo_header(src: int, dst: int, protocol: int, length: int) -> bytes:
    return struct.pack("!IIBBH", src, dst, 0, protocol, length)


# --- ICMP -----------------------------------------------------------------

@dataclass
class IcmpMessage:
    type: int
    code: int
    checksum_ok: bool
    rest: bytes  # everything after the 4-byte type/code/checksum


def parse_icmp(payload: bytes) -> IcmpMessage:
    if len(payload) < 8:
        raise PacketError("ICMP message too short")
    return IcmpMessage(payload[0], payload[1], internet_checksum(payload) == 0, payload[4:])


def build_icmp(icmp_type: int, code: int, rest: bytes) -> bytes:
    body = bytearray(struct.pack("!BBH", icmp_type, code, 0) + rest)
    struct.pack_into("!H", body, 2, internet_checksum(bytes(body)))
    return bytes(body)


# --- UDP ------------------------------------------------------------------

@dataclass
class UdpDatagram:
    src_port: int
    dst_port: int
    length: int
    checksum: int
    data: bytes


def parse_udp(payload: bytes) -> UdpDatagram:
    if len(payload) < 8:
        raise PacketError("UDP header too short")
    sport, dport, length, checksum = struct.unpack_from("!HHHH", payload, 0)
    if length < 8 or length > len(payload):
        raise PacketError("bad UDP length")
    return UdpDatagram(sport, dport, length, checksum, payload[8:length])


def udp_checksum_ok(src: int, dst: int, segment: bytes) -> bool:
    """A zero checksum means the sender did not compute one, which IPv4 allows."""
    if struct.unpack_from("!H", segment, 6)[0] == 0:
        return True
    return internet_checksum(pseudo_header(src, dst, PROTO_UDP, len(segment)) + segment) == 0


def build_udp(src: int, dst: int, src_port: int, dst_port: int, data: bytes) -> bytes:
    length = 8 + len(data)
    segment = bytearray(struct.pack("!HHHH", src_port, dst_port, length, 0) + data)
    checksum = internet_checksum(pseudo_header(src, dst, PROTO_UDP, length) + bytes(segment))
    struct.pack_into("!H", segment, 6, checksum or 0xFFFF)
    return bytes(segment)

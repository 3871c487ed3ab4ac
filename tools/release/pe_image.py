"""The few fields of a PE image's headers that the release build writes and checks."""
import struct
from array import array

DYNAMIC_BASE = 0x0040
HIGH_ENTROPY_VA = 0x0020
NX_COMPAT = 0x0100


class PeHeaders:
    """Offsets of the header fields inside the image bytes."""

    def __init__(self, data: bytes):
        if data[:2] != b"MZ":
            raise ValueError("not a PE image: no MZ header")
        self.pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[self.pe:self.pe + 4] != b"PE\0\0":
            raise ValueError("not a PE image: no PE signature")
        self.coff = self.pe + 4
        self.optional = self.coff + 20
        if struct.unpack_from("<H", data, self.optional)[0] != 0x20B:
            raise ValueError("not a 64-bit (PE32+) image")
        self.time_stamp_offset = self.coff + 4
        self.checksum_offset = self.optional + 64
        self.dll_characteristics_offset = self.optional + 70
        self.time_stamp = struct.unpack_from("<I", data, self.time_stamp_offset)[0]
        self.checksum = struct.unpack_from("<I", data, self.checksum_offset)[0]
        self.dll_characteristics = struct.unpack_from("<H", data, self.dll_characteristics_offset)[0]
        self.characteristics = struct.unpack_from("<H", data, self.coff + 18)[0]


def pe_checksum(data: bytes, checksum_offset: int) -> int:
    """The image checksum as the system's loader computes it: 16-bit words added with end-around
    carry, the checksum field itself counted as zero, plus the file length."""
    body = bytearray(data)
    body[checksum_offset:checksum_offset + 4] = b"\0\0\0\0"
    if len(body) % 2:
        body.append(0)
    words = array("H")
    words.frombytes(bytes(body))
    if words.itemsize != 2 or struct.pack("=H", 1) != b"\x01\x00":
        raise RuntimeError("this helper expects a little-endian machine")
    total = sum(words)
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def set_time_stamp(path: str, time_stamp: int) -> None:
    """Writes the time stamp into the header and the checksum that covers it."""
    data = bytearray(open(path, "rb").read())
    headers = PeHeaders(data)
    struct.pack_into("<I", data, headers.time_stamp_offset, time_stamp)
    struct.pack_into("<I", data, headers.checksum_offset, pe_checksum(data, headers.checksum_offset))
    with open(path, "wb") as image:
        image.write(data)

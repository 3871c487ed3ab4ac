"""The relay's frame codec at the length boundaries, checked against bytes written out
from RFC 6455."""
import struct

import pytest

from refsvc.wsframes import FrameError, FrameParser, accept_key, build_frame


def test_accept_key_of_the_rfc_sample_nonce():
    assert accept_key("dGhlIHNhbXBsZSBub25jZQ==") == "s3pPLMBiTxaQ9kYGzzhZRbK+xOo="


@pytest.mark.parametrize("length, header", [
    (0, bytes([0x82, 0x00])),
    (125, bytes([0x82, 125])),
    (126, bytes([0x82, 126, 0x00, 0x7E])),
    (65535, bytes([0x82, 126, 0xFF, 0xFF])),
    (65536, bytes([0x82, 127, 0, 0, 0, 0, 0, 1, 0, 0])),
])
def test_server_frame_headers(length, header):
    frame = build_frame(0x2, bytes(length))
    assert frame[:len(header)] == header and len(frame) == len(header) + length


def test_masked_client_frame_is_unmasked_in_pieces():
    key = b"\x01\x02\x03\x04"
    wire = bytes([0x82, 0x80 | 5]) + key + bytes(b ^ key[i % 4] for i, b in enumerate(b"hello"))
    parser = FrameParser(1 << 22)
    assert parser.feed(wire[:3]) == []
    (frame,) = parser.feed(wire[3:])
    assert frame.payload == b"hello" and frame.masked and frame.fin and frame.opcode == 2


def test_largest_accepted_and_first_refused_length():
    limit = 4 * 1024 * 1024
    parser = FrameParser(limit)
    assert parser.feed(bytes([0x82, 0xFF]) + struct.pack("!Q", limit) + b"\0\0\0\0") == []
    with pytest.raises(FrameError) as caught:
        FrameParser(limit).feed(bytes([0x82, 0xFF]) + struct.pack("!Q", limit + 1))
    assert caught.value.close_code == 1009

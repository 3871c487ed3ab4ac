"""Files served by plain GET, described in the scenario: generated content of a given
size, a literal body (an HTML page, say), any status, or a transfer that stops early."""
from __future__ import annotations

from typing import Iterator

from aiohttp import web

from .scenario import StaticFile

CHUNK = 64 * 1024


def generated_byte(offset: int) -> int:
    """Content of a generated file: byte i is i mod 251, so a cut or shifted download
    is easy to spot."""
    return offset % 251


def generated_chunks(entry: StaticFile, start: int, end: int) -> Iterator[bytes]:
    """Bytes [start, end) of the file."""
    if entry.body is not None:
        for pos in range(start, end, CHUNK):
            yield entry.body[pos:min(end, pos + CHUNK)]
        return
    pattern = bytes(generated_byte(i) for i in range(251)) * (CHUNK // 251 + 2)
    for pos in range(start, end, CHUNK):
        stop = min(end, pos + CHUNK)
        chunk = bytearray(pattern[pos % 251:pos % 251 + (stop - pos)])
        if pos < len(entry.prefix):
            head = entry.prefix[pos:stop]
            chunk[:len(head)] = head
        yield bytes(chunk)


async def serve(request: web.Request, entry: StaticFile) -> web.StreamResponse:
    response = web.StreamResponse(status=entry.status)
    response.headers["Content-Type"] = entry.content_type
    response.content_length = entry.length
    if request.method == "HEAD":
        await response.prepare(request)
        return response
    end = entry.length if entry.truncate_at is None else entry.truncate_at
    await response.prepare(request)
    for chunk in generated_chunks(entry, 0, end):
        await response.write(chunk)
    if entry.truncate_at is not None:
        # Stop half-way: the client was promised more bytes than it will get. Over TLS the
        # connection breaks off: an orderly close would wait for the client's close_notify.
        response.force_close()
        if request.transport is not None:
            if request.transport.get_extra_info("sslcontext") is None:
                request.transport.close()
            else:
                request.transport.abort()
    return response

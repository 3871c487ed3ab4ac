"""Linux TUN devices: attaching to one by name, also inside another network namespace.

A TUN device carries bare IPv4 packets (no packet-information header) between a program and
the kernel of the namespace the device lives in. The device is created when it does not exist
yet (it then disappears when the descriptor closes) or attached when it was made persistent
beforehand (`ip tuntap add dev NAME mode tun`). Root only.
"""
from __future__ import annotations

import ctypes
import fcntl
import os
import struct
from contextlib import contextmanager
from typing import Iterator, Optional

TUNSETIFF = 0x400454CA
IFF_TUN = 0x0001
IFF_NO_PI = 0x1000
CLONE_NEWNET = 0x40000000
NETNS_DIR = "/run/netns"
MAX_PACKET = 65535


class TunError(OSError):
    pass


def parse_tun_spec(spec: str) -> tuple[str, Optional[str]]:
    """"NAME" or "NAME@NETNS" (a namespace made by `ip netns add`)."""
    name, _, netns = spec.partition("@")
    if not name or len(name.encode()) > 15 or "/" in name or "/" in netns:
        raise ValueError(f"bad TUN device name {spec!r}")
    return name, (netns or None)


def _setns(fd: int) -> None:
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.setns(fd, CLONE_NEWNET) != 0:
        error = ctypes.get_errno()
        raise TunError(error, f"setns failed: {os.strerror(error)}")


@contextmanager
def in_network_namespace(netns: Optional[str]) -> Iterator[None]:
    """Runs the body on this thread inside the named namespace, then returns to the old one."""
    if netns is None:
        yield
        return
    own = os.open("/proc/thread-self/ns/net", os.O_RDONLY)
    try:
        target = os.open(os.path.join(NETNS_DIR, netns), os.O_RDONLY)
        try:
            _setns(target)
        finally:
            os.close(target)
        try:
            yield
        finally:
            _setns(own)
    finally:
        os.close(own)


def open_tun(name: str, netns: Optional[str] = None) -> int:
    """A non-blocking descriptor of the TUN device NAME (in NETNS when given)."""
    with in_network_namespace(netns):
        fd = os.open("/dev/net/tun", os.O_RDWR | os.O_NONBLOCK | os.O_CLOEXEC)
        try:
            fcntl.ioctl(fd, TUNSETIFF, struct.pack("16sH22x", name.encode(), IFF_TUN | IFF_NO_PI))
        except OSError as exc:
            os.close(fd)
            raise TunError(exc.errno, f"cannot attach TUN device {name}: {exc.strerror}") from None
    return fd


def read_packets(fd: int, limit: int = 64) -> list[bytes]:
    """Up to `limit` packets that are waiting; never blocks."""
    packets = []
    for _ in range(limit):
        try:
            packets.append(os.read(fd, MAX_PACKET))
        except BlockingIOError:
            break
    return packets


def write_packet(fd: int, packet: bytes) -> bool:
    """Hands one packet to the kernel; False when it refused it (full queue, device down)."""
    try:
        return os.write(fd, packet) == len(packet)
    except OSError:
        return False

"""Test helpers: start and stop the service process, speak HTTP, WebSocket and the
UDP relay protocol to it the way the engineer's client does, and build packets.

Nothing here imports the service's own modules, so the tests check the service
against an independent reading of the protocols."""
from __future__ import annotations

import base64
import http.client
import json
import os
import select
import signal
import socket
import ssl
import struct
import subprocess
import tempfile
import time
from typing import Any, Optional

HERE = os.path.dirname(os.path.abspath(__file__))
SERVICE_DIR = os.path.dirname(HERE)
SERVICE = os.path.join(SERVICE_DIR, "service.py")
PYTHON = "/usr/bin/python3"
DEMO_KEY = "OVK-DEMO-7F3A-2C91-5E08"
DEMO_NUMBER = "SITE-0001"
CLIENT_KEY = "dGhlIHNhbXBsZSBub25jZQ=="


class ServiceProcess:
    """The service as a child process on a free loopback port."""

    def __init__(self, *args: str, ready_timeout: float = 5.0):
        self.tmp = tempfile.TemporaryDirectory(prefix="refsvc-test-")
        self.request_log = os.path.join(self.tmp.name, "requests.jsonl")
        self.stderr_path = os.path.join(self.tmp.name, "stderr.txt")
        command = [PYTHON, SERVICE, "--port", "0", "--request-log", self.request_log, *args]
        self.started_at = time.monotonic()
        self._stderr = open(self.stderr_path, "wb")
        self.proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=self._stderr,
                                     stdin=subprocess.DEVNULL)
        self.ready_line = self._read_line(ready_timeout)
        self.ready_after = time.monotonic() - self.started_at
        words = self.ready_line.split()
        if not words or words[0] != "ready":
            self.stop()
            raise RuntimeError(f"no ready line: {self.ready_line!r} {self.stderr()}")
        self.url = words[1]
        self.port = int(words[2].split("=", 1)[1])

    def _read_line(self, timeout: float) -> str:
        deadline = time.monotonic() + timeout
        data = b""
        fd = self.proc.stdout.fileno()
        while b"\n" not in data:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                break
            readable, _, _ = select.select([fd], [], [], remaining)
            if not readable:
                break
            chunk = os.read(fd, 4096)
            if not chunk:
                break
            data += chunk
        return data.decode("utf-8", "replace").strip()

    def stderr(self) -> str:
        if not self._stderr.closed:
            self._stderr.flush()
        with open(self.stderr_path, "rb") as handle:
            return handle.read().decode("utf-8", "replace")

    def stop(self, sig: int = signal.SIGTERM, timeout: float = 5.0) -> Optional[int]:
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
            try:
                self.proc.wait(timeout)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(5)
        self.proc.stdout.close()
        self._stderr.close()
        return self.proc.returncode

    def cleanup(self) -> None:
        self.stop()
        self.tmp.cleanup()


# --- HTTP ---------------------------------------------------------------------

def http_request(port: int, method: str, path: str, body: Optional[bytes] = None,
                 headers: Optional[dict] = None, timeout: float = 5.0, tls: Optional[ssl.SSLContext] = None):
    """Over TLS when `tls` is given (a service started with --tls-cert)."""
    if tls is None:
        conn = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    else:
        conn = http.client.HTTPSConnection("127.0.0.1", port, timeout=timeout, context=tls)
    try:
        conn.request(method, path, body=body, headers=headers or {})
        response = conn.getresponse()
        return response.status, dict(response.getheaders()), response.read()
    finally:
        conn.close()


def post_json(port: int, path: str, document: Any = None, *, raw: Optional[bytes] = None,
              timeout: float = 5.0, tls: Optional[ssl.SSLContext] = None):
    """POSTs a compact JSON body the way the client builds it; returns (status, envelope)."""
    body = raw if raw is not None else json.dumps(document, ensure_ascii=False,
                                                   separators=(",", ":")).encode("utf-8")
    status, _, data = http_request(port, "POST", path, body, {
        "User-Agent": "Ostrevane.Native/0.2",
        "Content-Type": "application/json; charset=utf-8"}, timeout, tls)
    return status, json.loads(data.decode("utf-8"))


def admin(port: int, path: str, document: Any = None, method: Optional[str] = None) -> Any:
    """Calls an admin endpoint and returns its data; fails the test on a refusal."""
    if method is None:
        method = "GET" if document is None else "POST"
    body = None if document is None else json.dumps(document).encode("utf-8")
    status, _, data = http_request(port, method, "/admin/" + path, body)
    envelope = json.loads(data.decode("utf-8"))
    assert envelope["success"] is True, envelope
    return envelope["data"]


def fault(port: int, name: str, **params: Any) -> Any:
    return admin(port, "fault", dict(params, name=name))


def resolve_body(key: str = DEMO_KEY) -> dict:
    return {"deviceSecret": key}


def authorize(port: int, target: str = "ALL", engineer: str = "ENG-12345678",
              key: str = DEMO_KEY, number: str = DEMO_NUMBER):
    body = {"deviceNumber": number, "deviceSecret": key, "targetNetwork": target,
            "engineerId": engineer, "clientPublicKey": ""}
    return post_json(port, "/api/connections/request", body)


def grant(port: int, target: str = "ALL", engineer: str = "ENG-12345678") -> dict:
    status, envelope = authorize(port, target, engineer)
    assert envelope["success"] is True, envelope
    return envelope["data"]


def wait_until(predicate, timeout: float = 3.0, step: float = 0.02):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()


# --- WebSocket, as the client speaks it -----------------------------------------

def relay_path(connection_id: str, engineer: str = "ENG-12345678") -> str:
    from urllib.parse import quote
    return f"/api/relay/client/{quote(connection_id, safe='')}?engineerId={quote(engineer, safe='')}"


def handshake_request(port: int, path: str) -> bytes:
    return (f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nUpgrade: websocket\r\n"
            f"Connection: Upgrade\r\nSec-WebSocket-Key: {CLIENT_KEY}\r\n"
            f"Sec-WebSocket-Version: 13\r\n\r\n").encode("ascii")


class WsClient:
    def __init__(self, port: int, path: str, timeout: float = 3.0, tls: Optional[ssl.SSLContext] = None):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
        if tls is not None:
            self.sock = tls.wrap_socket(self.sock, server_hostname="127.0.0.1")
        self.sock.sendall(handshake_request(port, path))
        head = b""
        while b"\r\n\r\n" not in head:
            byte = self.sock.recv(1)
            if not byte:
                break
            head += byte
            assert len(head) < 16384
        self.response_head = head.decode("latin-1")
        status_line = self.response_head.split("\r\n", 1)[0]
        self.status = int(status_line.split()[1]) if len(status_line.split()) > 1 else 0
        self._buffer = b""
        self._counter = 0

    def header(self, name: str) -> Optional[str]:
        for line in self.response_head.split("\r\n")[1:]:
            key, _, value = line.partition(":")
            if key.strip().lower() == name.lower():
                return value.strip()
        return None

    def read_rest(self, timeout: float = 2.0) -> bytes:
        """Whatever follows the response head until the server closes (a refusal body)."""
        deadline = time.monotonic() + timeout
        data = b""
        try:
            while time.monotonic() < deadline and len(data) < 1 << 20:
                self.sock.settimeout(max(0.01, deadline - time.monotonic()))
                chunk = self.sock.recv(65536)
                if not chunk:
                    break
                data += chunk
        except socket.timeout:
            pass
        return data

    def send_frame(self, opcode: int, payload: bytes = b"", *, fin: bool = True, mask: bool = True,
                   rsv: int = 0) -> None:
        first = (0x80 if fin else 0) | (rsv << 4) | opcode
        mask_bit = 0x80 if mask else 0
        n = len(payload)
        if n < 126:
            header = bytes([first, mask_bit | n])
        elif n <= 0xFFFF:
            header = bytes([first, mask_bit | 126]) + struct.pack("!H", n)
        else:
            header = bytes([first, mask_bit | 127]) + struct.pack("!Q", n)
        if mask:
            self._counter += 1
            key = struct.pack("!I", (self._counter * 0x9E3779B9) & 0xFFFFFFFF)
            payload = bytes(b ^ key[i % 4] for i, b in enumerate(payload))
            header += key
        self.sock.sendall(header + payload)

    def _need(self, n: int, timeout: float) -> bool:
        deadline = time.monotonic() + timeout
        while len(self._buffer) < n:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise socket.timeout("frame not complete")
            self.sock.settimeout(remaining)
            chunk = self.sock.recv(65536)
            if not chunk:
                return False
            self._buffer += chunk
        return True

    def recv_header(self, timeout: float = 3.0):
        """(fin, opcode, masked, length) of the next frame, payload not consumed; None at EOF."""
        if not self._need(2, timeout):
            return None
        b0, b1 = self._buffer[0], self._buffer[1]
        length, pos = b1 & 0x7F, 2
        if length == 126:
            self._need(4, timeout)
            length, pos = struct.unpack_from("!H", self._buffer, 2)[0], 4
        elif length == 127:
            self._need(10, timeout)
            length, pos = struct.unpack_from("!Q", self._buffer, 2)[0], 10
        self._buffer = self._buffer[pos:]
        return bool(b0 & 0x80), b0 & 0x0F, bool(b1 & 0x80), length

    def recv_frame(self, timeout: float = 3.0):
        """(fin, opcode, payload) of the next server frame, or None when the server closed."""
        header = self.recv_header(timeout)
        if header is None:
            return None
        fin, opcode, masked, length = header
        assert not masked, "server frames must not be masked"
        if not self._need(length, timeout):
            return None
        payload, self._buffer = self._buffer[:length], self._buffer[length:]
        return fin, opcode, payload

    def recv_binary(self, timeout: float = 3.0) -> bytes:
        """The next binary message, answering pings on the way."""
        deadline = time.monotonic() + timeout
        while True:
            frame = self.recv_frame(max(0.01, deadline - time.monotonic()))
            assert frame is not None, "relay closed the connection"
            fin, opcode, payload = frame
            if opcode == 0x9:
                self.send_frame(0xA, payload)
                continue
            assert opcode == 0x2 and fin, f"unexpected frame opcode {opcode}"
            return payload

    def closed_by_server(self, timeout: float = 3.0) -> bool:
        """True when the server ends the connection within the time (frames are skipped)."""
        deadline = time.monotonic() + timeout
        try:
            while time.monotonic() < deadline:
                self.sock.settimeout(max(0.01, deadline - time.monotonic()))
                if not self.sock.recv(65536):
                    return True
        except socket.timeout:
            return False
        except ConnectionResetError:
            return True
        return False

    def close(self) -> None:
        self.sock.close()


# --- UDP relay ----------------------------------------------------------------------

MAGIC = b"OVU1"


def hello(connection_id: str, engineer: str = "ENG-12345678") -> bytes:
    cid, eid = connection_id.encode("utf-8"), engineer.encode("utf-8")
    return MAGIC + b"\x02" + struct.pack("!H", len(cid)) + cid + struct.pack("!H", len(eid)) + eid


def data_datagram(token: int, packet: bytes) -> bytes:
    return MAGIC + b"\x04" + struct.pack("!Q", token) + packet


class UdpClient:
    def __init__(self, port: int):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.server = ("127.0.0.1", port)

    def send(self, datagram: bytes) -> None:
        self.sock.sendto(datagram, self.server)

    def recv(self, timeout: float = 2.0) -> Optional[bytes]:
        self.sock.settimeout(timeout)
        try:
            data, _ = self.sock.recvfrom(65535)
            return data
        except socket.timeout:
            return None

    def negotiate(self, connection_id: str, engineer: str = "ENG-12345678") -> int:
        self.send(hello(connection_id, engineer))
        ack = self.recv()
        assert ack is not None and len(ack) == 14 and ack[:6] == MAGIC + b"\x03\x02", ack
        token = struct.unpack("!Q", ack[6:])[0]
        assert token != 0
        return token

    def close(self) -> None:
        self.sock.close()


# --- packets the client would send (own checksum code, not the service's) ----------

def _fold_checksum(data: bytes) -> int:
    if len(data) & 1:
        data = data + b"\0"
    total = sum(int.from_bytes(data[i:i + 2], "big") for i in range(0, len(data), 2))
    while total > 0xFFFF:
        total = (total >> 16) + (total & 0xFFFF)
    return 0xFFFF - total


def _addr(text: str) -> bytes:
    return socket.inet_aton(text)


def ipv4(src: str, dst: str, proto: int, payload: bytes, ident: int = 0x1234, ttl: int = 128) -> bytes:
    header = bytearray(struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(payload), ident, 0, ttl, proto,
                                   0, _addr(src), _addr(dst)))
    header[10:12] = struct.pack("!H", _fold_checksum(bytes(header)))
    return bytes(header) + payload


def icmp_echo_request(src: str, dst: str, ident: int = 0x4242, seq: int = 1,
                      data: bytes = b"abcdefghijklmnopqrstuvwabcdefghi") -> bytes:
    body = bytearray(struct.pack("!BBHHH", 8, 0, 0, ident, seq) + data)
    body[2:4] = struct.pack("!H", _fold_checksum(bytes(body)))
    return ipv4(src, dst, 1, bytes(body))


def udp_packet(src: str, dst: str, sport: int, dport: int, data: bytes, checksum: bool = True) -> bytes:
    length = 8 + len(data)
    segment = bytearray(struct.pack("!HHHH", sport, dport, length, 0) + data)
    if checksum:
        pseudo = _addr(src) + _addr(dst) + struct.pack("!BBH", 0, 17, length)
        value = _fold_checksum(pseudo + bytes(segment)) or 0xFFFF
        segment[6:8] = struct.pack("!H", value)
    return ipv4(src, dst, 17, bytes(segment))


def tcp_syn(src: str, dst: str, sport: int = 40000, dport: int = 80) -> bytes:
    segment = struct.pack("!HHIIBBHHH", sport, dport, 1, 0, 0x50, 0x02, 64240, 0, 0)
    return ipv4(src, dst, 6, segment)


def b64(data: bytes) -> str:
    return base64.b64encode(data).decode("ascii")

#!/usr/bin/python3
"""The devices of the end-to-end site: an HTTP server that serves the files of one folder and
a UDP echo, on each given site address. Runs inside the site's network namespace.

Usage: site_servers.py --address A [--address B ...] --folder DIR [--http-port 8080] [--udp-port 9007]
Prints "ready" once every socket listens; SIGTERM and SIGINT end it.
"""
from __future__ import annotations

import argparse
import functools
import http.server
import signal
import socket
import sys
import threading


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, format: str, *args) -> None:  # noqa: A002 - the base class's name
        pass


def serve_udp_echo(sock: socket.socket, stop: threading.Event) -> None:
    sock.settimeout(0.5)
    while not stop.is_set():
        try:
            data, sender = sock.recvfrom(65535)
        except socket.timeout:
            continue
        except OSError:
            return
        sock.sendto(data, sender)


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--address", action="append", required=True)
    parser.add_argument("--folder", required=True)
    parser.add_argument("--http-port", type=int, default=8080)
    parser.add_argument("--udp-port", type=int, default=9007)
    args = parser.parse_args(argv)

    stop = threading.Event()
    handler = functools.partial(QuietHandler, directory=args.folder)
    servers: list[http.server.ThreadingHTTPServer] = []
    threads: list[threading.Thread] = []
    udp_sockets: list[socket.socket] = []
    for address in args.address:
        server = http.server.ThreadingHTTPServer((address, args.http_port), handler)
        server.daemon_threads = True
        servers.append(server)
        threads.append(threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True))
        udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        udp.bind((address, args.udp_port))
        udp_sockets.append(udp)
        threads.append(threading.Thread(target=serve_udp_echo, args=(udp, stop), daemon=True))
    for thread in threads:
        thread.start()

    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    print("ready", flush=True)
    while not stop.wait(0.5):
        pass
    for server in servers:
        server.shutdown()
        server.server_close()
    for udp in udp_sockets:
        udp.close()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

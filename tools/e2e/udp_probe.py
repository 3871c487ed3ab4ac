#!/usr/bin/python3
"""An ordinary UDP client: sends COUNT datagrams of SIZE bytes to HOST:PORT one after the other
and checks that each comes back unchanged (a UDP echo), waiting at most TIMEOUT seconds for each
and sending a datagram at most twice.

Usage: udp_probe.py HOST PORT [--count 20] [--size 200] [--timeout 2]
Prints "echoed N/COUNT" and exits 0 only when every datagram came back.
"""
from __future__ import annotations

import argparse
import os
import socket
import sys


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("host")
    parser.add_argument("port", type=int)
    parser.add_argument("--count", type=int, default=20)
    parser.add_argument("--size", type=int, default=200)
    parser.add_argument("--timeout", type=float, default=2.0)
    args = parser.parse_args(argv)

    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.settimeout(args.timeout)
    sock.connect((args.host, args.port))
    echoed = 0
    for index in range(args.count):
        payload = index.to_bytes(4, "big") + os.urandom(max(args.size - 4, 0))
        for _attempt in range(2):
            sock.send(payload)
            try:
                while sock.recv(65535) != payload:
                    pass  # a late echo of an earlier datagram
            except OSError:
                continue
            echoed += 1
            break
    sock.close()
    print(f"echoed {echoed}/{args.count}")
    return 0 if echoed == args.count else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

#!/usr/bin/python3
"""Reference remote-access service: control API, WebSocket and UDP relay, and a
simulated site, on one host and port. See README.md beside this file."""
from __future__ import annotations

import argparse
import asyncio
import logging
import os
import signal
import socket
import ssl
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from aiohttp import web  # noqa: E402

from refsvc.app import Service  # noqa: E402
from refsvc.scenario import ScenarioError, load_scenario_file  # noqa: E402
from refsvc.site import site_backend_factory  # noqa: E402

DEFAULT_HOST = "127.0.0.1"
DEFAULT_PORT = 18650
DEFAULT_SCENARIO = os.path.join(os.path.dirname(os.path.abspath(__file__)), "scenarios", "demo.json")
BIND_ATTEMPTS = 50


def parse_args(argv: list[str]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--host", default=DEFAULT_HOST, help="IPv4 address to bind (default 127.0.0.1)")
    parser.add_argument("--port", type=int, default=DEFAULT_PORT,
                        help="TCP and UDP port (default 18650; 0 picks a free one)")
    parser.add_argument("--scenario", default=DEFAULT_SCENARIO, help="scenario JSON file")
    parser.add_argument("--request-log", help="append every request as one JSON line to this file")
    parser.add_argument("--ping-interval", type=float, default=0.0,
                        help="seconds between relay pings (0: no pings)")
    parser.add_argument("--udp-fresh-seconds", type=float, default=45.0,
                        help="how long after an acknowledgement replies may go over UDP")
    parser.add_argument("--site", default="simulated",
                        help="what answers the packets relayed to the site: simulated (default), or "
                             "tun:DEVICE[@NETNS], a real network behind a TUN device")
    parser.add_argument("--tls-cert", metavar="PEM", help="serve HTTP and the WebSocket relay over TLS with "
                        "this certificate (chain) file; needs --tls-key")
    parser.add_argument("--tls-key", metavar="PEM", help="the private key of --tls-cert")
    parser.add_argument("--verbose", action="store_true", help="log each request to stderr")
    args = parser.parse_args(argv)
    if (args.tls_cert is None) != (args.tls_key is None):
        parser.error("--tls-cert and --tls-key go together")
    if not 0 <= args.port <= 65535:
        parser.error("--port must be 0..65535")
    if args.ping_interval < 0 or args.udp_fresh_seconds < 0:
        parser.error("intervals must not be negative")
    try:
        site_backend_factory(args.site)
    except ValueError as exc:
        parser.error(str(exc))
    return args


def bind_sockets(host: str, port: int) -> tuple[socket.socket, socket.socket, int]:
    """A listening TCP socket and a UDP socket on the same port number."""
    address = socket.gethostbyname(host)
    last_error: OSError | None = None
    for _ in range(BIND_ATTEMPTS if port == 0 else 1):
        tcp = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:
            tcp.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            tcp.bind((address, port))
            actual = tcp.getsockname()[1]
            udp.bind((address, actual))
            tcp.listen(128)
            tcp.setblocking(False)
            udp.setblocking(False)
            return tcp, udp, actual
        except OSError as exc:
            last_error = exc
            tcp.close()
            udp.close()
    raise last_error or OSError("bind failed")


def tls_context(cert: str, key: str) -> ssl.SSLContext:
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(cert, key)
    return context


def describe_devices(service: Service) -> None:
    for device in service.scenario.devices:
        print(f"device {device.device_number} ({device.device_name}): access key {device.access_key}; "
              f"networks {', '.join(device.shared_networks) or '-'}", file=sys.stderr)


async def run(args: argparse.Namespace) -> int:
    try:
        scenario = load_scenario_file(args.scenario)
    except ScenarioError as exc:
        print(f"scenario error: {exc}", file=sys.stderr)
        return 2
    tls = None
    if args.tls_cert:
        try:
            tls = tls_context(args.tls_cert, args.tls_key)
        except (OSError, ssl.SSLError) as exc:
            print(f"cannot load the TLS certificate {args.tls_cert} or key {args.tls_key}: {exc}", file=sys.stderr)
            return 2
    try:
        tcp, udp, port = bind_sockets(args.host, args.port)
    except OSError as exc:
        print(f"cannot listen on {args.host}:{args.port}: {exc}", file=sys.stderr)
        return 2

    service = Service(scenario, request_log=args.request_log, ping_interval=args.ping_interval,
                      udp_fresh_seconds=args.udp_fresh_seconds, site=args.site)
    service.base_url = f"{'https' if tls else 'http'}://{tcp.getsockname()[0]}:{port}"
    runner = web.AppRunner(service.make_app(udp), handle_signals=False, access_log=None)
    try:
        await runner.setup()  # starts the site backend and the UDP relay
    except OSError as exc:
        print(f"cannot start the site {args.site}: {exc}", file=sys.stderr)
        tcp.close()
        udp.close()
        return 2
    await web.SockSite(runner, tcp, ssl_context=tls, shutdown_timeout=1.0).start()

    loop = asyncio.get_running_loop()
    stop = asyncio.Event()
    for signum in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(signum, stop.set)

    describe_devices(service)
    print(f"ready {service.base_url} port={port}", flush=True)
    await stop.wait()

    await runner.cleanup()  # closes the relays, waits for the last requests, stops the site and UDP
    tcp.close()
    print("stopped", file=sys.stderr)
    return 0


def main(argv: list[str]) -> int:
    args = parse_args(argv)
    logging.basicConfig(level=logging.INFO if args.verbose else logging.WARNING,
                        format="%(asctime)s %(name)s %(levelname)s %(message)s", stream=sys.stderr)
    if not args.verbose:
        logging.getLogger("aiohttp").setLevel(logging.CRITICAL)
    return asyncio.run(run(args))


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

"""Start-up and shut-down of the service process."""
import signal
import socket
import subprocess
import time

import pytest

from support import PYTHON, SERVICE, ServiceProcess, WsClient, grant, relay_path


def listening_addresses(port: int, table: str) -> set:
    """Local addresses listening on the port (TCP) or bound to it (UDP), from /proc/net."""
    found = set()
    wanted_state = "0A" if table == "tcp" else "07"  # LISTEN, or an unconnected UDP socket
    with open(f"/proc/net/{table}") as handle:
        next(handle)
        for line in handle:
            fields = line.split()
            address, port_hex = fields[1].split(":")
            if int(port_hex, 16) == port and fields[3] == wanted_state:
                found.add(socket.inet_ntoa(bytes.fromhex(address)[::-1]))
    return found


def test_ready_line_and_loopback_only():
    service = ServiceProcess()
    try:
        # A bound against hangs only: the start-up time itself (about 0.5 s) is a measurement, and a
        # loaded machine must not fail the suite.
        assert service.ready_after < 15.0
        assert service.ready_line == f"ready http://127.0.0.1:{service.port} port={service.port}"
        assert listening_addresses(service.port, "tcp") == {"127.0.0.1"}
        assert listening_addresses(service.port, "udp") == {"127.0.0.1"}
        assert "OVK-DEMO-7F3A-2C91-5E08" in service.stderr()
    finally:
        assert service.stop(signal.SIGTERM) == 0
        service.cleanup()


@pytest.mark.parametrize("sig", [signal.SIGTERM, signal.SIGINT])
def test_signal_stops_the_service_and_its_relays(sig):
    service = ServiceProcess("--ping-interval", "0.1")
    try:
        data = grant(service.port)
        ws = WsClient(service.port, relay_path(data["connectionId"]))
        assert ws.recv_frame(2.0)[1] == 0x9, "the CLI ping interval is in force"
        started = time.monotonic()
        service.proc.send_signal(sig)
        assert service.proc.wait(5) == 0
        assert time.monotonic() - started < 3.0
        assert ws.closed_by_server(1.0)
        ws.close()
        assert listening_addresses(service.port, "tcp") == set()
        assert listening_addresses(service.port, "udp") == set()
    finally:
        service.cleanup()


def run_failing(*args):
    result = subprocess.run([PYTHON, SERVICE, *args], capture_output=True, timeout=10, stdin=subprocess.DEVNULL)
    return result.returncode, result.stdout.decode(), result.stderr.decode()


def test_port_in_use_is_reported():
    blocker = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    blocker.bind(("127.0.0.1", 0))
    try:
        code, out, err = run_failing("--port", str(blocker.getsockname()[1]))
        assert code == 2 and out == "" and "cannot listen" in err
    finally:
        blocker.close()


def test_broken_scenario_is_reported(tmp_path):
    bad = tmp_path / "bad.json"
    bad.write_text('{"devices": [{"accessKey": "k", "deviceNumber": "n", "sharedNetworks": ["300.1.1.0/24"]}]}')
    code, out, err = run_failing("--scenario", str(bad), "--port", "0")
    assert code == 2 and out == "" and "300.1.1.0/24" in err


def test_host_option_binds_the_given_address():
    service = ServiceProcess("--host", "127.0.0.2")
    try:
        assert service.url == f"http://127.0.0.2:{service.port}"
        assert listening_addresses(service.port, "tcp") == {"127.0.0.2"}
    finally:
        service.cleanup()

"""run_with_service.sh: starts the service, hands its address to a command, stops it."""
import json
import os
import signal
import socket
import subprocess
import time

from support import PYTHON, SERVICE_DIR

RUNNER = os.path.join(SERVICE_DIR, "run_with_service.sh")

PROBE = r"""
import json, os, sys, urllib.request
url = os.environ["OSTREVANE_TEST_SERVICE_URL"]
body = json.dumps({"deviceSecret": "OVK-DEMO-7F3A-2C91-5E08"}).encode()
urllib.request.urlopen(urllib.request.Request(url + "/api/devices/resolve", body, method="POST"), timeout=5).read()
state = json.load(urllib.request.urlopen(url + "/admin/state", timeout=5))["data"]
with open(sys.argv[1], "w") as out:
    json.dump({"env": {k: v for k, v in os.environ.items() if k.startswith("OSTREVANE_TEST_")},
               "config": state["config"],
               "log": open(os.environ["OSTREVANE_TEST_REQUEST_LOG"]).read()}, out)
sys.exit(int(sys.argv[2]))
"""


def run(args, timeout=20):
    return subprocess.run([RUNNER, *args], capture_output=True, timeout=timeout, stdin=subprocess.DEVNULL)


def port_closed(port):
    with socket.socket() as sock:
        sock.settimeout(1)
        return sock.connect_ex(("127.0.0.1", port)) != 0


def test_command_gets_the_service_and_its_exit_code_is_passed_on(tmp_path):
    out = tmp_path / "probe.json"
    result = run(["--ping-interval", "2.5", "--", PYTHON, "-c", PROBE, str(out), "7"])
    assert result.returncode == 7
    probe = json.loads(out.read_text())
    env = probe["env"]
    port = int(env["OSTREVANE_TEST_SERVICE_PORT"])
    assert env["OSTREVANE_TEST_SERVICE_URL"] == f"http://127.0.0.1:{port}"
    assert os.path.isabs(env["OSTREVANE_TEST_REQUEST_LOG"])
    assert probe["config"]["pingIntervalSeconds"] == 2.5
    (entry,) = [json.loads(line) for line in probe["log"].splitlines()]
    assert entry["requestLine"] == "POST /api/devices/resolve HTTP/1.1"
    assert port_closed(port)
    assert not os.path.exists(env["OSTREVANE_TEST_REQUEST_LOG"])


def test_successful_command_exits_zero(tmp_path):
    assert run(["--", PYTHON, "-c", PROBE, str(tmp_path / "p.json"), "0"]).returncode == 0


def test_usage_error_and_start_failure():
    assert run([]).returncode == 2
    assert run(["true"]).returncode == 2
    result = run(["--scenario", "/nonexistent.json", "--", "true"])
    assert result.returncode == 3 and b"did not become ready" in result.stderr


def test_terminated_runner_still_stops_the_service(tmp_path):
    port_file = tmp_path / "port"
    script = f'echo "$OSTREVANE_TEST_SERVICE_PORT" > {port_file}; exec sleep 30'
    runner = subprocess.Popen([RUNNER, "--", "bash", "-c", script], stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        deadline = time.monotonic() + 10
        while not (port_file.exists() and port_file.read_text().strip()) and time.monotonic() < deadline:
            time.sleep(0.05)
        port = int(port_file.read_text())
        assert not port_closed(port)
        started = time.monotonic()
        runner.send_signal(signal.SIGTERM)  # the script alone, not its process group
        assert runner.wait(10) == 143
        assert time.monotonic() - started < 5
        deadline = time.monotonic() + 5
        while not port_closed(port) and time.monotonic() < deadline:
            time.sleep(0.05)
        assert port_closed(port)
    finally:
        if runner.poll() is None:
            os.killpg(runner.pid, signal.SIGKILL)
            runner.wait(5)

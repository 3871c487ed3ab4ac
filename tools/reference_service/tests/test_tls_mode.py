"""--tls-cert and --tls-key: the control API, the admin area and the WebSocket relay over TLS,
with certificates from tools/tls/make-test-pki.sh."""
import json
import os
import ssl
import subprocess

import pytest

from support import (DEMO_KEY, PYTHON, SERVICE, SERVICE_DIR, ServiceProcess, WsClient, b64, http_request,
                     icmp_echo_request, post_json, relay_path)

MAKE_PKI = os.path.join(SERVICE_DIR, "..", "tls", "make-test-pki.sh")
RUNNER = os.path.join(SERVICE_DIR, "run_with_service.sh")


@pytest.fixture(scope="module")
def pki(tmp_path_factory):
    out = tmp_path_factory.mktemp("pki")
    subprocess.run([MAKE_PKI, str(out)], check=True, timeout=60, stdin=subprocess.DEVNULL)
    return out


@pytest.fixture(scope="module")
def tls_service(pki):
    service = ServiceProcess("--verbose", "--tls-cert", str(pki / "server.pem"), "--tls-key", str(pki / "server.key"))
    yield service
    code = service.stop()
    errors = service.stderr()
    service.cleanup()
    assert code == 0
    assert [line for line in errors.splitlines() if "Traceback" in line or " ERROR " in line] == [], errors


@pytest.fixture
def trusting(pki):
    return ssl.create_default_context(cafile=str(pki / "ca.pem"))


def test_control_api_and_admin_answer_over_tls_only(tls_service, trusting):
    port = tls_service.port
    assert tls_service.url == f"https://127.0.0.1:{port}"
    status, envelope = post_json(port, "/api/devices/resolve", {"deviceSecret": DEMO_KEY}, tls=trusting)
    assert status == 200 and envelope["success"] is True
    status, _, body = http_request(port, "GET", "/admin/state", tls=trusting)
    assert status == 200 and json.loads(body)["data"]["baseUrl"] == tls_service.url
    status, _, body = http_request(port, "GET", "/admin/requests", tls=trusting)
    assert [e["requestLine"] for e in json.loads(body)["data"]][-1] == "POST /api/devices/resolve HTTP/1.1"
    # The scenario's {baseUrl} names the secure scheme, so downloads go over TLS as well.
    status, envelope = post_json(port, "/api/devices/SITE-0001/remote-desktop/session",
                                 {"deviceNumber": "SITE-0001", "deviceSecret": DEMO_KEY, "engineerId": "E"},
                                 tls=trusting)
    assert envelope["data"]["server"]["windowsDownloadUrl"].startswith(tls_service.url + "/")
    with pytest.raises(ssl.SSLCertVerificationError):  # a client without the test CA refuses
        http_request(port, "GET", "/admin/state", tls=ssl.create_default_context())
    with pytest.raises((ConnectionError, OSError)):  # no clear-text answer on the TLS port
        http_request(port, "GET", "/admin/state", timeout=2.0)


def test_relay_upgrade_and_packets_over_tls(tls_service, trusting):
    port = tls_service.port
    _, envelope = post_json(port, "/api/connections/request", {
        "deviceNumber": "", "deviceSecret": DEMO_KEY, "targetNetwork": "ALL", "engineerId": "ENG-12345678",
        "clientPublicKey": ""}, tls=trusting)
    grant = envelope["data"]
    ws = WsClient(port, relay_path(grant["connectionId"]), tls=trusting)
    try:
        assert ws.status == 101
        ws.send_frame(0x2, icmp_echo_request(grant["assignedAddress"], "192.168.1.20"))
        reply = ws.recv_binary()
        assert reply[20] == 0 and reply[12:16] == bytes([192, 168, 1, 20])  # echo reply from the target
        status, _, body = http_request(port, "POST", "/admin/send-packet", json.dumps(
            {"base64": b64(reply), "connectionId": grant["connectionId"]}).encode(), tls=trusting)
        assert status == 200 and ws.recv_binary() == reply
    finally:
        ws.close()


def test_tls_options_are_checked_at_start(pki):
    def start(*args):
        return subprocess.run([PYTHON, SERVICE, "--port", "0", *args], capture_output=True, timeout=10,
                              stdin=subprocess.DEVNULL)
    lone = start("--tls-cert", str(pki / "server.pem"))
    assert lone.returncode == 2 and b"go together" in lone.stderr
    mismatched = start("--tls-cert", str(pki / "server.pem"), "--tls-key", str(pki / "expired.key"))
    assert mismatched.returncode == 2 and mismatched.stdout == b"" and b"cannot load" in mismatched.stderr


def test_runner_hands_out_the_https_url(pki, tmp_path):
    out = tmp_path / "env.json"
    probe = ("import json, os, sys; json.dump({k: v for k, v in os.environ.items() "
             "if k.startswith('OSTREVANE_TEST_')}, open(sys.argv[1], 'w'))")
    result = subprocess.run([RUNNER, "--tls-cert", str(pki / "server.pem"), "--tls-key", str(pki / "server.key"),
                             "--", PYTHON, "-c", probe, str(out)], capture_output=True, timeout=20,
                            stdin=subprocess.DEVNULL)
    assert result.returncode == 0, result.stderr
    env = json.loads(out.read_text())
    assert env["OSTREVANE_TEST_SERVICE_URL"] == f"https://127.0.0.1:{env['OSTREVANE_TEST_SERVICE_PORT']}"

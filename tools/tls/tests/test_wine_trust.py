"""wine-trust-ca.sh under Wine: Windows' own TLS clients (WinHTTP, and Schannel with the chain
checks an application makes) accept the TLS service's certificate exactly while the test CA is
trusted, and refuse the wrong-host, expired and untrusted certificates with the documented codes.

The Windows side connects to "localhost": Wine's SSL policy matches DNS names only, so a
certificate's IP address entry never matches "127.0.0.1" there (Windows matches it)."""
import os
import shutil
import subprocess
import sys

import pytest

HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TOOLS = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(TOOLS, "reference_service", "tests"))
from support import ServiceProcess  # noqa: E402

WINE = "/usr/lib/wine/wine64"
pytestmark = pytest.mark.skipif(not os.access(WINE, os.X_OK) or not shutil.which("x86_64-w64-mingw32-g++-posix"),
                                reason="needs Wine and mingw-w64")

CERT_E_EXPIRED = "0x800B0101"
CERT_E_UNTRUSTEDROOT = "0x800B0109"
CERT_E_CN_NO_MATCH = "0x800B010F"
CERT_TRUST_IS_PARTIAL_CHAIN = "0x00010000"


@pytest.fixture(scope="module")
def pki(tmp_path_factory):
    out = tmp_path_factory.mktemp("pki")
    subprocess.run([os.path.join(HERE, "make-test-pki.sh"), str(out)], check=True, timeout=60,
                   stdin=subprocess.DEVNULL)
    return out


@pytest.fixture(scope="module")
def probe_exe():
    return subprocess.run([os.path.join(HERE, "build-tool.sh"), "tls_probe"], capture_output=True, text=True,
                          check=True, timeout=300).stdout.strip()


def trust(pki, *options) -> int:
    return subprocess.run([os.path.join(HERE, "wine-trust-ca.sh"), *options, str(pki / "ca.pem")],
                          capture_output=True, timeout=300, stdin=subprocess.DEVNULL).returncode


def probe(exe, *args) -> dict:
    """The probe's status line as a dict: {"mode": "winhttp", "status": "404", ...}."""
    line = subprocess.run([os.path.join(TOOLS, "wine-run"), exe, *args], capture_output=True, text=True,
                          timeout=120, stdin=subprocess.DEVNULL).stdout.strip()
    mode, *fields = line.split()
    return dict([("mode", mode)] + [tuple(f.split("=", 1)) for f in fields])


def serve(pki, cert, key=None):
    return ServiceProcess("--tls-cert", str(pki / f"{cert}.pem"), "--tls-key", str(pki / f"{key or cert}.key"))


def test_the_service_is_accepted_exactly_while_the_ca_is_trusted(pki, probe_exe):
    service = serve(pki, "server")
    url = f"https://localhost:{service.port}/"
    try:
        assert trust(pki, "--check") == 1
        assert "error" in probe(probe_exe, "winhttp", url)
        assert trust(pki) == 0 and trust(pki, "--check") == 0
        assert probe(probe_exe, "winhttp", url) == {"mode": "winhttp", "status": "404"}
        secured = probe(probe_exe, "schannel", "localhost", str(service.port), "manual")
        assert (secured["chain"], secured["policy"], secured["http"]) == ("0x00000000", "0x00000000", "404")
        assert trust(pki, "--remove") == 0 and trust(pki, "--check") == 1
        assert "error" in probe(probe_exe, "winhttp", url)
        assert probe(probe_exe, "schannel", "localhost", str(service.port), "manual")["chain"] == \
            CERT_TRUST_IS_PARTIAL_CHAIN
    finally:
        trust(pki, "--remove")
        service.cleanup()


@pytest.mark.parametrize("cert, policy", [("wrong-host", CERT_E_CN_NO_MATCH), ("expired", CERT_E_EXPIRED),
                                          ("untrusted", CERT_E_UNTRUSTEDROOT)])
def test_faulty_certificates_are_refused(pki, probe_exe, cert, policy):
    service = serve(pki, cert)
    try:
        assert trust(pki) == 0
        assert "error" in probe(probe_exe, "winhttp", f"https://localhost:{service.port}/")
        assert probe(probe_exe, "schannel", "localhost", str(service.port), "manual")["policy"] == policy
    finally:
        trust(pki, "--remove")
        service.cleanup()

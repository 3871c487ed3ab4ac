"""make-test-pki.sh: each certificate is what its name says, shown by real TLS handshakes (Python's
ssl module, in memory) and by openssl's reading of the files."""
import os
import ssl
import stat
import subprocess
from typing import Optional

import pytest

MAKE_PKI = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "make-test-pki.sh")
SERVERS = ["server", "wrong-host", "expired", "untrusted"]


@pytest.fixture(scope="module")
def pki(tmp_path_factory):
    out = tmp_path_factory.mktemp("pki")
    subprocess.run([MAKE_PKI, str(out)], check=True, timeout=60, stdin=subprocess.DEVNULL)
    return out


def handshake(pki, cert: str, host: str, ca: str = "ca.pem", key: Optional[str] = None) -> Optional[str]:
    """None when a client trusting `ca` accepts the server's certificate for `host`, else why not."""
    server_context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    server_context.load_cert_chain(pki / f"{cert}.pem", pki / f"{key or cert}.key")
    client_context = ssl.create_default_context(cafile=str(pki / ca))
    to_server, to_client = ssl.MemoryBIO(), ssl.MemoryBIO()
    server_out, client_in = ssl.MemoryBIO(), ssl.MemoryBIO()
    client = client_context.wrap_bio(client_in, to_server, server_hostname=host)
    server = server_context.wrap_bio(to_client, server_out, server_side=True)
    for _ in range(10):
        try:
            client.do_handshake()
            return None
        except ssl.SSLWantReadError:
            pass
        except ssl.SSLCertVerificationError as exc:
            return exc.verify_message
        to_client.write(to_server.read())
        try:
            server.do_handshake()
        except (ssl.SSLWantReadError, ssl.SSLError):
            pass
        client_in.write(server_out.read())
    raise AssertionError("handshake did not finish")


def test_only_server_certificates_and_their_keys_are_left(pki):
    names = {"ca.pem", "untrusted-ca.pem", "untrusted-leaf.pem"}
    names |= {f"{n}.{ext}" for n in SERVERS for ext in ("pem", "key")}
    assert set(os.listdir(pki)) == names
    assert all(stat.S_IMODE(os.stat(pki / f"{n}.key").st_mode) == 0o600 for n in SERVERS)


def test_valid_certificate_names_the_loopback_address_and_localhost_only(pki):
    assert handshake(pki, "server", "127.0.0.1") is None
    assert handshake(pki, "server", "localhost") is None
    assert "mismatch" in handshake(pki, "server", "other.invalid")


def test_wrong_host_certificate_is_valid_for_another_name_only(pki):
    assert handshake(pki, "wrong-host", "other.invalid") is None
    assert "mismatch" in handshake(pki, "wrong-host", "localhost")
    assert "mismatch" in handshake(pki, "wrong-host", "127.0.0.1")


def test_expired_certificate_is_expired_now(pki):
    assert "expired" in handshake(pki, "expired", "localhost")


def test_untrusted_certificate_comes_from_the_second_ca(pki):
    assert "self-signed certificate in certificate chain" in handshake(pki, "untrusted", "localhost")
    assert "unable to get local issuer certificate" in handshake(pki, "untrusted-leaf", "localhost", key="untrusted")
    assert handshake(pki, "untrusted", "localhost", ca="untrusted-ca.pem") is None
    assert handshake(pki, "untrusted-leaf", "localhost", ca="untrusted-ca.pem", key="untrusted") is None


@pytest.mark.parametrize("name", SERVERS)
def test_server_certificates_are_p256_sha256_for_server_authentication(pki, name):
    text = subprocess.run(["openssl", "x509", "-noout", "-text", "-in", str(pki / f"{name}.pem")],
                          capture_output=True, text=True, check=True, timeout=10).stdout
    assert "Signature Algorithm: ecdsa-with-SHA256" in text and "ASN1 OID: prime256v1" in text
    assert "TLS Web Server Authentication" in text and "CA:FALSE" in text


def test_certificate_authorities_are_marked_as_such(pki):
    for ca in ("ca.pem", "untrusted-ca.pem"):
        text = subprocess.run(["openssl", "x509", "-noout", "-text", "-in", str(pki / ca)],
                              capture_output=True, text=True, check=True, timeout=10).stdout
        assert "CA:TRUE" in text and "Certificate Sign" in text

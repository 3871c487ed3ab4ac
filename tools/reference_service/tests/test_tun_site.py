"""The real site behind a TUN device: naming it on the command line, and (as root) packets that
reach the kernel of a namespace of the test's own and its answers coming back to the client."""
import os
import shutil
import struct
import subprocess

import pytest

from support import (PYTHON, SERVICE, ServiceProcess, WsClient, admin, grant, icmp_echo_request, relay_path,
                     udp_packet, wait_until)

from refsvc.site import SimulatedSite, TunSite, site_backend_factory


def test_site_names_choose_the_backend():
    assert site_backend_factory("simulated") is SimulatedSite
    backend = site_backend_factory("tun:ovs0@sitens")(lambda *_: None, lambda: None)
    assert isinstance(backend, TunSite) and (backend.device, backend.netns) == ("ovs0", "sitens")
    backend = site_backend_factory("tun:ovs1")(lambda *_: None, lambda: None)
    assert (backend.device, backend.netns) == ("ovs1", None)
    for bad in ("tun:", "tun:@ns", "tun:a-name-far-too-long", "tun:a/b", "real", ""):
        with pytest.raises(ValueError):
            site_backend_factory(bad)


def test_an_unknown_site_is_a_usage_error():
    result = subprocess.run([PYTHON, SERVICE, "--port", "0", "--site", "nowhere"], capture_output=True,
                            text=True, timeout=20)
    assert result.returncode == 2 and "unknown site" in result.stderr and result.stdout == ""


needs_root = pytest.mark.skipif(os.geteuid() != 0 or not os.path.exists("/dev/net/tun") or not shutil.which("ip"),
                                reason="needs root, /dev/net/tun and ip")


def ip(*args: str) -> None:
    subprocess.run(["ip", *args], check=True, capture_output=True, timeout=20)


@needs_root
def test_a_site_in_a_missing_namespace_does_not_start():
    result = subprocess.run([PYTHON, SERVICE, "--port", "0", "--site", f"tun:ovs0@no-such-ns-{os.getpid()}"],
                            capture_output=True, text=True, timeout=20)
    assert result.returncode == 2 and "cannot start the site" in result.stderr and result.stdout == ""


@pytest.fixture
def tun_site():
    """A namespace holding the TUN device ovs0 with the site address 10.20.0.1/16 and the
    service's address pool routed into it; the service owns the device."""
    netns = f"ove-t{os.getpid()}"
    ip("netns", "add", netns)
    process = None
    try:
        ip("-n", netns, "link", "set", "lo", "up")
        ip("-n", netns, "tuntap", "add", "dev", "ovs0", "mode", "tun")
        ip("-n", netns, "addr", "add", "10.20.0.1/16", "dev", "ovs0")
        ip("-n", netns, "link", "set", "ovs0", "up")
        ip("-n", netns, "route", "add", "100.64.0.0/16", "dev", "ovs0")
        process = ServiceProcess("--site", f"tun:ovs0@{netns}")
        yield process
    finally:
        if process is not None:
            assert process.stop() == 0
            process.cleanup()
        subprocess.run(["ip", "-n", netns, "link", "del", "ovs0"], capture_output=True, timeout=20)
        ip("netns", "del", netns)


def ipv4_addresses(packet: bytes) -> tuple[str, str]:
    return tuple(".".join(str(b) for b in packet[i:i + 4]) for i in (12, 16))


@needs_root
def test_kernel_behind_the_tun_answers_ping_over_the_relay(tun_site):
    data = grant(tun_site.port)
    ws = WsClient(tun_site.port, relay_path(data["connectionId"]))
    try:
        ws.send_frame(0x2, icmp_echo_request(data["assignedAddress"], "10.20.0.1", ident=0x5151, seq=7,
                                             data=b"tun-site"))
        reply = ws.recv_binary()
        assert ipv4_addresses(reply) == ("10.20.0.1", data["assignedAddress"])
        assert reply[9] == 1 and reply[20] == 0 and struct.unpack("!HH", reply[24:28]) == (0x5151, 7)
        assert reply.endswith(b"tun-site")
        state = admin(tun_site.port, "state")
        assert state["packets"]["site"]["forwarded"] == 1 and state["packets"]["site"]["fromSite"] == 1
    finally:
        ws.close()


@needs_root
def test_packets_not_from_the_tunnel_address_stay_out_of_the_site(tun_site):
    data = grant(tun_site.port)
    ws = WsClient(tun_site.port, relay_path(data["connectionId"]))
    try:
        ws.send_frame(0x2, udp_packet("100.64.9.9", "10.20.0.1", 5000, 7, b"spoofed"))
        ws.send_frame(0x2, udp_packet(data["assignedAddress"], "172.16.0.1", 5000, 7, b"elsewhere"))
        def inbound():
            return [p for p in admin(tun_site.port, "packets") if p["direction"] == "in"]
        assert wait_until(lambda: len(inbound()) == 2)
        packets = inbound()
        assert [p["verdict"] for p in packets] == ["dropped: source is not the tunnel address",
                                                   "dropped: destination outside the granted routes"]
        assert "forwarded" not in admin(tun_site.port, "state")["packets"]["site"]
    finally:
        ws.close()

"""The packet log and the per-path packet counters of the admin state."""
import base64

from support import (UdpClient, WsClient, admin, data_datagram, grant, icmp_echo_request, relay_path,
                     udp_packet, wait_until)


def test_packets_in_and_out_are_logged_with_their_path(svc):
    data = grant(svc.port)
    tunnel = data["assignedAddress"]
    ws = WsClient(svc.port, relay_path(data["connectionId"]))
    udp = UdpClient(svc.port)
    try:
        request = icmp_echo_request(tunnel, "192.168.1.2")
        ws.send_frame(0x2, request)
        reply = ws.recv_binary()
        token = udp.negotiate(data["connectionId"])
        udp.send(data_datagram(token, udp_packet(tunnel, "192.168.1.2", 5, 6, b"u")))
        assert udp.recv() is not None
        log = admin(svc.port, "packets")
        assert [(p["direction"], p["via"], p["verdict"]) for p in log] == [
            ("in", "ws", "icmp-echo"), ("out", "ws", None), ("in", "udp", "udp-echo"), ("out", "udp", None)]
        assert base64.b64decode(log[0]["base64"]) == request and base64.b64decode(log[1]["base64"]) == reply
        assert all(p["connectionId"] == data["connectionId"] for p in log)
        assert admin(svc.port, f"packets?since={log[1]['seq']}") == log[2:]
        stats = admin(svc.port, "state")["packets"]
        assert stats["stats"] == {"fromClient.ws": 1, "toClient.ws": 1, "fromClient.udp": 1, "toClient.udp": 1}
        assert stats["site"] == {"icmp-echo": 1, "udp-echo": 1}
    finally:
        ws.close()
        udp.close()


def test_reply_without_any_path_is_counted_as_dropped(svc):
    data = grant(svc.port)
    udp = UdpClient(svc.port)
    try:
        admin(svc.port, "config", {"udpFreshSeconds": 0})
        token = udp.negotiate(data["connectionId"])
        udp.send(data_datagram(token, icmp_echo_request(data["assignedAddress"], "10.20.0.9")))
        # Counted once the reply found no path: had it found one, it would have been sent before.
        assert wait_until(lambda: admin(svc.port, "state")["packets"]["stats"].get("toClient.dropped", 0) >= 1)
        assert udp.recv(0.05) is None
        assert admin(svc.port, "state")["packets"]["stats"]["toClient.dropped"] == 1
    finally:
        udp.close()

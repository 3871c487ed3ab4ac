"""UDP faults: a silent relay, ignored hellos, token renewal and arbitrary datagrams."""
import struct

from support import MAGIC, UdpClient, admin, b64, data_datagram, fault, grant, hello, udp_packet, wait_until


def udp_stat(port, name):
    return admin(port, "state")["udp"]["stats"].get(name, 0)


def test_udp_silence_drops_everything_until_cleared(svc):
    data = grant(svc.port)
    udp = UdpClient(svc.port)
    try:
        fault(svc.port, "udp-silence")
        for sent in range(1, 5):
            udp.send(hello(data["connectionId"]))
            # Dropped once counted: an answer would have been sent before that.
            assert wait_until(lambda: udp_stat(svc.port, "droppedWhileSilent") >= sent)
            assert udp.recv(0.05) is None
        assert udp_stat(svc.port, "droppedWhileSilent") == 4
        fault(svc.port, "udp-silence", enabled=False)
        assert udp.negotiate(data["connectionId"])
    finally:
        udp.close()


def test_silence_also_stops_replies_that_would_go_over_udp(svc):
    data = grant(svc.port)
    udp = UdpClient(svc.port)
    try:
        token = udp.negotiate(data["connectionId"])
        fault(svc.port, "udp-silence")
        udp.send(data_datagram(token, udp_packet(data["assignedAddress"], "192.168.1.4", 1, 2, b"a")))
        assert udp.recv(0.3) is None
    finally:
        udp.close()


def test_ignore_hellos_for_a_count(svc):
    data = grant(svc.port)
    udp = UdpClient(svc.port)
    try:
        fault(svc.port, "ignore-hellos", count=3)
        answered = []
        for sent in range(1, 5):
            udp.send(hello(data["connectionId"]))
            if sent <= 3:
                # Ignored once counted: an answer would have been sent before that.
                assert wait_until(lambda: udp_stat(svc.port, "ignoredHellos") >= sent)
                answered.append(udp.recv(0.05) is not None)
            else:
                answered.append(udp.recv() is not None)
        assert answered == [False, False, False, True]
        assert udp_stat(svc.port, "ignoredHellos") == 3
    finally:
        udp.close()


def test_renew_udp_tokens(svc):
    data = grant(svc.port)
    udp = UdpClient(svc.port)
    try:
        first = udp.negotiate(data["connectionId"])
        fault(svc.port, "renew-udp-tokens")
        assert udp.negotiate(data["connectionId"]) != first
    finally:
        udp.close()


def test_send_udp_reaches_the_last_client_address(svc):
    data = grant(svc.port)
    udp = UdpClient(svc.port)
    try:
        udp.negotiate(data["connectionId"])
        odd_ack = MAGIC + bytes([3, 1]) + struct.pack("!Q", 5)
        result = fault(svc.port, "send-udp", base64=b64(odd_ack))
        assert result["address"] == f"127.0.0.1:{udp.sock.getsockname()[1]}"
        assert udp.recv() == odd_ack
    finally:
        udp.close()


def test_send_packet_via_udp(svc):
    data = grant(svc.port)
    udp = UdpClient(svc.port)
    try:
        token = udp.negotiate(data["connectionId"])
        packet = udp_packet("10.20.0.8", data["assignedAddress"], 53, 4000, b"pushed")
        result = admin(svc.port, "send-packet", {"base64": b64(packet), "via": "udp",
                                                  "connectionId": data["connectionId"]})
        assert result["via"] == "udp"
        assert udp.recv() == MAGIC + b"\x04" + struct.pack("!Q", token) + packet
    finally:
        udp.close()

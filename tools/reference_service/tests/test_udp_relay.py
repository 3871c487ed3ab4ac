"""UDP relay: hello and acknowledgement with a token, data datagrams both ways, and
the fall-back to the WebSocket for replies that do not fit or when the path is stale."""
import struct

import pytest

from support import (MAGIC, UdpClient, WsClient, admin, data_datagram, grant, hello, icmp_echo_request,
                     post_json, relay_path, udp_packet, wait_until)


@pytest.fixture
def udp(svc):
    client = UdpClient(svc.port)
    yield client
    client.close()


def test_hello_of_a_granted_connection_gets_a_14_byte_ack(svc, udp):
    data = grant(svc.port)
    udp.send(hello(data["connectionId"]))
    ack = udp.recv()
    assert len(ack) == 14 and ack[:4] == MAGIC and ack[4] == 3 and ack[5] == 2
    token = struct.unpack("!Q", ack[6:])[0]
    assert token != 0
    (path,) = admin(svc.port, "state")["udp"]["paths"]
    assert path["token"] == str(token) and path["fresh"] is True
    (entry,) = admin(svc.port, "state")["udp"]["hellos"]
    assert entry["answered"] is True and entry["engineerId"] == "ENG-12345678"


def test_keepalive_hello_keeps_the_token_and_a_new_relay_renews_it(svc, udp):
    data = grant(svc.port)
    first = udp.negotiate(data["connectionId"])
    assert udp.negotiate(data["connectionId"]) == first
    ws = WsClient(svc.port, relay_path(data["connectionId"]))
    try:
        renewed = udp.negotiate(data["connectionId"])
        assert renewed != first
        assert udp.negotiate(data["connectionId"]) == renewed
    finally:
        ws.close()


def test_hello_from_a_new_socket_gets_a_new_token(svc, udp):
    data = grant(svc.port)
    first = udp.negotiate(data["connectionId"])
    other = UdpClient(svc.port)
    try:
        assert other.negotiate(data["connectionId"]) != first
    finally:
        other.close()


@pytest.mark.parametrize("datagram", [
    hello("c-unknown"),
    MAGIC + b"\x02\x00\x05ab",           # truncated
    MAGIC + b"\x03\x02" + bytes(8),      # an ack sent to the relay
    b"XXXX\x02\x00\x00\x00\x00",
])
def test_other_datagrams_get_no_answer(svc, udp, datagram):
    udp.send(datagram)
    assert udp.recv(0.3) is None


def test_hello_of_a_disconnected_connection_gets_no_answer(svc, udp):
    data = grant(svc.port)
    post_json(svc.port, f"/api/connections/{data['connectionId']}/disconnect",
              {"engineerId": "ENG-12345678", "reason": "r"})
    udp.send(hello(data["connectionId"]))
    assert udp.recv(0.3) is None


def test_small_udp_reply_comes_back_as_a_data_datagram(svc, udp):
    data = grant(svc.port)
    token = udp.negotiate(data["connectionId"])
    packet = udp_packet(data["assignedAddress"], "192.168.1.30", 40000, 7, b"x" * 1322)
    assert len(packet) == 1350
    udp.send(data_datagram(token, packet))
    reply = udp.recv()
    assert reply[:5] == MAGIC + b"\x04" and struct.unpack("!Q", reply[5:13])[0] == token
    assert len(reply) == 1363 and reply[13 + 12:13 + 16] == bytes([192, 168, 1, 30])
    stats = admin(svc.port, "state")["udp"]["stats"]
    assert stats["dataIn"] == 1 and stats["dataOut"] == 1


def test_reply_over_1350_bytes_and_icmp_go_over_the_websocket(svc, udp):
    data = grant(svc.port)
    ws = WsClient(svc.port, relay_path(data["connectionId"]))
    try:
        token = udp.negotiate(data["connectionId"])
        tunnel = data["assignedAddress"]
        udp.send(data_datagram(token, udp_packet(tunnel, "192.168.1.30", 40000, 7, b"y" * 1323)))
        assert len(ws.recv_binary()) == 1351
        udp.send(data_datagram(token, icmp_echo_request(tunnel, "192.168.1.30")))
        assert ws.recv_binary()[9] == 1
        assert udp.recv(0.3) is None
    finally:
        ws.close()


def test_udp_request_over_the_websocket_is_answered_over_udp_while_fresh(svc, udp):
    data = grant(svc.port)
    ws = WsClient(svc.port, relay_path(data["connectionId"]))
    try:
        token = udp.negotiate(data["connectionId"])
        ws.send_frame(0x2, udp_packet(data["assignedAddress"], "10.20.0.1", 1, 2, b"hi"))
        reply = udp.recv()
        assert reply is not None and struct.unpack("!Q", reply[5:13])[0] == token
    finally:
        ws.close()


def test_stale_path_sends_replies_over_the_websocket(svc, udp):
    admin(svc.port, "config", {"udpFreshSeconds": 0.2})
    data = grant(svc.port)
    ws = WsClient(svc.port, relay_path(data["connectionId"]))
    try:
        token = udp.negotiate(data["connectionId"])
        assert wait_until(lambda: not admin(svc.port, "state")["udp"]["paths"][0]["fresh"], 2.0)
        udp.send(data_datagram(token, udp_packet(data["assignedAddress"], "10.20.0.1", 1, 2, b"late")))
        assert ws.recv_binary().endswith(b"late")
        assert udp.recv(0.2) is None
        assert udp.negotiate(data["connectionId"]) == token  # a keep-alive refreshes it
        udp.send(data_datagram(token, udp_packet(data["assignedAddress"], "10.20.0.1", 1, 2, b"again")))
        assert udp.recv().endswith(b"again")
    finally:
        ws.close()


def test_a_new_relay_makes_the_old_path_stale_until_the_next_ack(svc, udp):
    data = grant(svc.port)
    first = WsClient(svc.port, relay_path(data["connectionId"]))
    try:
        token = udp.negotiate(data["connectionId"])
    finally:
        first.close()
    ws = WsClient(svc.port, relay_path(data["connectionId"]))
    try:
        assert admin(svc.port, "state")["udp"]["paths"][0]["fresh"] is False
        ws.send_frame(0x2, udp_packet(data["assignedAddress"], "10.20.0.1", 1, 2, b"after"))
        assert ws.recv_binary().endswith(b"after")
        assert udp.recv(0.2) is None
        renewed = udp.negotiate(data["connectionId"])
        assert renewed != token
        ws.send_frame(0x2, udp_packet(data["assignedAddress"], "10.20.0.1", 1, 2, b"fresh"))
        assert udp.recv().endswith(b"fresh")
    finally:
        ws.close()


def test_data_with_a_wrong_or_old_token_is_dropped(svc, udp):
    data = grant(svc.port)
    token = udp.negotiate(data["connectionId"])
    packet = udp_packet(data["assignedAddress"], "192.168.1.30", 1, 2, b"z")
    udp.send(data_datagram(token ^ 1, packet))
    udp.send(data_datagram(0, packet))
    udp.send(MAGIC + b"\x04" + struct.pack("!Q", token))  # header only
    # Counted once handled: a reply would have been sent before that.
    stats = wait_until(lambda: (s := admin(svc.port, "state")["udp"]["stats"]).get("emptyData", 0) >= 1 and s)
    assert stats and stats["dataBadToken"] == 2 and stats["emptyData"] == 1
    assert udp.recv(0.05) is None

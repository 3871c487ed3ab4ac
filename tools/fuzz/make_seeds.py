#!/usr/bin/python3
"""Writes the seed corpora (tools/fuzz/corpus/<target>/) and dictionaries (tools/fuzz/dictionaries/)
of the fuzz targets: valid messages as the client and the relay exchange them, plus the edge cases
the unit tests name. Run it again after changing it; the files it writes are kept in git."""
import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write_corpus(target, seeds):
    folder = os.path.join(HERE, "corpus", target)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode("utf-8"))


def write_dictionary(target, tokens):
    os.makedirs(os.path.join(HERE, "dictionaries"), exist_ok=True)
    with open(os.path.join(HERE, "dictionaries", target + ".dict"), "w", encoding="ascii") as f:
        f.write("# libFuzzer dictionary, written by tools/fuzz/make_seeds.py\n")
        for token in tokens:
            data = token if isinstance(token, bytes) else token.encode("utf-8")
            f.write('"' + "".join(chr(b) if 0x20 <= b < 0x7F and b not in (0x22, 0x5C) else "\\x%02X" % b
                                  for b in data) + '"\n')


# --- JSON, the settings file and the envelope ------------------------------------------------------
SETTINGS_TEXT = (
    '{\n  "serverUrl": "http://127.0.0.1:18650",\n  "deviceNumber": "SITE-0001",\n'
    '  "deviceSecret": "OVK-DEMO-7F3A-2C91-5E08",\n  "deviceName": "演示现场",\n  "profileName": "演示现场",\n'
    '  "networkInterfaceName": "",\n  "sharedNetworksText": "192.168.1.0/24\\r\\n10.20.0.0/16",\n'
    '  "targetNetwork": "ALL",\n  "engineerId": "ENG-10000001",\n  "rustDeskPath": "C:\\\\Program Files\\\\RustDesk\\\\rustdesk.exe",\n'
    '  "rustDeskAccessPassword": "demo-8842",\n  "rustDeskId": "318 402 775",\n  "rustDeskServiceRunning": false,\n'
    '  "connectionId": "c-0123456789abcdef",\n  "assignedAddress": "100.64.0.2",\n'
    '  "routesText": "192.168.1.0/24\\r\\n10.20.0.0/16",\n  "testIp": "192.168.1.1",\n  "latencyText": "未测试",\n'
    '  "heartbeatAccepted": true,\n  "heartbeatMessage": "DEVICE_OFFLINE",\n'
    '  "siteProfiles": [{"name":"Profile","serverUrl":"http://10.0.0.5:8080","deviceNumber":"D","deviceSecret":"key",'
    '"targetNetwork":"ALL","sharedNetworks":["10.1.0.0/16"]}]\n}\n')

JSON_EDGES = {
    "duplicate_keys": '{"b": 1, "a": true, "a": false}   trailing words',
    "unicode_escape": '"\\u0041\\u4e2d\\uD83D\\uDE00\\uD800"',
    "short_escape": '"\\u41"',
    "unknown_escape": '"\\q\\/\\b\\f\\n\\r\\t\\\\\\""',
    "missing_comma": "[1 2]",
    "trailing_comma": "[1,]",
    "missing_value": '{"k":}',
    "numbers": "[1.2.3, --5, 1e999, -1e-400, 0.5E+3, 12e, +.]",
    "nested": "[[[[{\"a\":[{}]}]]]]",
    "unterminated": '["abc',
    "raw_controls": '"a\x01\x1f\tb\r\nc"',
    "literals": "[null, true, false, nullx, tru]",
    "blank": " \t\r\n",
    "bom": "\ufeff{\"deviceSecret\": \"x\"}",
}

ENVELOPES = {
    "authorized": '{"success":true,"code":"OK","message":"","data":{"connectionId":"c-1","assignedAddress":"100.64.0.2",'
                  '"routes":["192.168.1.0/24","10.20.0.0/16"],"deviceNumber":"SITE-0001","targetNetwork":"ALL"}}',
    "refused": '{"success":false,"code":"DEVICE_OFFLINE","message":"现场设备离线","data":null}',
    "resolved": '{"success":true,"code":"OK","message":"","data":{"deviceNumber":"SITE-0001","deviceName":"演示现场",'
                '"sharedNetworks":["192.168.1.0/24"]}}',
    "string_success": '{"success":"true","code":1,"message":["x"],"data":7}',
    "html_page": "<html><body>502 Bad Gateway</body></html>",
    "array_body": '[{"success":true}]',
    "trailing": '{"success":true,"data":{}} <!-- proxy -->',
    "empty": "",
}

JSON_TOKENS = ["{", "}", "[", "]", ":", ",", '"', "\\", "\\u", "\\uD800", "\\uDC00", "true", "false", "null",
               "1e999", "-0", ".5", "E+", "\ufeff", "\u00a0", "\u3000"]
SETTINGS_KEYS = ["serverUrl", "deviceNumber", "deviceSecret", "deviceName", "profileName", "networkInterfaceName",
                 "sharedNetworksText", "targetNetwork", "engineerId", "rustDeskPath", "rustDeskAccessPassword",
                 "rustDeskId", "rustDeskServiceRunning", "connectionId", "assignedAddress", "routesText", "testIp",
                 "latencyText", "heartbeatAccepted", "heartbeatMessage", "siteProfiles", "name", "sharedNetworks"]
ENVELOPE_KEYS = ["success", "code", "message", "data", "DEVICE_OFFLINE", "device_relay_offline"]

write_corpus("json_document", {**JSON_EDGES, "settings": SETTINGS_TEXT, **{"envelope_" + k: v for k, v in ENVELOPES.items()}})
write_dictionary("json_document", JSON_TOKENS)
write_corpus("settings_file", {"full": SETTINGS_TEXT, "minimal": '{"deviceSecret": "x", "siteProfiles": [{"name": "P"}]}',
                               "odd_urls": '{"serverUrl": " :/// ", "siteProfiles": [{"name":"a","serverUrl":"ab\\\\\\\\x/",'
                                           '"targetNetwork":"","sharedNetworks":[1,"10.0.0.0/8",null]}, 5, {"name":""}]}',
                               "wrong_types": '{"serverUrl": 5, "heartbeatAccepted": "true", "siteProfiles": {}}',
                               "broken": '{"deviceSecret": "other", "siteProfiles": [{"name": "Lost"'})
write_dictionary("settings_file", JSON_TOKENS + ['"%s"' % k for k in SETTINGS_KEYS] + ["http://", "://", "/"])
write_corpus("api_envelope", ENVELOPES)
write_dictionary("api_envelope", JSON_TOKENS + ['"%s"' % k for k in ENVELOPE_KEYS])


# --- Packets ------------------------------------------------------------------------------------------
def checksum(data):
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def ipv4(protocol, source, destination, transport):
    header = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(transport), 1, 0, 64, protocol, 0,
                         bytes(source), bytes(destination))
    header = header[:10] + struct.pack("!H", checksum(header)) + header[12:]
    return header + transport


LOCAL = [192, 168, 77, 10]
SITE = [192, 168, 1, 25]
MAPPED = [100, 80, 0, 25]
ICMP_ECHO = struct.pack("!BBHHH", 8, 0, 0, 0x4242, 1) + b"abcdefgh"
UDP = struct.pack("!HHHH", 50000, 7, 8 + 300, 0) + b"a" * 300
TCP_SYN = struct.pack("!HHIIBBHHH", 40000, 443, 1, 0, 0x80, 0x02, 64240, 0, 0) + \
    bytes([2, 4, 0x05, 0xB4, 1, 1, 4, 2, 1, 3, 3, 8, 0, 0, 0, 0, 0, 0, 0, 0])[:12]
PACKETS = {
    "icmp_echo": ipv4(1, LOCAL, SITE, ICMP_ECHO),
    "icmp_remapped": ipv4(1, LOCAL, MAPPED, ICMP_ECHO),
    "udp": ipv4(17, LOCAL, SITE, UDP),
    "tcp_syn_mss1460": ipv4(6, LOCAL, MAPPED, TCP_SYN),
}
# The fuzz target reads its choices from the end of the input and packets from the front.
write_corpus("packet_translation", {name: packet + bytes(range(40, 104)) for name, packet in PACKETS.items()})
write_dictionary("packet_translation", [b"\x45\x00", b"\x46\x00", b"\x4f", b"\x06", b"\x11", b"\x01", b"\x02\x04\x05\xb4",
                                        b"\x01\x01", b"\x00", b"\x64\x50", b"\xc0\xa8\x01", b"\xff\xff"])

# --- WebSocket --------------------------------------------------------------------------------------
ACCEPT = ("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
          "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n").encode()


def frame(opcode, payload, fin=True, mask=None, length_form=None):
    first = (0x80 if fin else 0) | opcode
    n = len(payload)
    form = length_form or ("short" if n < 126 else "16" if n <= 0xFFFF else "64")
    mask_bit = 0x80 if mask else 0
    if form == "short":
        head = bytes([first, mask_bit | n])
    elif form == "16":
        head = bytes([first, mask_bit | 126]) + struct.pack("!H", n)
    else:
        head = bytes([first, mask_bit | 127]) + struct.pack("!Q", n)
    if mask:
        payload = bytes(b ^ mask[i % 4] for i, b in enumerate(payload))
        head += bytes(mask)
    return head + payload


packet = PACKETS["icmp_echo"]
write_corpus("websocket_handshake", {
    "accepted": b"\x00\x05" + ACCEPT + frame(2, packet),
    "refused": b"\x03\x00" + b"HTTP/1.1 403 Forbidden\r\nContent-Type: application/json\r\n\r\n"
               b'{"success":false,"code":"CONNECTION_ENDED"}',
    "no_terminator": b"\x01\x01" + b"HTTP/1.1 101 Switching\r\nX: " + b"y" * 300,
    "no_space": b"\x00\x00" + b"HTTP/1.1\r\n\r\n",
    "signed_status": b"\x02\x02" + b"HTTP/1.1 -12 x\r\n\r\n",
})
write_dictionary("websocket_handshake", ["HTTP/1.1 ", "101", " ", "\r\n", "\r\n\r\n", "Upgrade: websocket",
                                         "Connection: Upgrade", "Sec-WebSocket-Accept: "])
write_corpus("websocket_frames", {
    "binary": b"\x00\x10\x40" + frame(2, packet) + frame(2, PACKETS["udp"]),
    "fragmented_with_ping": b"\x03\x00\x07" + frame(2, packet[:10], fin=False) + frame(9, b"ab") +
                            frame(0, packet[10:30], fin=False) + frame(10, b"") + frame(1, b"text") +
                            frame(0, packet[30:]),
    "masked": b"\x00\x00\x00" + frame(2, packet, mask=[0x12, 0x34, 0x56, 0x78]),
    "length_forms": b"\xff\xff\xff" + frame(2, b"x" * 126) + frame(2, b"y" * 10, length_form="64"),
    "close": b"\x01\x02\x03" + frame(8, struct.pack("!H", 1000) + b"bye"),
    "oversized": b"\x00\x00\x00" + bytes([0x82, 127]) + struct.pack("!Q", 4 * 1024 * 1024 + 1),
    "top_bit_length": b"\x00\x00\x00" + bytes([0x82, 127, 0x80, 0, 0, 0, 0, 0, 0, 1]),
    "empty_binary": b"\x00\x00\x00" + frame(2, b""),
})
write_dictionary("websocket_frames", [b"\x82", b"\x02", b"\x80", b"\x00", b"\x81", b"\x88", b"\x89", b"\x8a", b"\x8b",
                                      b"\x7e", b"\x7f", b"\xfe", b"\xff", b"\x00\x40\x00\x00", b"\x00\x40\x00\x01",
                                      b"\x80\x00\x00\x00\x00\x00\x00\x00"])

# --- UDP datagrams ----------------------------------------------------------------------------------
write_corpus("udp_datagrams", {
    "hello": bytes.fromhex("4F5655310200026331000545 4E472D31".replace(" ", "")),
    "ack_token_1": bytes.fromhex("4F56553103020000000000000001"),
    "ack_role_1": bytes.fromhex("4F56553103010000000000000001"),
    "ack_token_0": bytes.fromhex("4F56553103020000000000000000"),
    "data": b"OVU1\x04" + struct.pack("!Q", 0x1122334455667788) + PACKETS["udp"],
    "data_header_only": b"OVU1\x04" + struct.pack("!Q", 5),
    "udp_packet": PACKETS["udp"],
})
write_dictionary("udp_datagrams", ["OVU1", b"OVU1\x02", b"OVU1\x03\x02", b"OVU1\x04", b"\x45\x00", b"\x11",
                                   b"\x00\x00\x00\x00\x00\x00\x00\x01"])
print("seeds and dictionaries written under", HERE)

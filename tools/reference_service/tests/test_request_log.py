"""Every request is recorded with its exact request line, headers and body, both in
the JSON-lines file and by GET /admin/requests."""
import base64
import json

from support import admin, authorize, grant, http_request, relay_path, WsClient


def read_log(path):
    with open(path, encoding="utf-8") as handle:
        return [json.loads(line) for line in handle if line.strip()]


def test_post_is_recorded_exactly(svc):
    body = '{"deviceSecret":"中文 key"}'.encode("utf-8")
    http_request(svc.port, "POST", "/api/devices/resolve?x=1&y=%20", body,
                 {"User-Agent": "Ostrevane.Native/0.2", "Content-Type": "application/json; charset=utf-8"})
    (entry,) = read_log(svc.request_log)
    assert entry["requestLine"] == "POST /api/devices/resolve?x=1&y=%20 HTTP/1.1"
    assert entry["method"] == "POST" and entry["path"] == "/api/devices/resolve"
    assert entry["query"] == "x=1&y=%20" and entry["hasQuery"] is True
    assert ["User-Agent", "Ostrevane.Native/0.2"] in entry["headers"]
    assert ["Content-Type", "application/json; charset=utf-8"] in entry["headers"]
    assert entry["body"] == body.decode("utf-8") and entry["bodyIsUtf8"] is True
    assert base64.b64decode(entry["bodyBase64"]) == body and entry["bodyLength"] == len(body)
    assert admin(svc.port, "requests") == [entry]


def test_non_utf8_body_is_kept_in_base64(svc):
    http_request(svc.port, "POST", "/api/devices/resolve", b"\xff\x00\xfe")
    (entry,) = admin(svc.port, "requests")
    assert entry["bodyIsUtf8"] is False and base64.b64decode(entry["bodyBase64"]) == b"\xff\x00\xfe"


def test_relay_upgrade_request_is_recorded_with_its_handshake(svc):
    data = grant(svc.port)
    path = relay_path(data["connectionId"])
    ws = WsClient(svc.port, path)
    ws.close()
    entries = admin(svc.port, "requests")
    upgrade = entries[-1]
    assert upgrade["requestLine"] == f"GET {path} HTTP/1.1"
    assert upgrade["headers"] == [["Host", f"127.0.0.1:{svc.port}"], ["Upgrade", "websocket"],
                                  ["Connection", "Upgrade"], ["Sec-WebSocket-Key", "dGhlIHNhbXBsZSBub25jZQ=="],
                                  ["Sec-WebSocket-Version", "13"]]
    assert upgrade["body"] == "" and upgrade["bodyLength"] == 0


def test_sequence_numbers_increase_and_since_filters(svc):
    for _ in range(3):
        authorize(svc.port)
    entries = admin(svc.port, "requests")
    assert [e["seq"] for e in entries] == sorted(e["seq"] for e in entries)
    since = entries[0]["seq"]
    assert admin(svc.port, f"requests?since={since}") == entries[1:]
    assert read_log(svc.request_log) == entries


def test_admin_requests_are_not_recorded_and_reset_clears_the_log(svc):
    authorize(svc.port)
    admin(svc.port, "state")
    assert len(admin(svc.port, "requests")) == 1
    admin(svc.port, "reset", {})
    assert admin(svc.port, "requests") == [] and read_log(svc.request_log) == []

"""Files served by GET for the download tests: generated content, literal pages,
error statuses and transfers cut off half-way."""
import http.client

import pytest

from support import admin, http_request


def expected_content(size: int, prefix: bytes = b"") -> bytes:
    data = bytearray(i % 251 for i in range(size))
    data[:len(prefix)] = prefix
    return bytes(data)


@pytest.fixture
def files(svc):
    scenario = admin(svc.port, "scenario")
    scenario["files"] = {
        "/dl/small.exe": {"size": 1000, "prefix": "MZ"},
        "/dl/big.bin": {"size": 300000},
        "/dl/page": {"body": "<html><body>登录</body></html>"},
        "/dl/missing": {"status": 404, "body": "not here", "contentType": "text/plain"},
        "/dl/cut.exe": {"size": 200000, "truncateAt": 100000},
    }
    admin(svc.port, "scenario", scenario)
    return svc


def test_demo_download_matches_the_documented_pattern(svc):
    status, headers, body = http_request(svc.port, "GET", "/downloads/rustdesk.exe")
    assert status == 200 and len(body) == 2097152 and int(headers["Content-Length"]) == 2097152
    assert body == expected_content(2097152, b"MZ")


def test_generated_files(files):
    status, headers, body = http_request(files.port, "GET", "/dl/small.exe")
    assert status == 200 and body == expected_content(1000, b"MZ")
    assert headers["Content-Type"] == "application/octet-stream"
    assert http_request(files.port, "GET", "/dl/big.bin")[2] == expected_content(300000)


def test_html_page_and_404(files):
    status, headers, body = http_request(files.port, "GET", "/dl/page")
    assert status == 200 and body.decode("utf-8") == "<html><body>登录</body></html>"
    assert headers["Content-Type"] == "text/html; charset=utf-8"
    status, _, body = http_request(files.port, "GET", "/dl/missing")
    assert status == 404 and body == b"not here"


def test_truncated_transfer_promises_more_than_it_sends(files):
    conn = http.client.HTTPConnection("127.0.0.1", files.port, timeout=5)
    try:
        conn.request("GET", "/dl/cut.exe")
        response = conn.getresponse()
        assert response.status == 200 and int(response.getheader("Content-Length")) == 200000
        with pytest.raises(http.client.IncompleteRead) as caught:
            response.read()
        assert caught.value.partial == expected_content(200000)[:100000]
    finally:
        conn.close()


def test_downloads_are_recorded(files):
    http_request(files.port, "GET", "/dl/small.exe")
    (entry,) = admin(files.port, "requests")
    assert entry["requestLine"] == "GET /dl/small.exe HTTP/1.1"

"""Malformed requests get refusals, never a crash or a hang; a fuzzing round ends with
the service still answering correctly."""
import json
import random

import pytest

from support import DEMO_KEY, DEMO_NUMBER, admin, http_request, post_json

PATHS = ["/api/devices/resolve", "/api/connections/request", "/api/connections/c-x/disconnect",
         f"/api/devices/{DEMO_NUMBER}/remote-desktop/session"]


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("raw", [b"", b"not json", b"{", b"[]", b"\"text\"", b"42", b"null",
                                 b"\xff\xfe\x00", b"{\"deviceSecret\":", b"[" * 5000 + b"]" * 5000])
def test_bodies_that_are_not_json_objects_are_refused(svc, path, raw):
    status, envelope = post_json(svc.port, path, raw=raw)
    assert envelope["success"] is False and envelope["code"] == "BAD_JSON" and envelope["message"]
    assert status == 400


@pytest.mark.parametrize("body", [
    {},
    {"deviceSecret": 5},
    {"deviceSecret": None},
    {"deviceSecret": ["OVK"]},
    {"deviceSecret": ""},
    {"deviceNumber": DEMO_NUMBER, "deviceSecret": DEMO_KEY, "targetNetwork": 1, "engineerId": "E"},
    {"deviceNumber": DEMO_NUMBER, "deviceSecret": DEMO_KEY, "targetNetwork": "ALL"},
    {"deviceNumber": DEMO_NUMBER, "deviceSecret": DEMO_KEY, "targetNetwork": "ALL", "engineerId": "E",
     "clientPublicKey": {}},
])
def test_missing_or_mistyped_members_are_refused(svc, body):
    path = "/api/devices/resolve" if set(body) <= {"deviceSecret"} else "/api/connections/request"
    status, envelope = post_json(svc.port, path, body)
    assert envelope["success"] is False and envelope["code"] == "INVALID_REQUEST", envelope
    assert status == 400


def test_oversized_body_is_refused(svc):
    status, envelope = post_json(svc.port, "/api/devices/resolve", raw=b"{" + b" " * (2 * 1024 * 1024) + b"}")
    assert status == 413 and envelope["code"] == "PAYLOAD_TOO_LARGE"


def _random_value(rng, depth=0):
    kinds = ["str", "int", "float", "bool", "null"] + (["list", "obj"] if depth < 3 else [])
    kind = rng.choice(kinds)
    if kind == "str":
        return rng.choice(["", "ALL", DEMO_KEY, DEMO_NUMBER, "中文", "x" * rng.randint(0, 300), "\u0000"])
    if kind == "int":
        return rng.randint(-2**70, 2**70)
    if kind == "float":
        return rng.random() * 1e300
    if kind == "bool":
        return rng.random() < 0.5
    if kind == "null":
        return None
    if kind == "list":
        return [_random_value(rng, depth + 1) for _ in range(rng.randint(0, 4))]
    names = ["deviceSecret", "deviceNumber", "targetNetwork", "engineerId", "clientPublicKey", "reason", "zz"]
    return {rng.choice(names): _random_value(rng, depth + 1) for _ in range(rng.randint(0, 6))}


def test_fuzzed_bodies_always_get_an_envelope(svc):
    rng = random.Random(6)
    for round_number in range(300):
        path = rng.choice(PATHS)
        if rng.random() < 0.2:
            raw = bytes(rng.randrange(256) for _ in range(rng.randint(0, 64)))
        else:
            raw = json.dumps(_random_value(rng)).encode()
        status, envelope = post_json(svc.port, path, raw=raw)
        assert set(envelope) == {"success", "code", "message", "data"}, (round_number, raw)
        assert isinstance(envelope["success"], bool) and isinstance(envelope["code"], str)
        assert status < 500, (round_number, raw, envelope)
    _, envelope = post_json(svc.port, "/api/devices/resolve", {"deviceSecret": DEMO_KEY})
    assert envelope["success"] is True


def test_odd_request_targets_do_not_break_the_service(svc):
    for target in ["/api/connections/%ZZ/disconnect", "/api/devices/%E4%B8%AD/remote-desktop/session",
                   "/api//connections//request", "/" + "a" * 4000, "/api/relay/client/", "/admin"]:
        status, _, _ = http_request(svc.port, "POST", target, b"{}")
        assert 200 <= status < 500, target
    assert admin(svc.port, "state")["baseUrl"] == svc.url

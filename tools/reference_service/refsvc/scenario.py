"""Scenario files: the devices the service knows, its address pool, refusal rules,
static files and the behaviour of the simulated site.

A scenario is plain JSON. `load_scenario` checks it completely before the service
uses any of it, so that a broken file is reported at start-up (or by the admin
endpoint) instead of failing later in the middle of a request.
"""
from __future__ import annotations

import base64
import copy
import ipaddress
import json
from dataclasses import dataclass, field
from typing import Any, Optional


class ScenarioError(ValueError):
    pass


@dataclass
class Device:
    access_key: str
    device_number: str
    device_name: str
    shared_networks: list[str]           # as written in the scenario
    networks: list[ipaddress.IPv4Network]  # parsed, same order
    offline: bool = False
    relay_offline: bool = False
    max_connections: Optional[int] = None
    remote_desktop: Optional[dict] = None  # rustDeskId, accessPassword, server


@dataclass
class Rule:
    path: str
    method: Optional[str]
    count: Optional[int]
    skip: int
    status: int
    code: Optional[str]
    message: str
    body: Any
    has_body: bool
    raw_body: Optional[bytes]
    content_type: str
    delay_ms: int


@dataclass
class StaticFile:
    status: int
    content_type: str
    size: Optional[int]
    prefix: bytes
    body: Optional[bytes]
    truncate_at: Optional[int]

    @property
    def length(self) -> int:
        if self.body is not None:
            return len(self.body)
        return self.size or 0


@dataclass
class SiteSettings:
    silent_addresses: set[str] = field(default_factory=set)
    reply_delay_ms: int = 0


@dataclass
class Scenario:
    source: dict
    devices: list[Device]
    address_pool: ipaddress.IPv4Network
    connection_ids: list[str]
    rules: list[Rule]
    files: dict[str, StaticFile]
    site: SiteSettings

    def device_by_key(self, key: str) -> Optional[Device]:
        for device in self.devices:
            if device.access_key == key:
                return device
        return None

    def device_by_number(self, number: str) -> Optional[Device]:
        for device in self.devices:
            if device.device_number == number:
                return device
        return None


def _expect(cond: bool, where: str, what: str) -> None:
    if not cond:
        raise ScenarioError(f"{where}: {what}")


def _string(obj: dict, key: str, where: str, default: Optional[str] = None) -> str:
    value = obj.get(key, default)
    _expect(isinstance(value, str), where, f'"{key}" must be a string')
    return value


def _optional_int(obj: dict, key: str, where: str, minimum: int = 0) -> Optional[int]:
    value = obj.get(key)
    if value is None:
        return None
    _expect(isinstance(value, int) and not isinstance(value, bool) and value >= minimum,
            where, f'"{key}" must be an integer >= {minimum}')
    return value


def _bytes_from(obj: dict, text_key: str, b64_key: str, where: str) -> Optional[bytes]:
    if text_key in obj and b64_key in obj:
        raise ScenarioError(f'{where}: give "{text_key}" or "{b64_key}", not both')
    if text_key in obj:
        return _string(obj, text_key, where).encode("utf-8")
    if b64_key in obj:
        try:
            return base64.b64decode(_string(obj, b64_key, where), validate=True)
        except ValueError as exc:
            raise ScenarioError(f'{where}: "{b64_key}" is not base64') from exc
    return None


def _network(text: Any, where: str) -> ipaddress.IPv4Network:
    _expect(isinstance(text, str), where, "a network must be a string such as 192.168.1.0/24")
    try:
        return ipaddress.IPv4Network(text.strip(), strict=False)
    except ValueError as exc:
        raise ScenarioError(f"{where}: {text!r} is not an IPv4 network") from exc


def _device(obj: Any, index: int) -> Device:
    where = f"devices[{index}]"
    _expect(isinstance(obj, dict), where, "must be an object")
    key = obj.get("accessKey", obj.get("deviceSecret"))
    _expect(isinstance(key, str) and key != "", where, '"accessKey" must be a non-empty string')
    number = _string(obj, "deviceNumber", where)
    _expect(number != "", where, '"deviceNumber" must not be empty')
    name = _string(obj, "deviceName", where, "")
    shared = obj.get("sharedNetworks", [])
    _expect(isinstance(shared, list), where, '"sharedNetworks" must be an array')
    networks = [_network(n, f"{where}.sharedNetworks[{i}]") for i, n in enumerate(shared)]
    rd = obj.get("remoteDesktop", obj.get("rustDesk"))
    if rd is not None:
        _expect(isinstance(rd, dict), where, '"remoteDesktop" must be an object')
        rd = copy.deepcopy(rd)
    for flag in ("offline", "relayOffline"):
        _expect(isinstance(obj.get(flag, False), bool), where, f'"{flag}" must be true or false')
    return Device(access_key=key, device_number=number, device_name=name,
                  shared_networks=[s.strip() for s in shared], networks=networks,
                  offline=obj.get("offline", False), relay_offline=obj.get("relayOffline", False),
                  max_connections=_optional_int(obj, "maxConnections", where, 1),
                  remote_desktop=rd)


def _rule(obj: Any, index: int) -> Rule:
    where = f"rules[{index}]"
    _expect(isinstance(obj, dict), where, "must be an object")
    path = _string(obj, "path", where)
    _expect(path.startswith("/"), where, '"path" must start with "/"')
    method = obj.get("method")
    _expect(method is None or isinstance(method, str), where, '"method" must be a string')
    status = obj.get("status", 200)
    _expect(isinstance(status, int) and 200 <= status <= 599, where, '"status" must be 200..599')
    code = obj.get("code")
    _expect(code is None or isinstance(code, str), where, '"code" must be a string')
    raw = _bytes_from(obj, "rawBody", "rawBodyBase64", where)
    has_body = "body" in obj
    kinds = sum([code is not None, has_body, raw is not None])
    _expect(kinds == 1, where, 'give exactly one of "code", "body", "rawBody"/"rawBodyBase64"')
    default_type = "application/json; charset=utf-8" if raw is None else "text/plain; charset=utf-8"
    return Rule(path=path, method=method.upper() if method else None,
                count=_optional_int(obj, "count", where, 0), skip=_optional_int(obj, "skip", where) or 0,
                status=status, code=code, message=_string(obj, "message", where, ""),
                body=copy.deepcopy(obj.get("body")), has_body=has_body, raw_body=raw,
                content_type=_string(obj, "contentType", where, default_type),
                delay_ms=_optional_int(obj, "delayMs", where) or 0)


def _static_file(path: Any, obj: Any) -> StaticFile:
    where = f"files[{path!r}]"
    _expect(isinstance(path, str) and path.startswith("/"), where, "the key must be a path starting with /")
    _expect(isinstance(obj, dict), where, "must be an object")
    status = obj.get("status", 200)
    _expect(isinstance(status, int) and 200 <= status <= 599, where, '"status" must be 200..599')
    body = _bytes_from(obj, "body", "bodyBase64", where)
    size = _optional_int(obj, "size", where)
    _expect(body is None or size is None, where, 'give "size" or a body, not both')
    prefix = _bytes_from(obj, "prefix", "prefixBase64", where) or b""
    if size is not None:
        _expect(len(prefix) <= size, where, '"prefix" is longer than "size"')
        _expect(size <= 1 << 31, where, '"size" is too large')
    truncate = _optional_int(obj, "truncateAt", where)
    result = StaticFile(status=status, size=size, prefix=prefix, body=body, truncate_at=truncate,
                        content_type=_string(obj, "contentType", where,
                                             "application/octet-stream" if body is None
                                             else "text/html; charset=utf-8"))
    if truncate is not None:
        _expect(truncate < result.length, where, '"truncateAt" must be below the file length')
    return result


def load_scenario(source: Any) -> Scenario:
    """Checks and converts a parsed scenario document."""
    _expect(isinstance(source, dict), "scenario", "must be a JSON object")
    devices_src = source.get("devices", [])
    _expect(isinstance(devices_src, list), "scenario", '"devices" must be an array')
    devices = [_device(d, i) for i, d in enumerate(devices_src)]
    keys = [d.access_key for d in devices]
    _expect(len(keys) == len(set(keys)), "devices", "access keys must be unique")
    numbers = [d.device_number for d in devices]
    _expect(len(numbers) == len(set(numbers)), "devices", "device numbers must be unique")

    pool = _network(source.get("addressPool", "100.64.0.0/16"), "addressPool")
    _expect(pool.num_addresses >= 4, "addressPool", "must hold at least 4 addresses")

    ids = source.get("connectionIds", [])
    _expect(isinstance(ids, list) and all(isinstance(i, str) and i for i in ids),
            "connectionIds", "must be an array of non-empty strings")

    rules_src = source.get("rules", [])
    _expect(isinstance(rules_src, list), "scenario", '"rules" must be an array')
    rules = [_rule(r, i) for i, r in enumerate(rules_src)]

    files_src = source.get("files", {})
    _expect(isinstance(files_src, dict), "scenario", '"files" must be an object')
    files = {p: _static_file(p, f) for p, f in files_src.items()}

    site_src = source.get("site", {})
    _expect(isinstance(site_src, dict), "scenario", '"site" must be an object')
    silent = site_src.get("silentAddresses", [])
    _expect(isinstance(silent, list), "site", '"silentAddresses" must be an array')
    silent_set = set()
    for i, addr in enumerate(silent):
        try:
            silent_set.add(str(ipaddress.IPv4Address(addr)))
        except (ValueError, TypeError) as exc:
            raise ScenarioError(f"site.silentAddresses[{i}]: not an IPv4 address") from exc
    site = SiteSettings(silent_addresses=silent_set,
                        reply_delay_ms=_optional_int(site_src, "replyDelayMs", "site") or 0)

    return Scenario(source=copy.deepcopy(source), devices=devices, address_pool=pool,
                    connection_ids=list(ids), rules=rules, files=files, site=site)


def load_scenario_file(path: str) -> Scenario:
    try:
        with open(path, "rb") as handle:
            document = json.loads(handle.read().decode("utf-8"))
    except OSError as exc:
        raise ScenarioError(f"cannot read {path}: {exc.strerror}") from exc
    except (UnicodeDecodeError, json.JSONDecodeError) as exc:
        raise ScenarioError(f"{path} is not valid UTF-8 JSON: {exc}") from exc
    return load_scenario(document)


def substitute_base_url(value: Any, base_url: str) -> Any:
    """Replaces "{baseUrl}" in every string of a JSON value, so a scenario can point
    download URLs at whichever port the service was started on."""
    if isinstance(value, str):
        return value.replace("{baseUrl}", base_url)
    if isinstance(value, list):
        return [substitute_base_url(v, base_url) for v in value]
    if isinstance(value, dict):
        return {k: substitute_base_url(v, base_url) for k, v in value.items()}
    return value

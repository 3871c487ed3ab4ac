"""Admin endpoints under /admin/ for tests: inspect the service's state, read the
request log, switch faults on and off, push packets to the client and replace the
scenario. Loopback peers only; JSON in, the usual envelope out."""
from __future__ import annotations

import base64
import binascii
import ipaddress
from typing import TYPE_CHECKING, Any, Callable, Optional

from aiohttp import web

from .envelope import Refusal, ok, parse_json_object
from .scenario import ScenarioError, load_scenario
from .wsframes import OP_BINARY, encode_length

if TYPE_CHECKING:
    from .app import Service


def _is_loopback(remote: Optional[str]) -> bool:
    try:
        return remote is not None and ipaddress.ip_address(remote).is_loopback
    except ValueError:
        return False


def _body_object(body: bytes) -> dict:
    return parse_json_object(body) if body.strip() else {}


def _get(params: dict, name: str, kind: type, default: Any = None, *, minimum: Optional[float] = None):
    value = params.get(name, default)
    if value is None:
        return None
    if kind is float and isinstance(value, int) and not isinstance(value, bool):
        value = float(value)
    if not isinstance(value, kind) or (kind is int and isinstance(value, bool)):
        raise Refusal("INVALID_REQUEST", f"参数 {name} 类型错误")
    if minimum is not None and value < minimum:
        raise Refusal("INVALID_REQUEST", f"参数 {name} 超出范围")
    return value


def _bytes_param(params: dict, name: str = "base64") -> bytes:
    text = _get(params, name, str)
    if text is None:
        raise Refusal("INVALID_REQUEST", f"缺少参数 {name}")
    try:
        return base64.b64decode(text, validate=True)
    except (binascii.Error, ValueError):
        raise Refusal("INVALID_REQUEST", f"参数 {name} 不是 base64") from None


class Admin:
    def __init__(self, service: "Service"):
        self.service = service
        self.faults: dict[str, Callable[[dict], Any]] = {
            "clear": self.f_clear,
            "close-relays": self.f_close_relays,
            "refuse-upgrades": self.f_refuse_upgrades,
            "raw-upgrade-response": self.f_raw_upgrade_response,
            "udp-silence": self.f_udp_silence,
            "ignore-hellos": self.f_ignore_hellos,
            "renew-udp-tokens": self.f_renew_udp_tokens,
            "send-close-frame": self.f_send_close_frame,
            "send-oversized-frame": self.f_send_oversized_frame,
            "send-raw": self.f_send_raw,
            "delay-http": self.f_delay_http,
            "send-udp": self.f_send_udp,
        }

    def route_defs(self) -> list[web.RouteDef]:
        """The admin endpoints. A known path with another method gets 405 from aiohttp, the
        loopback check and the envelope come from the middlewares."""
        table = [
            ("GET", "/admin/state", self.state),
            ("GET", "/admin/requests", self.requests),
            ("GET", "/admin/packets", self.packets),
            ("GET", "/admin/scenario", self.get_scenario),
            ("POST", "/admin/scenario", self.set_scenario),
            ("POST", "/admin/reset", self.reset),
            ("POST", "/admin/config", self.config),
            ("POST", "/admin/fault", self.fault),
            ("POST", "/admin/send-packet", self.send_packet),
            ("POST", "/admin/ping", self.ping),
        ]
        return [web.get(path, self._endpoint(action), allow_head=False) if method == "GET"
                else web.post(path, self._endpoint(action)) for method, path, action in table]

    @staticmethod
    def _endpoint(action: Callable[[dict, web.Request], Any]):
        """POST endpoints take a JSON object (or nothing), GET endpoints their query."""
        async def handler(request: web.Request) -> web.Response:
            body = await request.read()
            params = _body_object(body) if request.method == "POST" else dict(request.query.items())
            return ok(action(params, request))
        return handler

    # --- inspection --------------------------------------------------------------
    def state(self, params: dict, request: web.Request) -> dict:
        return self.service.snapshot()

    @staticmethod
    def _since(params: dict) -> int:
        try:
            return int(params.get("since", "0"))
        except (TypeError, ValueError):
            raise Refusal("INVALID_REQUEST", "参数 since 必须是整数") from None

    def requests(self, params: dict, request: web.Request) -> list:
        return self.service.recorder.entries(self._since(params))

    def packets(self, params: dict, request: web.Request) -> list:
        since = self._since(params)
        return [p for p in self.service.router.log if p["seq"] > since]

    def get_scenario(self, params: dict, request: web.Request) -> dict:
        return self.service.scenario.source

    # --- control -------------------------------------------------------------------
    def set_scenario(self, params: dict, request: web.Request) -> dict:
        try:
            scenario = load_scenario(params)
        except ScenarioError as exc:
            raise Refusal("INVALID_SCENARIO", f"场景无效：{exc}") from None
        self.service.replace_scenario(scenario)
        return {"devices": len(scenario.devices), "rules": len(scenario.rules)}

    def reset(self, params: dict, request: web.Request) -> dict:
        self.service.reset(keep_scenario=bool(_get(params, "keepScenario", bool, False)))
        return {}

    def config(self, params: dict, request: web.Request) -> dict:
        config = self.service.config
        interval = _get(params, "pingIntervalSeconds", float, minimum=0)
        fresh = _get(params, "udpFreshSeconds", float, minimum=0)
        if interval is not None:
            config.ping_interval = interval
        if fresh is not None:
            config.udp_fresh_seconds = fresh
        return config.to_json()

    def fault(self, params: dict, request: web.Request) -> Any:
        name = _get(params, "name", str)
        action = self.faults.get(name or "")
        if action is None:
            raise Refusal("UNKNOWN_FAULT", f"未知故障：{name}")
        return action(params)

    def _sessions(self, params: dict):
        sessions = self.service.relays.select(_get(params, "connectionId", str))
        if not sessions:
            raise Refusal("NO_RELAY", "没有活动的中继连接", 409)
        return sessions

    def _connection(self, params: dict):
        connection_id = _get(params, "connectionId", str)
        if connection_id is not None:
            connection = self.service.connections.get(connection_id)
            if connection is None:
                raise Refusal("CONNECTION_NOT_FOUND", "连接不存在", 404)
            return connection
        session = max(self.service.relays.live.values(), key=lambda s: s.session_id, default=None)
        if session is not None:
            return session.connection
        live = [c for c in self.service.connections.by_id.values() if not c.ended]
        if not live:
            raise Refusal("CONNECTION_NOT_FOUND", "没有有效连接", 409)
        return live[-1]

    def send_packet(self, params: dict, request: web.Request) -> dict:
        packet = _bytes_param(params)
        via = _get(params, "via", str, "ws")
        if via not in ("ws", "udp", "auto"):
            raise Refusal("INVALID_REQUEST", "参数 via 只能是 ws、udp 或 auto")
        connection = self._connection(params)
        sent = self.service.router.deliver(connection, packet, via)
        if sent == "dropped":
            raise Refusal("NOT_SENT", "数据包未能发送（无可用通道）", 409)
        return {"connectionId": connection.connection_id, "via": sent}

    def ping(self, params: dict, request: web.Request) -> dict:
        payload = _bytes_param(params, "payloadBase64") if "payloadBase64" in params else None
        if payload is not None and len(payload) > 125:
            raise Refusal("INVALID_REQUEST", "ping 负载不能超过 125 字节")
        sent = [base64.b64encode(s.send_ping(payload)).decode("ascii") for s in self._sessions(params)]
        return {"payloadsBase64": sent}

    # --- faults --------------------------------------------------------------------
    def f_clear(self, params: dict) -> dict:
        self.service.clear_faults()
        return {}

    def f_close_relays(self, params: dict) -> dict:
        sessions = self.service.relays.select(_get(params, "connectionId", str))
        abort = _get(params, "abort", bool, False)
        for session in sessions:
            session.close("closed by admin fault", abort=abort)
        return {"closed": len(sessions)}

    def f_refuse_upgrades(self, params: dict) -> dict:
        count = _get(params, "count", int, 1, minimum=0)
        status = _get(params, "status", int, 503, minimum=400)
        faults = self.service.faults
        faults.refuse_upgrades.set(True, count)
        faults.refuse_status = status
        return faults.to_json()["refuseUpgrades"]

    def f_raw_upgrade_response(self, params: dict) -> dict:
        data = _bytes_param(params)
        count = _get(params, "count", int, 1, minimum=1)
        close_after = _get(params, "closeAfterMs", int, 0, minimum=0)
        for _ in range(count):
            self.service.faults.raw_upgrade_responses.append({"data": data, "closeAfterMs": close_after})
        return {"queued": len(self.service.faults.raw_upgrade_responses)}

    def f_udp_silence(self, params: dict) -> dict:
        self.service.faults.udp_silent = bool(_get(params, "enabled", bool, True))
        return {"udpSilent": self.service.faults.udp_silent}

    def f_ignore_hellos(self, params: dict) -> dict:
        enabled = _get(params, "enabled", bool, True)
        count = _get(params, "count", int, None, minimum=0)
        self.service.faults.ignore_hellos.set(enabled, count)
        return self.service.faults.ignore_hellos.to_json()

    def f_renew_udp_tokens(self, params: dict) -> dict:
        for connection in self.service.connections.by_id.values():
            connection.udp.renew_token = True
        return {}

    def f_send_close_frame(self, params: dict) -> dict:
        code = _get(params, "code", int, 1000, minimum=0)
        reason = _get(params, "reason", str, "")
        close_after = _get(params, "closeAfterMs", int, 1000, minimum=0)
        sessions = self._sessions(params)
        for session in sessions:
            session.send_close_frame(code, reason, close_after)
        return {"sessions": len(sessions)}

    def f_send_oversized_frame(self, params: dict) -> dict:
        length = _get(params, "length", int, 4 * 1024 * 1024 + 1, minimum=0)
        write_payload = _get(params, "writePayload", bool, False)
        if write_payload and length > 64 * 1024 * 1024:
            raise Refusal("INVALID_REQUEST", "负载过大")
        header = bytes([0x80 | OP_BINARY]) + encode_length(length)
        sessions = self._sessions(params)
        for session in sessions:
            session.send_raw(header + (bytes(length) if write_payload else b""))
        return {"sessions": len(sessions), "headerBase64": base64.b64encode(header).decode("ascii")}

    def f_send_raw(self, params: dict) -> dict:
        data = _bytes_param(params)
        close_after = _get(params, "closeAfter", bool, False)
        sessions = self._sessions(params)
        for session in sessions:
            session.send_raw(data)
            if close_after:
                session.close("closed after raw bytes")
        return {"sessions": len(sessions), "bytes": len(data)}

    def f_delay_http(self, params: dict) -> dict:
        faults = self.service.faults
        faults.delay_ms = _get(params, "ms", int, 0, minimum=0)
        faults.delay_prefix = _get(params, "pathPrefix", str, "/api/")
        faults.delay_http.set(faults.delay_ms > 0, _get(params, "count", int, None, minimum=0))
        return faults.to_json()["delayHttp"]

    def f_send_udp(self, params: dict) -> dict:
        data = _bytes_param(params)
        udp = self.service.udp
        address = udp.last_client_address
        if "connectionId" in params:
            address = self._connection(params).udp.address
        if address is None:
            raise Refusal("NO_UDP_CLIENT", "还没有客户端的 UDP 地址", 409)
        udp.send_raw(data, address)
        return {"address": f"{address[0]}:{address[1]}", "bytes": len(data)}

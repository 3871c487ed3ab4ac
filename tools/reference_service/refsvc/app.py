"""Wires the parts of the service together and routes every HTTP request."""
from __future__ import annotations

import asyncio
import fnmatch
import logging
import time
from dataclasses import dataclass
from typing import Optional
from urllib.parse import unquote

from aiohttp import web

from . import api, static_files
from .admin import Admin
from .connections import ConnectionRegistry
from .envelope import Refusal, json_response
from .faults import Faults
from .recorder import RequestRecorder, describe_request
from .relay_ws import RELAY_PREFIX, RelayHub
from .router import PacketRouter
from .scenario import Rule, Scenario
from .site import SiteBackend, site_backend_factory
from .udp_relay import UdpRelay

MAX_BODY = 1024 * 1024
log = logging.getLogger("reference_service")


@dataclass
class Config:
    ping_interval: float = 0.0
    udp_fresh_seconds: float = 45.0

    def to_json(self) -> dict:
        return {"pingIntervalSeconds": self.ping_interval, "udpFreshSeconds": self.udp_fresh_seconds}


class Service:
    def __init__(self, scenario: Scenario, *, request_log: Optional[str] = None,
                 ping_interval: float = 0.0, udp_fresh_seconds: float = 45.0,
                 site: str = "simulated"):
        self._started = time.monotonic()
        self.base_url = ""
        self.initial_scenario = scenario
        self.initial_config = Config(ping_interval, udp_fresh_seconds)
        self.config = Config(ping_interval, udp_fresh_seconds)
        self.recorder = RequestRecorder(request_log)
        self.scenario = scenario
        self.rule_hits = [0] * len(scenario.rules)
        self.connections = ConnectionRegistry(scenario.address_pool, scenario.connection_ids, self.clock)
        self.faults = Faults()
        self.relays = RelayHub(self)
        self.udp = UdpRelay(self)
        self.router = PacketRouter(self)
        self.site: SiteBackend = site_backend_factory(site)(self.router.deliver, lambda: self.scenario.site)
        self.admin = Admin(self)

    def clock(self) -> float:
        """Seconds since the service started (monotonic); every time stamp uses it."""
        return time.monotonic() - self._started

    # --- state changes driven by the admin endpoint ------------------------------------
    def replace_scenario(self, scenario: Scenario) -> None:
        """New devices, rules, files and site settings; granted connections stay."""
        self.scenario = scenario
        self.rule_hits = [0] * len(scenario.rules)

    def clear_faults(self) -> None:
        self.faults = Faults()

    def reset(self, keep_scenario: bool = False) -> None:
        self.relays.reset()
        scenario = self.scenario if keep_scenario else self.initial_scenario
        self.replace_scenario(scenario)
        self.connections = ConnectionRegistry(scenario.address_pool, scenario.connection_ids, self.clock)
        self.clear_faults()
        self.config = Config(self.initial_config.ping_interval, self.initial_config.udp_fresh_seconds)
        self.udp.reset()
        self.router.reset()
        self.site.reset()
        self.recorder.clear()

    def snapshot(self) -> dict:
        connections = []
        for c in self.connections.by_id.values():
            connections.append({
                "connectionId": c.connection_id, "deviceNumber": c.device_number,
                "engineerId": c.engineer_id, "targetNetwork": c.target_network,
                "assignedAddress": c.assigned_address, "routes": list(c.routes),
                "createdAt": round(c.created_at, 6), "ended": c.ended,
                "endedAt": None if c.ended_at is None else round(c.ended_at, 6),
                "endReason": c.end_reason, "endEngineerId": c.end_engineer_id,
                "liveRelays": len(self.relays.select(c.connection_id)),
            })
        return {"now": round(self.clock(), 6), "baseUrl": self.base_url,
                "config": self.config.to_json(), "faults": self.faults.to_json(),
                "connections": connections, "relay": self.relays.to_json(),
                "udp": self.udp.to_json(), "packets": self.router.to_json(),
                "rules": [{"path": r.path, "hits": h} for r, h in zip(self.scenario.rules, self.rule_hits)],
                "requestsRecorded": len(self.recorder.entries())}

    # --- HTTP ------------------------------------------------------------------------
    def _match_rule(self, method: str, path: str) -> Optional[Rule]:
        for index, rule in enumerate(self.scenario.rules):
            if rule.method and rule.method != method:
                continue
            if not (rule.path == path or fnmatch.fnmatchcase(path, rule.path)):
                continue
            seen = self.rule_hits[index]
            self.rule_hits[index] = seen + 1
            if seen >= rule.skip and (rule.count is None or seen < rule.skip + rule.count):
                return rule
        return None

    @staticmethod
    def _rule_response(rule: Rule) -> web.Response:
        if rule.code is not None:
            return json_response({"success": False, "code": rule.code, "message": rule.message,
                                  "data": None}, rule.status)
        if rule.has_body:
            return json_response(rule.body, rule.status)
        response = web.Response(status=rule.status, body=rule.raw_body)
        response.headers["Content-Type"] = rule.content_type
        return response

    async def dispatch(self, request: web.Request) -> web.StreamResponse:
        try:
            return await self._dispatch(request)
        except (asyncio.CancelledError, ConnectionError):
            raise
        except Exception as exc:  # a bug here must not take the service down
            log.exception("request %s %s failed", request.method, request.raw_path)
            return Refusal("INTERNAL_ERROR", f"服务内部错误：{type(exc).__name__}", 500).response()

    async def _dispatch(self, request: web.Request) -> web.StreamResponse:
        target = request.raw_path
        raw_path, _, query = target.partition("?")
        if raw_path == "/admin" or raw_path.startswith("/admin/"):
            return await self.admin.handle(request, raw_path, query)
        try:
            body = await request.read()
        except web.HTTPRequestEntityTooLarge:
            body = None
        version = f"HTTP/{request.version.major}.{request.version.minor}"
        log.info("%s %s %s", request.method, target, version)
        headers = [(k.decode("utf-8", "replace"), v.decode("utf-8", "replace"))
                   for k, v in request.raw_headers]
        self.recorder.record(describe_request(self.clock(), request.method, target, version,
                                              headers, body or b"", request.remote))
        if body is None:
            return Refusal("PAYLOAD_TOO_LARGE", "请求体过大", 413).response()

        delay = self.faults.http_delay_for(raw_path)
        if delay:
            await asyncio.sleep(delay / 1000.0)
        if raw_path.startswith(RELAY_PREFIX):
            return await self.relays.handle_upgrade(request, raw_path, query)

        path = unquote(raw_path, errors="replace")
        rule = self._match_rule(request.method, path)
        if rule is not None:
            if rule.delay_ms:
                await asyncio.sleep(rule.delay_ms / 1000.0)
            return self._rule_response(rule)
        try:
            return await self._route(request, raw_path, path, body)
        except Refusal as refusal:
            return refusal.response()

    async def _route(self, request: web.Request, raw_path: str, path: str, body: bytes):
        segments = [unquote(s, errors="replace") for s in raw_path.split("/")[1:]]
        method = request.method
        endpoint = None
        if segments == ["api", "devices", "resolve"]:
            endpoint = lambda: api.resolve(self, body)  # noqa: E731
        elif segments == ["api", "connections", "request"]:
            endpoint = lambda: api.authorize(self, body)  # noqa: E731
        elif len(segments) == 4 and segments[:2] == ["api", "connections"] and segments[3] == "disconnect":
            endpoint = lambda: api.disconnect(self, segments[2], body)  # noqa: E731
        elif len(segments) == 5 and segments[:2] == ["api", "devices"] \
                and segments[3:] == ["remote-desktop", "session"]:
            endpoint = lambda: api.remote_desktop(self, segments[2], body)  # noqa: E731
        if endpoint is not None:
            if method != "POST":
                raise Refusal("METHOD_NOT_ALLOWED", "请求方法不支持", 405)
            return endpoint()
        entry = self.scenario.files.get(path)
        if entry is not None and method in ("GET", "HEAD"):
            return await static_files.serve(request, entry)
        raise Refusal("NOT_FOUND", "接口不存在", 404)

    def make_app(self) -> web.Application:
        app = web.Application(client_max_size=MAX_BODY)
        app.router.add_route("*", "/{tail:.*}", self.dispatch)
        return app

    async def shutdown(self) -> None:
        self.relays.close_all("service stopping")
        await self.site.stop()

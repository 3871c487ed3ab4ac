"""The service's state, and the HTTP application that serves it."""
from __future__ import annotations

import asyncio
import fnmatch
import socket
import time
from dataclasses import dataclass
from typing import Optional

from aiohttp import web

from .admin import Admin
from .connections import ConnectionRegistry
from .faults import Faults
from .keys import SERVICE
from .middlewares import MIDDLEWARES
from .recorder import RequestRecorder
from .relay_ws import RelayHub
from .routes import routes
from .router import PacketRouter
from .scenario import Rule, Scenario
from .site import SiteBackend, site_backend_factory
from .udp_relay import UdpRelay

MAX_BODY = 1024 * 1024


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

    def match_rule(self, method: str, path: str) -> Optional[Rule]:
        """The first scenario rule that answers this call (path percent-decoded), counting the
        calls each rule sees."""
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

    # --- the HTTP application ------------------------------------------------------------
    def make_app(self, udp_socket: Optional[socket.socket] = None) -> web.Application:
        """Routes, middlewares and the life of the site backend and the UDP relay, which start
        with the application and stop after its last request."""
        app = web.Application(client_max_size=MAX_BODY, middlewares=MIDDLEWARES)
        app[SERVICE] = self
        app.add_routes(routes)
        app.add_routes(self.admin.route_defs())
        app.cleanup_ctx.append(self._site_backend)
        if udp_socket is not None:
            app.cleanup_ctx.append(self._udp_endpoint(udp_socket))
        app.on_shutdown.append(self._close_relays)
        return app

    async def _site_backend(self, app: web.Application):
        await self.site.start()
        yield
        await self.site.stop()

    def _udp_endpoint(self, udp_socket: socket.socket):
        async def context(app: web.Application):
            transport, _ = await asyncio.get_running_loop().create_datagram_endpoint(lambda: self.udp, sock=udp_socket)
            yield
            transport.close()
        return context

    async def _close_relays(self, app: web.Application) -> None:
        """Before the server waits for its handlers: a relay's handler lasts as long as its
        connection."""
        self.relays.close_all("service stopping")

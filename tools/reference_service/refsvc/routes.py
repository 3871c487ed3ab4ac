"""The routes of the control API and the relay upgrade. Their answers are built in api.py and
relay_ws.py; the admin routes are in admin.py."""
from __future__ import annotations

from urllib.parse import unquote

from aiohttp import web

from . import api
from .keys import service_of
from .relay_ws import RELAY_PREFIX

routes = web.RouteTableDef()


def path_value(request: web.Request, name: str) -> str:
    """A path parameter, percent-decoded as UTF-8 with invalid bytes replaced (aiohttp's own
    decoding would keep such bytes as they were sent)."""
    template = request.match_info.route.resource.canonical.split("/")
    return unquote(request.rel_url.raw_path.split("/")[template.index("{" + name + "}")], errors="replace")


@routes.post("/api/devices/resolve")
async def resolve(request: web.Request) -> web.StreamResponse:
    return api.resolve(service_of(request), await request.read())


@routes.post("/api/connections/request")
async def authorize(request: web.Request) -> web.StreamResponse:
    return api.authorize(service_of(request), await request.read())


# Path parameters may be empty: such a call is refused by the call itself, as any unknown id.
@routes.post("/api/connections/{connectionId:[^/]*}/disconnect")
async def disconnect(request: web.Request) -> web.StreamResponse:
    return api.disconnect(service_of(request), path_value(request, "connectionId"), await request.read())


@routes.post("/api/devices/{deviceNumber:[^/]*}/remote-desktop/session")
async def remote_desktop(request: web.Request) -> web.StreamResponse:
    return api.remote_desktop(service_of(request), path_value(request, "deviceNumber"), await request.read())


# Every method and every rest of the path: the relay answers bad upgrades itself.
@routes.route("*", RELAY_PREFIX + "{rest:.*}")
async def relay_upgrade(request: web.Request) -> web.StreamResponse:
    path, _, query = request.raw_path.partition("?")
    return await service_of(request).relays.handle_upgrade(request, path[len(RELAY_PREFIX):], query)

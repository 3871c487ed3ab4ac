"""Names under which the application keeps its state."""
from __future__ import annotations

from typing import TYPE_CHECKING, Any

from aiohttp import web

if TYPE_CHECKING:
    from .app import Service


def app_key(name: str, kind: type) -> Any:
    """A typed key where aiohttp has them (3.9 and later); a plain name before that (Debian 12
    ships 3.8)."""
    factory = getattr(web, "AppKey", None)
    return factory(name, kind) if factory is not None else name


SERVICE = app_key("service", object)


def service_of(request: web.Request) -> "Service":
    return request.app[SERVICE]

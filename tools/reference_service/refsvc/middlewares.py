"""What happens around every handler, outermost first: refusals and bugs become envelopes,
the admin area is kept to loopback peers, requests are recorded, the standing HTTP delay and
the scenario's rules apply, and what no route takes gets a static file or NOT_FOUND.

The admin area is neither recorded, delayed nor subject to rules; relay upgrades are recorded
and delayed but never answered by a rule. Areas are told by the target as sent, not by
aiohttp's parsed URL, which drops a fragment and the host of an absolute target."""
from __future__ import annotations

import asyncio
import logging
from typing import Awaitable, Callable, Optional
from urllib.parse import unquote

from aiohttp import web

from . import static_files
from .admin import _is_loopback
from .envelope import Refusal, json_response
from .keys import service_of
from .recorder import describe_request
from .relay_ws import RELAY_PREFIX
from .scenario import Rule

Handler = Callable[[web.Request], Awaitable[web.StreamResponse]]
log = logging.getLogger("reference_service")


def target_path(request: web.Request) -> str:
    """The path of the request target exactly as sent (percent-encoding kept)."""
    return request.raw_path.partition("?")[0]


def in_admin_area(request: web.Request) -> bool:
    path = target_path(request)
    return path == "/admin" or path.startswith("/admin/")


@web.middleware
async def answer_refusals(request: web.Request, handler: Handler) -> web.StreamResponse:
    try:
        return await handler(request)
    except Refusal as refusal:
        return refusal.response()
    except (asyncio.CancelledError, ConnectionError):
        raise
    except Exception as exc:  # a bug here must not take the service down
        log.exception("request %s %s failed", request.method, request.raw_path)
        return Refusal("INTERNAL_ERROR", f"服务内部错误：{type(exc).__name__}", 500).response()


@web.middleware
async def admin_loopback_only(request: web.Request, handler: Handler) -> web.StreamResponse:
    if in_admin_area(request) and not _is_loopback(request.remote):
        raise Refusal("FORBIDDEN", "管理接口只接受本机访问", 403)
    return await handler(request)


@web.middleware
async def record_requests(request: web.Request, handler: Handler) -> web.StreamResponse:
    if in_admin_area(request):
        return await handler(request)
    service = service_of(request)
    try:
        body: Optional[bytes] = await request.read()  # kept by aiohttp for the handler's read
    except web.HTTPRequestEntityTooLarge:
        body = None
    version = f"HTTP/{request.version.major}.{request.version.minor}"
    log.info("%s %s %s", request.method, request.raw_path, version)
    headers = [(k.decode("utf-8", "replace"), v.decode("utf-8", "replace")) for k, v in request.raw_headers]
    service.recorder.record(describe_request(service.clock(), request.method, request.raw_path, version,
                                             headers, body or b"", request.remote))
    if body is None:
        raise Refusal("PAYLOAD_TOO_LARGE", "请求体过大", 413)
    return await handler(request)


@web.middleware
async def delay_faults(request: web.Request, handler: Handler) -> web.StreamResponse:
    if not in_admin_area(request):
        delay = service_of(request).faults.http_delay_for(target_path(request))
        if delay:
            await asyncio.sleep(delay / 1000.0)
    return await handler(request)


def _rule_response(rule: Rule) -> web.Response:
    if rule.code is not None:
        return json_response({"success": False, "code": rule.code, "message": rule.message,
                              "data": None}, rule.status)
    if rule.has_body:
        return json_response(rule.body, rule.status)
    response = web.Response(status=rule.status, body=rule.raw_body)
    response.headers["Content-Type"] = rule.content_type
    return response


@web.middleware
async def scenario_rules(request: web.Request, handler: Handler) -> web.StreamResponse:
    path = target_path(request)
    if in_admin_area(request) or path.startswith(RELAY_PREFIX):
        return await handler(request)
    rule = service_of(request).match_rule(request.method, unquote(path, errors="replace"))
    if rule is None:
        return await handler(request)
    if rule.delay_ms:
        await asyncio.sleep(rule.delay_ms / 1000.0)
    return _rule_response(rule)


@web.middleware
async def unmatched(request: web.Request, handler: Handler) -> web.StreamResponse:
    """aiohttp's own 404 and 405 become envelopes; a 404 outside the admin area may still be one
    of the scenario's files. A target that aiohttp's URL shows otherwise than it was sent (a
    fragment, an absolute or asterisk form) matches no route, unless it is a relay upgrade,
    which reads its target itself."""
    path = target_path(request)
    try:
        if request.rel_url.raw_path != path and not path.startswith(RELAY_PREFIX):
            raise web.HTTPNotFound()
        return await handler(request)
    except web.HTTPMethodNotAllowed:
        raise Refusal("METHOD_NOT_ALLOWED", "请求方法不支持", 405) from None
    except web.HTTPNotFound:
        if in_admin_area(request):
            raise Refusal("NOT_FOUND", "管理接口不存在", 404) from None
    entry = service_of(request).scenario.files.get(unquote(path, errors="replace"))
    if entry is not None and request.method in ("GET", "HEAD"):
        return await static_files.serve(request, entry)
    raise Refusal("NOT_FOUND", "接口不存在", 404)


MIDDLEWARES = [answer_refusals, admin_loopback_only, record_requests, delay_faults, scenario_rules, unmatched]

"""The response envelope shared by every control and admin answer:
{"success": bool, "code": str, "message": str, "data": ...}."""
from __future__ import annotations

import json
from typing import Any

from aiohttp import web

JSON_TYPE = "application/json; charset=utf-8"


def json_response(document: Any, status: int = 200) -> web.Response:
    body = json.dumps(document, ensure_ascii=False, separators=(",", ":")).encode("utf-8")
    response = web.Response(status=status, body=body)
    response.headers["Content-Type"] = JSON_TYPE
    return response


def ok(data: Any = None, message: str = "") -> web.Response:
    return json_response({"success": True, "code": "OK", "message": message, "data": data})


class Refusal(Exception):
    """Raised anywhere inside a handler to answer with a refusal envelope."""

    def __init__(self, code: str, message: str, status: int = 400):
        super().__init__(f"{code}: {message}")
        self.code = code
        self.message = message
        self.status = status

    def response(self) -> web.Response:
        return json_response({"success": False, "code": self.code, "message": self.message,
                              "data": None}, self.status)


def parse_json_object(body: bytes) -> dict:
    try:
        document = json.loads(body.decode("utf-8"))
    except (UnicodeDecodeError, json.JSONDecodeError, RecursionError):
        raise Refusal("BAD_JSON", "请求体不是有效的 JSON") from None
    if not isinstance(document, dict):
        raise Refusal("BAD_JSON", "请求体必须是 JSON 对象")
    return document


def string_member(document: dict, name: str, *, required: bool = True, non_empty: bool = False) -> str:
    if name not in document:
        if required:
            raise Refusal("INVALID_REQUEST", f"缺少字段 {name}")
        return ""
    value = document[name]
    if not isinstance(value, str):
        raise Refusal("INVALID_REQUEST", f"字段 {name} 必须是字符串")
    if non_empty and not value.strip():
        raise Refusal("INVALID_REQUEST", f"字段 {name} 不能为空")
    return value

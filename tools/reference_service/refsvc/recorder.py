"""Records every request the service receives, as JSON lines on disk and in memory,
so tests can assert exact request lines, headers and bodies."""
from __future__ import annotations

import base64
import datetime
import json
from typing import Optional

MAX_IN_MEMORY = 20000


def describe_request(time: float, method: str, target: str, version: str,
                     headers: list[tuple[str, str]], body: bytes, remote: Optional[str]) -> dict:
    path, _, query = target.partition("?")
    try:
        text, is_utf8 = body.decode("utf-8"), True
    except UnicodeDecodeError:
        text, is_utf8 = body.decode("utf-8", errors="replace"), False
    return {
        "time": round(time, 6),
        "wallTime": datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="milliseconds"),
        "remote": remote,
        "method": method,
        "target": target,
        "path": path,
        "query": query,
        "hasQuery": "?" in target,
        "version": version,
        "requestLine": f"{method} {target} {version}",
        "headers": [[name, value] for name, value in headers],
        "body": text,
        "bodyIsUtf8": is_utf8,
        "bodyBase64": base64.b64encode(body).decode("ascii"),
        "bodyLength": len(body),
    }


class RequestRecorder:
    def __init__(self, path: Optional[str]):
        self.path = path
        self._entries: list[dict] = []
        self._seq = 0
        if path:
            open(path, "w", encoding="utf-8").close()

    def record(self, description: dict) -> dict:
        self._seq += 1
        entry = {"seq": self._seq, **description}
        self._entries.append(entry)
        if len(self._entries) > MAX_IN_MEMORY:
            del self._entries[0]
        if self.path:
            with open(self.path, "a", encoding="utf-8") as handle:
                handle.write(json.dumps(entry, ensure_ascii=False) + "\n")
        return entry

    def entries(self, since: int = 0) -> list[dict]:
        return [e for e in self._entries if e["seq"] > since]

    def clear(self) -> None:
        self._entries.clear()
        if self.path:
            open(self.path, "w", encoding="utf-8").close()

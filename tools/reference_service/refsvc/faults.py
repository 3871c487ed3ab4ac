"""Standing faults that tests switch on through the admin endpoint. One-shot actions
(closing relays, sending frames or datagrams) are carried out at once by the admin
module and do not live here."""
from __future__ import annotations

from dataclasses import dataclass, field
from typing import Optional


@dataclass
class Countdown:
    """Active while `remaining` is None (until cleared) or above zero."""
    enabled: bool = False
    remaining: Optional[int] = None

    def set(self, enabled: bool, count: Optional[int]) -> None:
        self.enabled = enabled and (count is None or count > 0)
        self.remaining = count if self.enabled else None

    def take(self) -> bool:
        """True when the fault applies to this event, counting it down."""
        if not self.enabled:
            return False
        if self.remaining is not None:
            self.remaining -= 1
            if self.remaining <= 0:
                self.enabled = False
                self.remaining = None
        return True

    def to_json(self) -> dict:
        return {"enabled": self.enabled, "remaining": self.remaining}


@dataclass
class Faults:
    refuse_upgrades: Countdown = field(default_factory=Countdown)
    refuse_status: int = 503
    raw_upgrade_responses: list[dict] = field(default_factory=list)  # {"data", "closeAfterMs"}
    udp_silent: bool = False
    ignore_hellos: Countdown = field(default_factory=Countdown)
    delay_http: Countdown = field(default_factory=Countdown)
    delay_ms: int = 0
    delay_prefix: str = "/api/"

    def http_delay_for(self, path: str) -> int:
        if self.delay_ms > 0 and path.startswith(self.delay_prefix) and self.delay_http.take():
            return self.delay_ms
        return 0

    def to_json(self) -> dict:
        return {
            "refuseUpgrades": dict(self.refuse_upgrades.to_json(), status=self.refuse_status),
            "rawUpgradeResponsesQueued": len(self.raw_upgrade_responses),
            "udpSilent": self.udp_silent,
            "ignoreHellos": self.ignore_hellos.to_json(),
            "delayHttp": dict(self.delay_http.to_json(), ms=self.delay_ms, pathPrefix=self.delay_prefix),
        }

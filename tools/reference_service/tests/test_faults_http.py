"""Delayed HTTP answers."""
import time

from support import DEMO_KEY, admin, fault, post_json

# An answer without the delay comes in milliseconds; half the delay tells the two apart on any machine.
DELAY_MS = 1000


def test_delay_applies_to_the_next_n_api_calls(svc):
    fault(svc.port, "delay-http", ms=DELAY_MS, count=1)
    started = time.monotonic()
    assert post_json(svc.port, "/api/devices/resolve", {"deviceSecret": DEMO_KEY})[1]["success"]
    assert time.monotonic() - started >= DELAY_MS / 1000 - 0.05
    started = time.monotonic()
    admin(svc.port, "state")
    post_json(svc.port, "/api/devices/resolve", {"deviceSecret": DEMO_KEY})
    assert time.monotonic() - started < DELAY_MS / 2000


def test_delay_is_recorded_before_the_answer_and_cleared_by_clear(svc):
    fault(svc.port, "delay-http", ms=5000)
    try:
        post_json(svc.port, "/api/devices/resolve", {"deviceSecret": DEMO_KEY}, timeout=0.3)
    except OSError:
        pass
    assert len(admin(svc.port, "requests")) == 1
    fault(svc.port, "clear")
    started = time.monotonic()
    post_json(svc.port, "/api/devices/resolve", {"deviceSecret": DEMO_KEY})
    assert time.monotonic() - started < 2.5

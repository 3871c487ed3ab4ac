import os
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.dirname(HERE))

from support import ServiceProcess, admin  # noqa: E402


@pytest.fixture(scope="session")
def service_process():
    # Verbose, so that errors logged by the HTTP server itself show up below too.
    process = ServiceProcess("--verbose")
    yield process
    code = process.stop()
    errors = process.stderr()
    process.cleanup()
    assert code == 0
    problems = [line for line in errors.splitlines()
                if "Traceback" in line or " ERROR " in line or " WARNING " in line]
    assert problems == [], errors


@pytest.fixture
def svc(service_process):
    """The shared service, reset to its start-up state before the test."""
    admin(service_process.port, "reset", {})
    yield service_process

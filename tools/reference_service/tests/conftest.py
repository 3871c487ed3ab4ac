import os
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.dirname(HERE))

from support import ServiceProcess, admin  # noqa: E402


@pytest.fixture(scope="session")
def service_process():
    process = ServiceProcess()
    yield process
    process.cleanup()


@pytest.fixture
def svc(service_process):
    """The shared service, reset to its start-up state before the test."""
    admin(service_process.port, "reset", {})
    yield service_process

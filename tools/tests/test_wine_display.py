"""The Wine prefix's own X display: shared by every run without $DISPLAY, replaced when it died,
ended by the stop, and never forced on a run that has a display."""

import os
import pathlib
import signal
import subprocess
import time

import pytest

SCRIPT = pathlib.Path(__file__).resolve().parents[1] / "wine-display.sh"


def run_bash(prefix, body, display=None):
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    env["WINEPREFIX"] = str(prefix)
    if display is not None:
        env["DISPLAY"] = display
    script = f'source "{SCRIPT}"\n{body}\n'
    return subprocess.run(["bash", "-c", script], env=env, capture_output=True, text=True, timeout=60)


def ensure(prefix, display=None):
    result = run_bash(prefix, 'wine_display_ensure || exit 9\necho "$DISPLAY $WINE_DISPLAY_STARTED"', display)
    assert result.returncode == 0, result.stderr
    shown, started = result.stdout.split()
    return shown, started == "1"


def recorded_pid(prefix):
    return int(pathlib.Path(f"{prefix}.xvfb").read_text().split()[1])


def alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    # An ended server that nobody reaped yet still has a /proc entry.
    stat = pathlib.Path(f"/proc/{pid}/stat").read_text()
    return stat.rsplit(")", 1)[1].split()[0] != "Z"


def wait_gone(pid, seconds=10.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if not alive(pid):
            return True
        time.sleep(0.05)
    return False


@pytest.fixture
def prefix(tmp_path):
    path = tmp_path / "prefix"
    yield path
    run_bash(path, "wine_display_stop")


needs_xvfb = pytest.mark.skipif(
    subprocess.run(["bash", "-c", "command -v Xvfb"], capture_output=True).returncode != 0,
    reason="Xvfb is not installed")


@needs_xvfb
def test_runs_without_a_display_share_one_xvfb_until_it_is_stopped(prefix):
    first, started = ensure(prefix)
    assert started and first.startswith(":")
    pid = recorded_pid(prefix)
    assert alive(pid)
    number = first[1:]
    assert pathlib.Path(f"/tmp/.X11-unix/X{number}").is_socket()

    second, started_again = ensure(prefix)
    assert (second, started_again) == (first, False)

    assert run_bash(prefix, "wine_display_stop").returncode == 0
    assert wait_gone(pid)
    assert not pathlib.Path(f"{prefix}.xvfb").exists()


@needs_xvfb
def test_a_display_that_died_is_replaced(prefix):
    ensure(prefix)
    old = recorded_pid(prefix)
    os.kill(old, signal.SIGTERM)
    assert wait_gone(old)

    _, started = ensure(prefix)
    assert started
    new = recorded_pid(prefix)
    assert new != old and alive(new)


@needs_xvfb
def test_a_display_whose_socket_file_another_xvfb_removed_is_kept(prefix):
    # An Xvfb in another network namespace can take the same number and unlink the file on exit;
    # the display itself still answers, and starting a second one would orphan the first.
    shown, _ = ensure(prefix)
    pathlib.Path(f"/tmp/.X11-unix/X{shown[1:]}").unlink()
    assert ensure(prefix) == (shown, False)


def test_a_run_with_a_display_keeps_it_and_starts_nothing(prefix):
    shown, started = ensure(prefix, display=":42")
    assert (shown, started) == (":42", False)
    assert not pathlib.Path(f"{prefix}.xvfb").exists()


def test_a_record_of_another_process_is_neither_taken_nor_ended(prefix):
    # A reused process id after a reboot: alive, but no X server and no X socket of that number.
    other = subprocess.Popen(["sleep", "30"])
    try:
        pathlib.Path(f"{prefix}.xvfb").write_text(f"987 {other.pid}\n")
        assert run_bash(prefix, "wine_display_alive").returncode != 0
        assert run_bash(prefix, "wine_display_stop").returncode == 0
        assert other.poll() is None, "the stop ended a process that is not the display"
        assert not pathlib.Path(f"{prefix}.xvfb").exists()
    finally:
        other.kill()
        other.wait()

"""Fixtures shared by the integration and end-to-end tests.

- wine: one Wine prefix for the whole run (wine.run for console programs).
- gui: one Xvfb for the whole run; from then on Wine programs show their
  windows there (wine.display). A failing test that uses it leaves a
  screenshot in build/test-results/screenshots/.
- driver: qvdriver.exe, which drives windows from outside (support/qvdriver.py).
- quorvel: quorvel.exe copied into a fresh working folder, not yet started
  (support/quorvel_app.py); stopped after the test.
- dovecot: a private Dovecot POP3 server on 127.0.0.1 (support/dovecot.py).
"""
import sys
import tempfile
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

from support.wine import Wine  # noqa: E402

_screen = None  # the run's Xvfb, once a test asked for it


@pytest.fixture(scope="session")
def wine():
    """One Wine prefix for the whole test run."""
    w = Wine(Path(tempfile.mkdtemp(prefix="quorvel-wine-")))
    w.boot()
    yield w
    w.close()


@pytest.fixture(scope="session")
def gui(wine):
    """Xvfb for the rest of the run; returns it (display, screenshot(name))."""
    global _screen
    from support.xvfb import Xvfb
    screen = Xvfb()
    # Wine's desktop process keeps the display it started with: let the
    # prefix go idle so the next program starts it on this one.
    wine.wait_idle()
    wine.display = screen.display
    _screen = screen
    yield screen
    _screen = None
    wine.display = None
    screen.stop()


@pytest.fixture(scope="session")
def driver(wine, gui):
    from support.qvdriver import Driver
    d = Driver(wine)
    yield d
    d.close_all()


@pytest.fixture
def quorvel(wine, gui, driver, tmp_path):
    from support.quorvel_app import QuorvelApp
    try:
        app = QuorvelApp(wine, driver, tmp_path / "quorvel")
    except FileNotFoundError as e:
        pytest.fail(str(e))
    yield app
    app.stop()


@pytest.fixture
def dovecot():
    from support.dovecot import Dovecot
    with Dovecot() as server:
        yield server


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    report = outcome.get_result()
    if (report.failed and report.when in ("setup", "call") and _screen is not None
            and "gui" in item.fixturenames):
        try:
            path = _screen.screenshot(f"{item.nodeid}-{report.when}")
            report.sections.append(("screenshot", str(path)))
        except Exception as e:  # a missing screenshot must not hide the failure
            report.sections.append(("screenshot", f"failed: {e}"))

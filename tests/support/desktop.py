"""A desktop of its own for the benchmarks: a fresh Wine prefix shown on a
private Xvfb, with the window driver.

    with desktop() as (wine, driver):
        app = QuorvelApp(wine, driver, folder)
"""
import tempfile
from contextlib import contextmanager
from pathlib import Path

from support.qvdriver import Driver
from support.wine import Wine
from support.xvfb import Xvfb


@contextmanager
def desktop():
    wine = Wine(Path(tempfile.mkdtemp(prefix="quorvel-bench-wine-")))
    wine.boot()
    screen = Xvfb()
    wine.display = screen.display
    driver = Driver(wine)
    try:
        yield wine, driver
    finally:
        driver.close_all()
        screen.stop()
        wine.close()

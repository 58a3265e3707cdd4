"""The main window at 96, 144 and 192 DPI (Wine reads LogPixels for each
newly started program), in a prefix and on a screen of their own. Stored
sizes stay in 96-DPI units: what is saved at one DPI loads the same at
another. Screenshots: build/test-results/screenshots/dpi-*.png."""
import tempfile
from pathlib import Path

import pytest

from support import settings
from support.command_mail import command_mail
from support.qvdriver import IDCANCEL, Driver
from support.quorvel_app import CMD_SETTINGS_DIRECT, QuorvelApp, wait_until
from support.wine import Wine, winpath
from support.xvfb import Xvfb

LVM_SETCOLUMNWIDTH = 0x101E
DEFAULT_WIDTHS = [50, 80, 200, 120, 120, 120, 120, 120]


def scaled(units: int, dpi: int) -> int:
    return (units * dpi + 48) // 96


@pytest.fixture(scope="module")
def screen():
    """A screen large enough for the 800 x 600 window at 192 DPI, a prefix
    whose LogPixels the tests change, and its driver."""
    display = Xvfb(width=1700, height=1300)
    wine = Wine(Path(tempfile.mkdtemp(prefix="quorvel-dpi-")))
    wine.boot()
    wine.display = display.display
    driver = Driver(wine)
    yield display, wine, driver
    driver.close_all()
    wine.close()
    display.stop()


def set_dpi(wine: Wine, dpi: int):
    wine.run("reg", ["add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD",
                     "/d", str(dpi), "/f"])


def test_main_window_scales_and_stores_96_dpi_units(screen, tmp_path):
    display, wine, driver = screen
    app = QuorvelApp(wine, driver, tmp_path / "quorvel")
    dropped = tmp_path / "mail.eml"  # a row and a preview in the screenshots
    dropped.write_bytes(command_mail("スナップ返信\r\n回転", subject="Vistrel 指令 高DPI"))
    try:
        for dpi in (96, 144, 192):
            set_dpi(wine, dpi)
            app.write_settings()  # first run: no placement, default widths, splitter 300
            for store_file in app.folder.glob("QuorvelMail.*"):
                store_file.unlink()
            window = app.start()
            left, top, right, bottom = window["rect"]
            assert (right - left, bottom - top) == (scaled(800, dpi), scaled(600, dpi))
            mail_list = app.mail_list()
            assert [c["width"] for c in mail_list["columns"][:8]] == [scaled(w, dpi) for w in DEFAULT_WIDTHS]
            assert mail_list["rect"][3] - mail_list["rect"][1] == scaled(300, dpi)
            driver.drop_files(app.child(cls="SplitPanel"), [winpath(dropped)])
            wait_until(lambda: app.row_count() == 1, what="the dropped mail in the list")
            display.screenshot(f"dpi-{dpi}-main")
            app.command(CMD_SETTINGS_DIRECT)
            dialog = app.wait_dialog()
            display.screenshot(f"dpi-{dpi}-settings")
            app.press(dialog, IDCANCEL)
            assert driver.wait_gone(dialog["hwnd"])
            if dpi == 144:
                # a column dragged to 300 pixels at 144 DPI is stored as 200 units
                driver.send(mail_list["hwnd"], LVM_SETCOLUMNWIDTH, 2, 300)
            assert app.close() == 0
            saved = settings.parse(app.ini())
            expected = list(DEFAULT_WIDTHS)
            if dpi == 144:
                expected[2] = 200
            assert saved["columnWidths"] == expected and saved["splitterPosition"] == 300, dpi
            if dpi == 144:
                # ... and loads as 200 pixels at 96 DPI, the rest unchanged.
                set_dpi(wine, 96)
                app.start()
                assert [c["width"] for c in app.mail_list()["columns"][:8]] == expected
                assert app.close() == 0
                assert settings.parse(app.ini())["columnWidths"] == expected
    finally:
        app.stop()

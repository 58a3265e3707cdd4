"""The operation guide: Quorvel.chm is built with its pages, and menu
40012 opens it through HTML Help, or says clearly that it is missing."""
import shutil

import pytest

from support.qvdriver import IDOK
from support.quorvel_app import CMD_HELP, program_file, wait_until

PAGES = ["index.html", "menu.html", "maillist.html", "settings.html", "commandmail.html", "spam.html",
         "files.html", "toc.hhc"]
MISSING = "ヘルプファイル Quorvel.chm が見つかりません。\nquorvel.exe と同じフォルダに置いてください。"


def test_help_file_lists_its_pages():
    chm = program_file("Quorvel.chm")
    assert chm is not None, "Quorvel.chm is not built"
    data = chm.read_bytes()
    assert data[:4] == b"ITSF"
    # The directory chunks name every page uncompressed.
    assert [p for p in PAGES if b"/" + p.encode() not in data] == []


@pytest.mark.parametrize("lang", ["ja_JP.UTF-8", "en_US.UTF-8"])
def test_help_menu_opens_the_guide_or_reports_it_missing(quorvel, driver, gui, lang):
    quorvel.write_settings()
    quorvel.start(lang=lang)
    quorvel.command(CMD_HELP)
    box = wait_until(lambda: next((d for d in quorvel.dialogs(timeout=2) if d["text"] == MISSING), None),
                     what="the missing-file message")
    quorvel.press(box, IDOK)
    assert quorvel.close() == 0

    shutil.copy2(program_file("Quorvel.chm"), quorvel.folder / "Quorvel.chm")
    quorvel.start(lang=lang)
    quorvel.command(CMD_HELP)
    viewer = driver.wait_window("HH Parent", timeout=30)
    # HTML Help reads the title and contents in the system's ANSI code page:
    # Japanese there only where that is 932; the pages carry their own charset.
    if lang.startswith("ja"):
        assert viewer["title"] == "Quorvel 操作ガイド"
    gui.screenshot(f"help-{lang.split('.')[0]}")
    assert quorvel.close() == 0

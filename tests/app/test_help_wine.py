"""The operation guide (menu 40012) under Wine: Quorvel.chm is opened from
quorvel.exe's folder, whatever the working folder is; without it the user
gets a message instead of nothing."""
import shutil

import pytest

from support.qvdriver import IDOK
from support.quorvel_app import CMD_HELP, DLLS, program_file

HELP_FILE = "Quorvel.chm"
VIEWER_CLASS = "HH Parent"  # the help viewer's top-level window
MISSING = "操作ガイドのファイル Quorvel.chm が見つかりません。\nquorvel.exe と同じフォルダに置いてください。"


@pytest.fixture
def separate_program(quorvel, tmp_path):
    """quorvel.exe in a folder of its own, started in the working folder."""
    folder = tmp_path / "program"
    folder.mkdir()
    for name in ("quorvel.exe",) + DLLS:
        shutil.copy2(quorvel.folder / name, folder / name)
    quorvel.exe = folder / "quorvel.exe"
    built = program_file(HELP_FILE)
    if built is None:
        pytest.fail(f"{HELP_FILE} is not built")
    return folder, built


@pytest.mark.parametrize("lang", ["ja_JP.UTF-8", "en_US.UTF-8"])
def test_help_opens_from_the_program_folder(quorvel, driver, gui, separate_program, lang):
    folder, built = separate_program
    shutil.copy2(built, folder / HELP_FILE)
    quorvel.start(lang=lang)
    quorvel.command(CMD_HELP)
    viewers = [w for w in driver.find(VIEWER_CLASS, timeout=20) if w["pid"] == quorvel.pid]
    assert [w["title"] for w in viewers] == ["Quorvel"]
    assert quorvel.dialogs() == []
    gui.screenshot(f"help-viewer-{lang}")


def test_help_file_only_in_the_working_folder_gives_a_message(quorvel, driver, separate_program):
    folder, built = separate_program
    shutil.copy2(built, quorvel.folder / HELP_FILE)  # not where the program is
    quorvel.start()
    quorvel.command(CMD_HELP)
    box = quorvel.wait_dialog()
    assert (box["title"], box["text"].replace("\r\n", "\n")) == ("Quorvel", MISSING)
    assert box["owner"] == quorvel.hwnd
    quorvel.press(box, IDOK)
    assert driver.find(VIEWER_CLASS, visible_only=False) == []
    assert quorvel.running()

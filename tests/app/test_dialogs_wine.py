"""The settings dialogs under Wine, driven as a user would: texts typed,
boxes ticked, buttons pressed, message boxes answered; what OK wrote is
read back from quorvel.ini."""
import pytest

from support import settings
from support.qvdriver import IDCANCEL, IDNO, IDOK, IDYES
from support.quorvel_app import (CMD_ABOUT, CMD_KEY_DIALOG, CMD_SETTINGS, CMD_SETTINGS_DIRECT,
                                 CMD_SPAM_DIALOG, wait_until)

SETTINGS_TITLE = "Quorvelの使用環境設定"
KEYS_TITLE = "コマンド・キー名定義表"
SPAM_TITLE = "スパム判定の設定"
PASSWORD_TITLE = "パスワード入力"
ABOUT_TITLE = "Quorvelのバージョン情報"


def open_dialog(app, command, title):
    app.command(command)
    return wait_until(lambda: next((d for d in app.dialogs(timeout=2) if d["title"] == title), None),
                      what=f"the dialog {title}")


def message_box(app, text):
    """Waits for the message box with this text and returns it."""
    return wait_until(lambda: next((d for d in app.dialogs(timeout=2) if d["text"] == text), None),
                      what=f"the message box {text!r}")


def control(dialog, control_id):
    return next(c for c in dialog["controls"] if c["id"] == control_id)


def closed(app, dialog):
    return app.driver.wait_gone(dialog["hwnd"], timeout=10)


def saved_settings(app, before):
    """The record once the program has written a new one."""
    record = wait_until(lambda: (app.ini() != before) and app.ini(), what="a new quorvel.ini")
    return settings.parse(record)


@pytest.mark.parametrize("lang", ["ja_JP.UTF-8", "en_US.UTF-8"])
def test_every_dialog_on_screen(quorvel, gui, lang):
    quorvel.write_settings(playSound=1, soundFile="C:\\音声\\着信.wav", panelPasswordRequired=1,
                           panelPassword="dcba")
    quorvel.start(lang=lang)
    name = lang.split(".")[0]
    for command, title, shot in [(CMD_SETTINGS_DIRECT, SETTINGS_TITLE, "settings"),
                                 (CMD_KEY_DIALOG, KEYS_TITLE, "command-keys"),
                                 (CMD_SPAM_DIALOG, SPAM_TITLE, "spam"),
                                 (CMD_SETTINGS, PASSWORD_TITLE, "password"),
                                 (CMD_ABOUT, ABOUT_TITLE, "about")]:
        dialog = open_dialog(quorvel, command, title)
        gui.screenshot(f"dialog-{name}-{shot}")
        quorvel.press(dialog, IDCANCEL if command != CMD_ABOUT else IDOK)
        assert closed(quorvel, dialog)
    assert quorvel.close() == 0

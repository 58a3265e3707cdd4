"""Japanese on screen whatever the Windows ANSI code page: the same texts
under LANG=ja_JP.UTF-8 (code page 932) and en_US.UTF-8 (1252), with
screenshots kept in build/test-results/screenshots/ for a person to look at."""
import pytest

from support.qvdriver import IDOK
from support.quorvel_app import CMD_RECEIVE

NO_SERVER_TEXT = "メールサーバの設定がまだ指定されていません。\n設定を終えてから行ってください。"


@pytest.mark.parametrize("lang", ["ja_JP.UTF-8", "en_US.UTF-8"])
def test_japanese_texts_on_screen(quorvel, dovecot, gui, lang):
    name = lang.split(".")[0]
    quorvel.write_settings(pop3Server=dovecot.host, pop3Port=dovecot.port, accountName=dovecot.user,
                           password=dovecot.password, intervalMinutes=0)
    quorvel.start(lang=lang)
    quorvel.command(CMD_RECEIVE)
    quorvel.wait_title("Quorvel  新着メールはありません(迷惑メール 0件)")
    assert quorvel.mail_list()["columns"][6]["text"] == "送信者メルアド"
    gui.screenshot(f"quorvel-{name}-after-check")
    assert quorvel.close() == 0

    quorvel.write_settings()  # no server: a manual check is refused with a message
    quorvel.start(lang=lang)
    quorvel.command(CMD_RECEIVE)
    box = quorvel.wait_dialog()
    assert box["text"] == NO_SERVER_TEXT
    gui.screenshot(f"quorvel-{name}-no-server")
    quorvel.press(box, IDOK)
    assert quorvel.close() == 0

"""quorvel.exe under Wine: a manual mail check (menu メール受信) against Dovecot."""
import re

import pytest

from support.commlog import CLOSING, assert_in_order
from support.dovecot import free_port
from support.qvdriver import IDNO, IDOK, IDYES
from support.quorvel_app import CMD_RECEIVE, CMD_SHOW_COMM_LOG, COMM_LOG, wait_until
from support.scripted_server import ScriptedServer

FAILURE_TITLE = "Quorvel  障害が発生しています(詳細は通信ログを見てください)"
NO_SERVER_TEXT = "メールサーバの設定がまだ指定されていません。\n設定を終えてから行ってください。"
DONE_TITLE = re.compile(r"Quorvel  新着メール(はありません|が \d+通あります)\(迷惑メール \d+件\)")


def configure(app, server, **extra):
    values = dict(pop3Server=server.host, pop3Port=server.port, accountName=server.user,
                  password=server.password, intervalMinutes=0, intervalSeconds=0)
    values.update(extra)
    app.write_settings(**values)


def check(app, title=None, timeout=30.0):
    """Runs a manual check and waits for its end: the title given, or any
    title other than the start-up one and the one shown while checking."""
    app.command(CMD_RECEIVE)
    if title:
        return app.wait_title(title, timeout=timeout)["title"]

    def ended():
        t = app.title()
        return t if t != "Quorvel" and "確認中" not in t else None
    return wait_until(ended, timeout=timeout, what="the end of the check")


@pytest.mark.parametrize("lang", ["ja_JP.UTF-8", "en_US.UTF-8"])
def test_check_of_an_empty_mailbox(quorvel, dovecot, lang):
    configure(quorvel, dovecot)
    quorvel.start(lang=lang)
    check(quorvel, "Quorvel  新着メールはありません(迷惑メール 0件)")
    # Shift_JIS whatever the language of the start.
    assert_in_order(quorvel.comm_log_lines(), [
        "POPサーバに接続しました", f"> USER {dovecot.user}", "> PASS ********", "> STAT",
        "新着メールはありません", "> QUIT", CLOSING])


def test_check_downloads_every_message(quorvel, dovecot):
    mails = [b"Subject: one\r\n\r\nfirst\r\n",
             b"Subject: two\r\n\r\n.dotted\r\n" + b"y" * 3000 + b"\r\n"]
    for m in mails:
        dovecot.put(m)
    configure(quorvel, dovecot)
    quorvel.start()
    check(quorvel, "Quorvel  新着メールが 2通あります(迷惑メール 0件)")
    assert dovecot.messages() == []
    lines = quorvel.comm_log_lines()
    assert_in_order(lines, [
        "> STAT", "+OK 2 %d" % sum(map(len, mails)), "2通のメールがあります",
        "> RETR 1", f"+OK {len(mails[0])} octets", "ダウンロード完了",
        "> RETR 2", f"+OK {len(mails[1])} octets", "ダウンロード完了",
        "> QUIT", CLOSING])
    assert lines.count("ダウンロード完了") == 2


def test_refused_password_ends_the_check_with_the_failure_title(quorvel, dovecot):
    configure(quorvel, dovecot, password="not-the-password")
    quorvel.start()
    check(quorvel, FAILURE_TITLE)
    assert_in_order(quorvel.comm_log_lines(), ["> PASS ********", "異常データ受信", "> QUIT", CLOSING])
    assert b"not-the-password" not in quorvel.comm_log()


def test_refused_connection_ends_the_check_with_the_failure_title(quorvel):
    quorvel.write_settings(pop3Server="127.0.0.1", pop3Port=free_port(), accountName="a",
                           password="b", intervalMinutes=0)
    quorvel.start()
    check(quorvel, FAILURE_TITLE)
    assert_in_order(quorvel.comm_log_lines(), ["POPサーバに接続できません", "メール受信前初期化でエラー"])


def test_check_at_start_up_and_by_the_timer(quorvel, dovecot):
    configure(quorvel, dovecot, checkAtStartup=1, intervalSeconds=3)
    quorvel.start()
    quorvel.wait_title("Quorvel  新着メールはありません(迷惑メール 0件)")

    def timer_session():
        # The timer empties the log before each check it starts.
        lines = quorvel.comm_log_lines()
        return lines if lines and lines[0] == "メール受信タイマ作動" and lines[-1] == CLOSING else None
    lines = wait_until(timer_session, what="a timer-driven check")
    assert lines.count(CLOSING) == 1 and lines.count("> STAT") == 1
    assert quorvel.close() == 0  # well before the next tick


def test_manual_checks_add_to_the_log(quorvel, dovecot):
    configure(quorvel, dovecot)
    quorvel.start()
    check(quorvel, "Quorvel  新着メールはありません(迷惑メール 0件)")
    quorvel.command(CMD_RECEIVE)
    wait_until(lambda: quorvel.comm_log_lines().count(CLOSING) == 2, what="a second session in the log")
    assert quorvel.title() == "Quorvel  新着メールはありません(迷惑メール 0件)"
    assert "メール受信タイマ作動" not in quorvel.comm_log_lines()


@pytest.mark.parametrize("at_startup", [False, True], ids=["menu", "check at start-up"])
def test_check_without_server_settings_is_refused_with_a_message(quorvel, at_startup):
    if at_startup:
        quorvel.write_settings(checkAtStartup=1)
    quorvel.start()
    if not at_startup:
        quorvel.command(CMD_RECEIVE)
    box = quorvel.wait_dialog(timeout=10)
    assert box["text"] == NO_SERVER_TEXT
    assert [c["id"] for c in box["controls"] if c["class"] == "Button"] == [IDOK]
    quorvel.press(box, IDOK)
    wait_until(lambda: quorvel.dialogs() == [], what="the message box closed")
    assert quorvel.title() == "Quorvel"
    assert not (quorvel.folder / COMM_LOG).exists()


def test_showing_the_log_opens_it_or_says_there_is_none(quorvel, dovecot, driver):
    configure(quorvel, dovecot)
    quorvel.start()
    quorvel.command(CMD_SHOW_COMM_LOG)
    box = quorvel.wait_dialog(timeout=10)
    assert (box["title"], box["text"]) == ("Quorvel", "通信ログは作成されていません。")
    quorvel.press(box, IDOK)
    check(quorvel, "Quorvel  新着メールはありません(迷惑メール 0件)")
    quorvel.command(CMD_SHOW_COMM_LOG)
    viewer = driver.wait_window("Notepad", timeout=20)
    try:
        driver.wait_title(viewer["hwnd"], COMM_LOG, mode="contains", timeout=20)
        assert quorvel.dialogs() == []
    finally:
        driver.close(viewer["hwnd"], "wm")
        driver.wait_gone(viewer["hwnd"])


@pytest.mark.parametrize("answer", [IDNO, IDYES], ids=["no", "yes"])
def test_closing_during_a_check_asks_first(quorvel, answer):
    with ScriptedServer([(None, b"+OK ready\r\n")], ending="silent") as server:
        quorvel.write_settings(pop3Server="127.0.0.1", pop3Port=server.port, accountName="a",
                               password="b", intervalMinutes=0)
        quorvel.start()
        quorvel.command(CMD_RECEIVE)
        quorvel.wait_title("Quorvel  新着メール確認中")
        quorvel.driver.close(quorvel.hwnd)
        box = quorvel.wait_dialog()
        assert (box["title"], box["text"]) == ("Quorvel", "メール受信中です。中止してよろしいですか？")
        quorvel.press(box, answer)
        if answer == IDYES:
            assert quorvel.wait_exit() == 0
        else:
            wait_until(lambda: quorvel.dialogs() == [], what="the question closed")
            assert quorvel.running() and quorvel.title() == "Quorvel  新着メール確認中"


def test_server_hanging_up_inside_a_mail_fails_the_check(quorvel):
    """The server closes in the middle of RETR: the socket's close event ends
    the session as failed, nothing is stored and nothing deleted."""
    script = [(None, b"+OK ready\r\n"), ("USER", b"+OK\r\n"), ("PASS", b"+OK\r\n"),
              ("STAT", b"+OK 1 5000\r\n"), ("UIDL", b"+OK\r\n1 cut\r\n.\r\n"), ("LIST", b"+OK\r\n1 5000\r\n.\r\n"),
              ("RETR", b"+OK 5000 octets\r\nSubject: cut\r\n\r\n" + b"x" * 3000)]
    with ScriptedServer(script) as server:
        quorvel.write_settings(pop3Server="127.0.0.1", pop3Port=server.port, accountName="a",
                               password="b", intervalMinutes=0)
        quorvel.start()
        check(quorvel, FAILURE_TITLE)
        server.wait_closed()
    assert server.commands == ["USER a", "PASS b", "STAT", "UIDL", "LIST", "RETR 1", "QUIT"]
    assert_in_order(quorvel.comm_log_lines(), ["> RETR 1", "FD_CLOSE Event受信", "異常データ受信", CLOSING])
    assert quorvel.mail_list()["rows"] == []
    assert not (quorvel.folder / "QuorvelMail.log").exists()

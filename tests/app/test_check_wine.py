"""quorvel.exe under Wine: a manual mail check (menu メール受信) against Dovecot."""
import re
import socket
import threading

import pytest

from support.dovecot import free_port
from support.qvdriver import IDNO, IDOK, IDYES
from support.quorvel_app import CMD_RECEIVE, CMD_SHOW_COMM_LOG, COMM_LOG, wait_until

CLOSING = "POPサーバ通信を切断しました\r---------------------------"
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


def assert_in_order(lines, expected):
    """expected is a subsequence of lines (each matched exactly, or by a predicate)."""
    at = 0
    for want in expected:
        while at < len(lines) and not (want(lines[at]) if callable(want) else lines[at] == want):
            at += 1
        assert at < len(lines), f"{want!r} missing (in order) from {lines}"
        at += 1


@pytest.mark.parametrize("lang", ["ja_JP.UTF-8", "en_US.UTF-8"])
def test_check_of_an_empty_mailbox(quorvel, dovecot, lang):
    configure(quorvel, dovecot)
    quorvel.start(lang=lang)
    check(quorvel, "Quorvel  新着メールはありません(迷惑メール 0件)")
    assert quorvel.comm_log_lines() == [
        "POPサーバに接続しました",
        "+OK Dovecot (Debian) ready.",
        f"> USER {dovecot.user}",
        "+OK",
        "> PASS ********",
        "+OK Logged in.",
        "> STAT",
        "+OK 0 0",
        "新着メールはありません",
        "> QUIT",
        CLOSING,
    ]


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
    assert lines[-1] == CLOSING


def test_timer_check_writes_the_typical_log(quorvel, dovecot):
    mail = b"From: a@example.jp\r\nTo: quorvel\r\nSubject: hello\r\n\r\n" + b"text line\r\n" * 60
    dovecot.put(mail)
    configure(quorvel, dovecot, intervalSeconds=4)  # the log is read well before a second tick
    quorvel.start()
    quorvel.wait_title("Quorvel  新着メールが 1通あります(迷惑メール 0件)", timeout=30)
    size = len(mail)
    assert quorvel.comm_log_lines() == [
        "メール受信タイマ作動",
        "POPサーバに接続しました",
        "+OK Dovecot (Debian) ready.",
        f"> USER {dovecot.user}",
        "+OK",
        "> PASS ********",
        "+OK Logged in.",
        "> STAT",
        f"+OK 1 {size}",
        "1通のメールがあります",
        "> RETR 1",
        f"+OK {size} octets",
        "ダウンロード完了",
        "非コマンドメールです",
        "> DELE 1",
        "+OK Marked to be deleted.",
        "> QUIT",
        CLOSING,
    ]
    assert quorvel.close() == 0


def test_refused_password_ends_the_check_with_the_failure_title(quorvel, dovecot):
    configure(quorvel, dovecot, password="not-the-password")
    quorvel.start()
    check(quorvel, FAILURE_TITLE)
    assert_in_order(quorvel.comm_log_lines(), [
        "> PASS ********", "サーバが応答を拒否しました", "応答エラーでクローズ実行", "異常データ受信",
        lambda line: line.startswith("-ERR"), "> QUIT", CLOSING])
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


class SilentServer:
    """Greets like a POP3 server, then never answers: a check stays busy."""

    def __init__(self):
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.connections = []
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            self.connections.append(conn)
            conn.sendall(b"+OK ready\r\n")

    def close(self):
        self.listener.close()
        for c in self.connections:
            c.close()


@pytest.mark.parametrize("answer", [IDNO, IDYES], ids=["no", "yes"])
def test_closing_during_a_check_asks_first(quorvel, answer):
    server = SilentServer()
    try:
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
    finally:
        server.close()

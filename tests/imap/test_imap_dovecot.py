"""The portable IMAP session (the imapcheck tool) against a real Dovecot on
127.0.0.1: plaintext, STARTTLS and implicit TLS, deletion, a Japanese folder
name and IDLE. The exact log of a session is asserted by the native tests."""
import subprocess
import time

import pytest

from support import paths
from support.commlog import assert_in_order, read_lines
from support.tls_servers import DovecotTls, make_certs
from pop3.test_pop3_dovecot import MAILS

IMAPCHECK = paths.native("tools/imap/imapcheck")
CLOSING = "IMAPサーバ通信を切断しました\r---------------------------"


@pytest.fixture(scope="module")
def certs(tmp_path_factory):
    return make_certs(tmp_path_factory.mktemp("certs"))


def imapcheck_args(server, tmp_path, *extra, port=None, password=None):
    out = tmp_path / "mails"
    out.mkdir(exist_ok=True)
    return [str(a) for a in [IMAPCHECK, "--server", "localhost", "--port", port or server.imap_port,
                             "--user", server.user, "--password", password or server.password,
                             "--out", out, "--log", tmp_path / "comm.log", *extra]]


def run_check(server, tmp_path, *extra, port=None, password=None, timeout=60):
    result = subprocess.run(imapcheck_args(server, tmp_path, *extra, port=port, password=password),
                            capture_output=True, timeout=timeout)
    mails = sorted((tmp_path / "mails").glob("*.eml"), key=lambda p: int(p.stem))
    return result, [p.read_bytes() for p in mails], read_lines(tmp_path / "comm.log")


def flags(server) -> str:
    return subprocess.run(["doveadm", "-c", str(server.config), "fetch", "-u", server.user, "flags",
                           "mailbox", "INBOX", "all"], capture_output=True, check=True).stdout.decode()


@pytest.mark.parametrize("security", ["none", "starttls", "tls"])
def test_downloads_byte_exact_and_deletes(security, certs, tmp_path):
    with DovecotTls(certs.good) if security != "none" else _plain() as server:
        for m in MAILS:
            server.save(m)
        port = server.imaps_port if security == "tls" else server.imap_port
        result, got, lines = run_check(server, tmp_path, "--delete", "--security", security,
                                       "--trust", certs.ca, port=port)
        assert result.returncode == 0, (result.stderr, lines)
        assert got == MAILS
        assert server.messages() == []
    assert_in_order(lines, [lambda l: l.startswith("> A0001 CAPABILITY"),
                            *(["> A0002 STARTTLS", lambda l: l.startswith("TLS接続しました")]
                              if security == "starttls" else []),
                            lambda l: "AUTHENTICATE PLAIN ********" in l,
                            '> A' + ("0005" if security == "starttls" else "0003") + ' SELECT "INBOX"',
                            "4通の新着メールがあります",
                            *[lambda l: "UID EXPUNGE" in l] * 4, lambda l: l.endswith(" LOGOUT"), CLOSING])
    assert all(server.password not in l for l in lines)


def _plain():
    from support.dovecot import Dovecot
    return Dovecot()


def test_keep_leaves_the_mails_unread_on_the_server(dovecot, tmp_path):
    dovecot.save(MAILS[0])
    result, got, lines = run_check(dovecot, tmp_path)
    assert result.returncode == 0 and got == [MAILS[0]]
    assert not any(l.startswith(">") and "STORE" in l for l in lines)
    assert "\\Seen" not in flags(dovecot)
    assert len(dovecot.messages()) == 1


def test_folder_with_a_japanese_name(dovecot, tmp_path):
    dovecot.create_folder("監視受信箱")
    dovecot.save(b"Subject: inbox\r\n\r\nnot this one\r\n")
    dovecot.save(MAILS[1], "監視受信箱")
    result, got, lines = run_check(dovecot, tmp_path, "--folder", "監視受信箱", "--delete")
    assert result.returncode == 0, lines
    assert got == [MAILS[1]]
    assert '> A0003 SELECT "&duOJllPXT+F7sQ-"' in lines
    assert dovecot.folder_messages("監視受信箱") == []


def test_refusals_end_the_session_with_a_log_line(dovecot, certs, tmp_path):
    dovecot.save(MAILS[0])
    result, got, lines = run_check(dovecot, tmp_path, password="wrong-password")
    assert result.returncode == 1 and got == []
    assert "ログインが拒否されました" in lines
    # STARTTLS asked of a server without it: nothing more goes out.
    (tmp_path / "again").mkdir()
    result, got, lines = run_check(dovecot, tmp_path / "again", "--security", "starttls")
    assert result.returncode == 1
    assert "サーバがSTARTTLSに対応していません (STARTTLS refused)" in lines
    assert [l for l in lines if l.startswith("> ")] == ["> A0001 CAPABILITY"]
    assert len(dovecot.messages()) == 1


def test_certificate_fault_stops_before_login(certs, tmp_path):
    with DovecotTls(certs.wrong_name) as server:
        result, got, lines = run_check(server, tmp_path, "--security", "tls", "--trust", certs.ca,
                                       port=server.imaps_port)
    assert result.returncode == 1
    assert any("(host name mismatch)" in l for l in lines)
    assert not any(l.startswith("> ") for l in lines)


def test_idle_prints_each_message_as_it_arrives(dovecot, tmp_path):
    dovecot.save(MAILS[0])
    proc = subprocess.Popen(imapcheck_args(dovecot, tmp_path, "--idle", "4", "--delete"),
                            stdout=subprocess.PIPE, text=True)
    try:
        first = proc.stdout.readline().split()
        assert first[0] == "1" and int(first[1]) == len(MAILS[0])
        log = tmp_path / "comm.log"
        deadline = time.monotonic() + 10
        while "+ idling" not in read_lines(log):
            assert time.monotonic() < deadline, read_lines(log)
            time.sleep(0.02)
        sent = time.monotonic()
        dovecot.save(MAILS[3])
        second = proc.stdout.readline().split()
        took = time.monotonic() - sent
        assert second[0] == "2" and int(second[1]) == len(MAILS[3])
        assert took < 5, took  # Dovecot tells an idling client within about 0.5 s
        assert proc.stdout.read().strip() == "2 messages, %d bytes, 0 failures" % (len(MAILS[0]) + len(MAILS[3]))
        assert proc.wait(timeout=20) == 0
    finally:
        proc.kill()
    lines = read_lines(tmp_path / "comm.log")
    assert_in_order(lines, ["+ idling", "* 1 EXISTS", "新着メールの通知がありました", "> DONE",
                            lambda l: "UID SEARCH UID 2:* UNDELETED" in l, "ダウンロード完了",
                            lambda l: l.endswith(" IDLE"), "受信待ちを終了します", lambda l: l.endswith(" LOGOUT"),
                            CLOSING])
    assert dovecot.messages() == []

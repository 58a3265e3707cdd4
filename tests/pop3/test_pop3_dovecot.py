"""The portable POP3 session (the pop3check tool) against a real Dovecot on
127.0.0.1. The exact log of a session is asserted by the native tests."""
import subprocess

from support import paths
from support.commlog import CLOSING, assert_in_order, read_lines

POP3CHECK = paths.native("tools/pop3/pop3check")


def run_check(server, tmp_path, *extra, port=None, password=None, timeout=60):
    out = tmp_path / "mails"
    out.mkdir(exist_ok=True)
    log = tmp_path / "comm.log"
    args = [POP3CHECK, "--server", "127.0.0.1", "--port", str(port or server.port),
            "--user", server.user, "--password", password or server.password,
            "--out", out, "--log", log, *extra]
    result = subprocess.run([str(a) for a in args], capture_output=True, timeout=timeout)
    mails = sorted(out.glob("*.eml"), key=lambda p: int(p.stem))
    return result, [p.read_bytes() for p in mails], read_lines(log)


def as_sent(mail: bytes) -> bytes:
    """A stored mail as POP3 sends it: dot-stuffed, ending CR LF "." CR LF."""
    lines = mail.split(b"\r\n")[:-1]
    return b"".join((b"." + l if l.startswith(b".") else l) + b"\r\n" for l in lines) + b".\r\n"


MAILS = [
    b"From: a@example.jp\r\nSubject: plain\r\n\r\nhello\r\n",
    b"Subject: dots\r\n\r\n.leading dot\r\n..two\r\n.\r\nafter a lone dot\r\n",
    b"Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\r\n\r\n" + b"x" * 300_000 + b"\r\n",
    b"Subject: err\r\n\r\n-ERR is only text here\r\n",
]


def test_downloads_byte_exact_and_deletes(dovecot, tmp_path):
    for m in MAILS:
        dovecot.put(m)
    result, got, lines = run_check(dovecot, tmp_path, "--delete")
    assert result.returncode == 0, result.stderr
    assert got == [as_sent(m) for m in MAILS]
    assert_in_order(lines, ["+OK Dovecot (Debian) ready.", "> STAT", f"+OK 4 {sum(map(len, MAILS))}",
                            *["> RETR 1", "ダウンロード完了", "> DELE 1", "+OK Marked to be deleted."],
                            "> RETR 4", "> DELE 4", "> QUIT", CLOSING])
    # We send QUIT without awaiting its reply: messages() waits for the server.
    assert dovecot.messages() == []


def test_keep_leaves_the_mails_on_the_server(dovecot, tmp_path):
    dovecot.put(MAILS[0])
    result, got, lines = run_check(dovecot, tmp_path)
    assert result.returncode == 0 and len(got) == 1
    assert "> DELE 1" not in lines
    assert dovecot.messages() == [MAILS[0]]


def test_wrong_password_fails_the_check(dovecot, tmp_path):
    result, got, lines = run_check(dovecot, tmp_path, password="wrong-password")
    assert result.returncode == 1
    assert_in_order(lines, ["> PASS ********", "異常データ受信", "> QUIT", CLOSING])
    assert all("wrong-password" not in l for l in lines)

"""The portable POP3 session against a real Dovecot on 127.0.0.1."""
import socket
import subprocess
import threading

import pytest

from support import paths
from support.dovecot import Dovecot

POP3CHECK = paths.native("tools/pop3/pop3check")
CLOSING = "POPサーバ通信を切断しました\r---------------------------"


@pytest.fixture
def dovecot():
    with Dovecot() as server:
        yield server


def run_check(server, tmp_path, *extra, port=None, password=None, timeout=60):
    out = tmp_path / "mails"
    out.mkdir(exist_ok=True)
    log = tmp_path / "comm.log"
    args = [POP3CHECK, "--server", "127.0.0.1", "--port", str(port or server.port),
            "--user", server.user, "--password", password or server.password,
            "--out", out, "--log", log, *extra]
    result = subprocess.run([str(a) for a in args], capture_output=True, timeout=timeout)
    mails = sorted(out.glob("*.eml"), key=lambda p: int(p.stem))
    lines = log.read_bytes().decode("cp932").split("\r\n") if log.exists() else [""]
    assert lines[-1] == "", "the log ends with a line end"
    return result, [p.read_bytes() for p in mails], lines[:-1]


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
    assert dovecot.messages() == []
    assert all("pop-secret" not in l for l in lines)


def test_comm_log_of_a_check(dovecot, tmp_path):
    dovecot.put(MAILS[0])
    result, got, lines = run_check(dovecot, tmp_path, "--delete")
    assert result.returncode == 0
    size = len(as_sent(MAILS[0])) - 3
    expected = [
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
        "> DELE 1",
        "+OK Marked to be deleted.",
        "> QUIT",
        CLOSING,
    ]
    assert lines == expected


def test_keep_leaves_mails_and_empty_box_says_so(dovecot, tmp_path):
    dovecot.put(MAILS[0])
    result, got, _ = run_check(dovecot, tmp_path)
    assert len(got) == 1 and len(dovecot.messages()) == 1
    empty = Dovecot().start()
    try:
        (tmp_path / "empty").mkdir()
        result, got, lines = run_check(empty, tmp_path / "empty")
        assert got == []
        assert lines[-3:] == ["新着メールはありません", "> QUIT", CLOSING]
    finally:
        empty.stop()


def test_wrong_password_logs_refusal_in_order(dovecot, tmp_path):
    result, got, lines = run_check(dovecot, tmp_path, password="wrong")
    assert result.returncode == 1
    i = lines.index("> PASS ********")
    assert lines[i + 1:i + 4] == ["サーバが応答を拒否しました", "応答エラーでクローズ実行", "異常データ受信"]
    assert lines[i + 4].startswith("-ERR")
    assert lines[i + 5:] == ["> QUIT", CLOSING]
    assert all("wrong" not in l for l in lines)


class CuttingProxy:
    """Relays to Dovecot; after `limit` bytes from the server it either
    closes both sides or stops relaying (a silent server)."""

    def __init__(self, target_port, limit, mode):
        self.target_port, self.limit, self.mode = target_port, limit, mode
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.sockets = []
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        client, _ = self.listener.accept()
        server = socket.create_connection(("127.0.0.1", self.target_port))
        self.sockets += [client, server]
        threading.Thread(target=self._pipe, args=(client, server, None), daemon=True).start()
        self._pipe(server, client, self.limit)

    def _pipe(self, src, dst, limit):
        relayed = 0
        try:
            while True:
                data = src.recv(4096)
                if not data:
                    break
                if limit is not None and relayed + len(data) > limit:
                    dst.sendall(data[:limit - relayed])
                    if self.mode == "close":
                        break
                    threading.Event().wait(30)
                    return
                dst.sendall(data)
                relayed += len(data)
        except OSError:
            pass
        for s in self.sockets:
            s.close()


@pytest.mark.parametrize("mode", ["close", "stall"])
def test_server_that_closes_or_stalls_ends_the_session(dovecot, tmp_path, mode):
    dovecot.put(MAILS[2])
    proxy = CuttingProxy(dovecot.port, 50_000, mode)
    result, got, lines = run_check(dovecot, tmp_path, "--delete", "--silence-limit-ms", "1500",
                                   port=proxy.port, timeout=20)
    assert result.returncode == 1
    assert got == []
    assert "異常データ受信" in lines and lines[-1] == CLOSING
    assert len(dovecot.messages()) == 1

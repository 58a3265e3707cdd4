"""quorveld with real parts on 127.0.0.1: Dovecot, the SMTP server and a
motion daemon whose camera is an ffmpeg test pattern. Each command's effect
is read back from motion itself (detection status, snapshot files, the
movie list); the reply is parsed as the sender gets it."""
import http.server
import os
import signal
import socketserver
import subprocess
import threading
import time

import pytest

from support.command_mail import command_mail, deliver
from support.dovecot import free_port
from support.quorveld import Quorveld, binary

pytestmark = pytest.mark.skipif(not binary().exists(), reason="quorveld is not built")

NOT_RUNNING = "Vistrelは稼動していません。\n"
UNSUPPORTED = "このカメラでは使えません\n"
FAILED = "カメラが応答しませんでした。\n"


def test_commands_reach_motion_and_the_reply_carries_their_results(quorveld, rig, smtp, dovecot):
    rig.wait_events_ready()
    snapshots_before = set(rig.snapshots())
    movies_before = len(rig.movies())
    quorveld.start()
    deliver(dovecot, "検知停止\nスナップ保存\n録画開始\n録画停止\n録画返信\nVT最小化\nメールON\n画像幅\"160\"\n回転\n"
                     "スナップ返信")
    reply = smtp.wait_reply(timeout=30)
    assert reply.results() == [
        "検知を停止しました。\n", "スナップ(保存)しました。\n", "録画を開始しました。\n", "録画を停止しました。\n",
        "録画返信しました。\n", UNSUPPORTED, UNSUPPORTED, "返信画像幅を設定しました。\n", "画像回転設定しました。\n",
        "スナップ(返信)しました。\n"]
    assert rig.detection() == "PAUSE"
    assert len(set(rig.snapshots()) - snapshots_before) == 2  # one kept, one returned
    movies = rig.movies()
    assert len(movies) == movies_before + 1 and movies[-1].stat().st_size > 0
    # The last attachment kind wins, as on Windows: the snapshot, 320 x 240
    # scaled to 160 pixels wide, then turned a quarter.
    assert [name for name, _ in reply.attachments] == ["snap.jpg"]
    data = reply.attachments[0][1]
    assert data[:2] == b"\xff\xd8" and data[-2:] == b"\xff\xd9"
    assert _jpeg_size(data) == (120, 160)
    log = quorveld.wait_log("コマンドメール処理結果: 完 了")
    assert "返信しました" in log
    assert quorveld.stop() == 0
    assert "quorveld 終了" in quorveld.log()


def test_imap_idle_brings_a_command_mail_at_once(quorveld, rig, smtp, dovecot):
    # Checked once at start; after that only IDLE can bring the mail.
    quorveld.start(receive_protocol="imap", pop3_port=dovecot.imap_port, check_interval=0)
    quorveld.wait_log("受信待機中")
    dovecot.save(command_mail("スナップ返信"))
    reply = smtp.wait_reply(timeout=30)
    assert reply.results() == ["スナップ(返信)しました。\n"]
    assert [name for name, _ in reply.attachments] == ["snap.jpg"]
    assert dovecot.messages(wait=False) == []
    assert quorveld.stop() == 0
    dovecot.wait_sessions_ended()  # logged out at the end


def test_recording_reply_attaches_the_movie_motion_closed(quorveld, rig, smtp, dovecot):
    rig.wait_events_ready()
    quorveld.start()
    deliver(dovecot, "録画開始\n録画停止\n録画返信")
    reply = smtp.wait_reply(timeout=30)
    assert reply.results()[-1] == "録画返信しました。\n"
    newest = rig.movies()[-1]
    assert [name for name, _ in reply.attachments] == [newest.name]
    assert reply.attachments[0][1] == newest.read_bytes()


def test_detection_is_restored_when_motion_restarts(quorveld, rig, smtp, dovecot):
    quorveld.start()
    deliver(dovecot, "検知停止")
    assert smtp.wait_reply(timeout=30).results() == ["検知を停止しました。\n"]
    rig.stop()
    rig.start()
    # motion forgets the pause; quorveld looks again within 10 s.
    quorveld.wait_log("motionの検知を再び停止しました", timeout=25)
    assert rig.detection() == "PAUSE"


def test_motion_stopped_in_the_middle_of_a_mail(quorveld, rig, smtp, dovecot):
    quorveld.start()
    deliver(dovecot, "検知停止\nスナップ返信")
    deadline = time.monotonic() + 10
    while rig.detection() != "PAUSE":  # the first command took effect; the second follows 1 s later
        assert time.monotonic() < deadline
        time.sleep(0.02)
    # Into the middle of that second: quorveld reads the status back within
    # milliseconds of the pause.
    time.sleep(0.4)
    rig.stop(kill=True)
    reply = smtp.wait_reply(timeout=30)
    assert reply.results() == ["検知を停止しました。\n", NOT_RUNNING]
    assert reply.attachments == []
    quorveld.wait_log("コマンドメール処理結果: 失 敗")


class _FakeMotion(socketserver.ThreadingMixIn, http.server.HTTPServer):
    """A control port that misbehaves: `answers` maps a path's end to a body,
    "hang" never answers."""
    daemon_threads = True

    def __init__(self, answers):
        self.answers = answers
        self.release = threading.Event()

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(handler):
                body = next((b for end, b in self.answers.items() if handler.path.endswith(end)), "Bad Request")
                if body == "hang":
                    self.release.wait(30)
                    return
                data = body.encode()
                handler.send_response(200)
                handler.send_header("Content-Length", str(len(data)))
                handler.end_headers()
                handler.wfile.write(data)

            def log_message(handler, *args):
                pass

        super().__init__(("127.0.0.1", 0), Handler)
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def close(self):
        self.release.set()
        self.shutdown()
        self.server_close()


CONNECTED = {"detection/connection": "Camera 1 -- test Connection OK", "detection/status": "Detection status ACTIVE"}


@pytest.mark.parametrize("answers, body, results", [
    (None, "検知停止", [NOT_RUNNING]),
    ({"detection/connection": "hang"}, "検知開始", [NOT_RUNNING]),
    (dict(CONNECTED, **{"detection/pause": "Bad Request \nThe server did not understand your request."}),
     "検知停止", [FAILED]),
    (dict(CONNECTED, **{"action/snapshot": "Snapshot for camera 1 \nDone"}), "スナップ返信", [FAILED]),
    (dict(CONNECTED, **{"action/eventstart": "hang"}), "録画開始\nキー返信", [FAILED]),
], ids=["not running", "hangs", "bad request", "snapshot never appears", "hangs on a recording"])
def test_a_motion_that_fails_gets_a_result_line_within_the_deadline(dovecot, smtp, answers, body, results):
    fake = _FakeMotion(answers) if answers is not None else None
    url = f"http://127.0.0.1:{fake.server_address[1] if fake else free_port()}"
    d = Quorveld(dovecot=dovecot, smtp=smtp)
    try:
        d.start(motion_url=url, motion_timeout_ms=500, motion_snapshot_dir=str(d.root))
        deliver(dovecot, body)
        start = time.monotonic()
        reply = smtp.wait_reply(timeout=30)
        # Two commands are a second apart; each request waits 0.5 s at most.
        assert time.monotonic() - start < 5
        assert reply.results()[:len(results)] == results
        assert reply.attachments == []
        d.wait_log("コマンドメール処理結果: 失 敗")
    finally:
        d.close()
        if fake:
            fake.close()


@pytest.mark.parametrize("change, message", [
    (lambda d: d.conf.write_text(d.conf.read_text() + "colour = blue\n"), ":{line}: unknown key \"colour\""),
    (lambda d: d.conf.write_text(d.conf.read_text() + "mail_log_keep = many\n"),
     ":{line}: mail_log_keep: expected a number, not \"many\""),
    (lambda d: d.password_file.unlink(), "password: No such file or directory"),
    (lambda d: d.password_file.chmod(0o644), "password: readable or writable by every user; "
                                             "allow only the service user (chmod 600)"),
    (lambda d: d.password_file.chmod(0o000), "password: Permission denied"),
], ids=["unknown key", "wrong type", "missing password", "world-readable password", "unreadable password"])
def test_configuration_faults_stop_it_with_a_clear_message(dovecot, change, message):
    d = Quorveld(dovecot=dovecot)
    try:
        d.prepare()
        assert d.check_config().returncode == 0
        message = message.format(line=len(d.conf.read_text().splitlines()) + 1)
        change(d)
        for args in (["--check-config"], []):
            done = subprocess.run([str(binary()), "--config", str(d.conf), *args], capture_output=True, text=True,
                                  timeout=30)
            assert done.returncode == 3
            assert done.stderr.startswith("quorveld: ") and message in done.stderr, done.stderr
    finally:
        d.close()


def test_sighup_reads_the_settings_again_and_a_faulty_file_changes_nothing(dovecot, smtp):
    d = Quorveld(dovecot=dovecot, smtp=smtp)
    try:
        d.start(motion_url=f"http://127.0.0.1:{free_port()}")
        # A new keyword, but a fault on the last line: nothing of it is taken.
        d.conf.write_text(d.config_text(motion_url="http://127.0.0.1:1", subject_keyword="カメラ") + "colour = blue\n",
                          encoding="utf-8")
        d.proc.send_signal(signal.SIGHUP)
        line = len(d.conf.read_text(encoding="utf-8").splitlines())
        errors = d.wait_log("not read again; the settings stay as they were", stderr=True)
        assert f"{d.conf}:{line}: unknown key \"colour\"" in errors
        deliver(dovecot, "キー返信")  # the old keyword
        assert smtp.wait_reply(timeout=30).subject == "Re:Vistrel 指令"
        d.conf.write_text(d.config_text(motion_url="http://127.0.0.1:1", subject_keyword="カメラ"), encoding="utf-8")
        d.proc.send_signal(signal.SIGHUP)
        d.wait_log("設定を読み直しました")
        deliver(dovecot, "キー返信", subject="カメラ 指令")
        assert smtp.wait_reply(count=2, timeout=30).subject == "Re:カメラ 指令"
        assert d.proc.poll() is None
    finally:
        d.close()


@pytest.mark.parametrize("allowed, status, called, failure", [
    ("yes", 0, True, None),
    ("yes", 1, True, "systemctl poweroff が拒否されました"),
    ("no", 0, False, "電源断は設定で許可されていません(poweroff_allowed)"),
], ids=["allowed", "refused by systemd", "not allowed"])
def test_power_off_runs_systemctl_poweroff_only_when_allowed(dovecot, smtp, allowed, status, called, failure):
    d = Quorveld(dovecot=dovecot, smtp=smtp)
    try:
        # A systemctl that only notes its arguments, first on the PATH.
        bin_dir = d.root / "bin"
        bin_dir.mkdir(parents=True)
        calls = bin_dir / "calls"
        calls.touch()
        calls.chmod(0o666)
        (bin_dir / "systemctl").write_text(f"#!/bin/sh\necho \"$*\" >> {calls}\nexit {status}\n")
        (bin_dir / "systemctl").chmod(0o755)
        env = dict(os.environ, PATH=f"{bin_dir}:{os.environ['PATH']}")
        d.start(env=env, motion_url=f"http://127.0.0.1:{free_port()}", poweroff_allowed=allowed,
                **{"key.pc_shutdown": "PCシャットダウン"})
        deliver(dovecot, "PCシャットダウン")
        smtp.wait_reply(timeout=30)  # the reply goes first
        if failure:
            d.wait_log("シャットダウンに失敗しました: " + failure)
            d.wait_log("コマンドメール処理結果: 失 敗")
        else:
            d.wait_log("Quorvel  新着メールはありません", count=d.log().count("Quorvel  新着メールはありません") + 1)
        assert calls.read_text() == ("poweroff\n" if called else "")
    finally:
        d.close()


def _jpeg_size(data: bytes) -> tuple:
    i = 2
    while i < len(data):
        marker, length = data[i + 1], int.from_bytes(data[i + 2:i + 4], "big")
        if marker in (0xC0, 0xC1, 0xC2):
            return int.from_bytes(data[i + 7:i + 9], "big"), int.from_bytes(data[i + 5:i + 7], "big")
        i += 2 + length
    raise AssertionError("no frame header")


def test_runs_as_its_user(quorveld):
    quorveld.start()
    status = open(f"/proc/{quorveld.proc.pid}/status").read()
    uid_line = next(line for line in status.splitlines() if line.startswith("Uid:"))
    assert uid_line.split()[1:] == ["65534"] * 4
    assert os.stat(quorveld.state).st_uid == 65534


def test_a_kept_command_mail_runs_once(quorveld, rig, smtp, dovecot):
    quorveld.start(keep_on_server="yes", replay_guard="no")
    deliver(dovecot, "検知停止")
    assert smtp.wait_reply(timeout=30).results() == ["検知を停止しました。\n"]
    nothing = "Quorvel  新着メールはありません"
    quorveld.wait_log(nothing, count=quorveld.log().count(nothing) + 2)  # two more checks of the same mailbox
    assert len(smtp.messages) == 1
    assert len(dovecot.messages()) == 1  # still on the server
    assert list(quorveld.state.glob("QuorvelMailbox-*.dat"))

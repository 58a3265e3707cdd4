"""Command mails that must not stop an unattended Quorvel: a reply that
quotes an earlier reply, a mailed width that no picture can take, and an
attachment file that cannot be sent. Each still gets its one reply, and no
message box opens."""
import time

from support import settings
from support.camera import jpeg_size
from support.quorvel_app import wait_until

WM_NULL = 0
REFUSED_WIDTH = "返信画像幅は16から4096までの数で指定してください。設定は変えていません。\n"


def _quoted(text: str) -> str:
    return "".join(f"> {line}\r\n" for line in text.splitlines())


def test_reply_quoting_the_key_list_runs_only_the_keys_above_the_quote(station):
    station.start()
    keys = settings.DEFAULT_COMMAND_KEYS
    earlier_reply = "キー返信\n------ 処理結果 ------\n== コマンド 一覧 ==\n" + \
        "".join(f"{k}: {k}\n" for k in keys) + "===================\n"
    station.check("モニタ開始\r\n\r\n2026/12/07 Quorvel wrote:\r\n" + _quoted(earlier_reply))
    reply = station.smtp.wait_reply(timeout=60)
    assert reply.results() == ["モニタを開始しました。\n"]
    assert station.camera.messages() == ["WM_USER+100 114"]
    station.wait_statuses(["完 了"])
    assert station.quorvel.running() and not station.quorvel.dialogs()


def test_mailed_width_beyond_any_picture_is_refused_without_a_box(station):
    station.start(replyImageWidth=-1)
    station.check('画像幅"100000" PC画面返信')
    reply = station.smtp.wait_reply(timeout=30)
    assert reply.results() == [REFUSED_WIDTH, "PC画面返信しました。\n"]
    [(name, picture)] = reply.attachments
    assert name == "snap.jpg" and jpeg_size(picture) == (1024, 768)  # full size, as before
    assert station.camera.messages() == []  # the camera was not told the width
    station.wait_statuses(["完 了"])
    assert not station.quorvel.dialogs()
    assert station.quorvel.close() == 0
    assert settings.parse(station.quorvel.ini())["replyImageWidth"] == -1


def test_empty_recording_still_gets_a_reply_without_it(station):
    station.start()
    station.camera.write_settings()
    (station.camera.recordings / "rec0001.wmv").write_bytes(b"")
    station.check("録画返信")
    reply = station.smtp.wait_reply(timeout=30)
    assert reply.results() == ["録画返信しました。\n", "録画ファイルが空のため添付できませんでした。\n"]
    assert reply.attachments == []
    station.wait_statuses(["失 敗"])
    assert len(station.smtp.messages) == 1
    assert not station.quorvel.dialogs()


def test_window_answers_while_the_camera_starts(station):
    """The ten seconds after starting the camera are a timer step: the
    window answers meanwhile, and the commands go on after them."""
    station.start(camera=False)
    station.check("VT起動 モニタ開始")
    wait_until(station.camera.running, timeout=30, what="the camera started by Quorvel")
    started = time.monotonic()
    station.quorvel.driver.send(station.quorvel.hwnd, WM_NULL)  # answered by the window's own thread
    answered = time.monotonic() - started
    assert not station.smtp.messages, "the reply came before the ten seconds were over"
    assert answered < 5, f"the window took {answered:.1f} s to answer"
    reply = station.smtp.wait_reply(timeout=60)
    assert reply.results() == ["Vistrelを起動しました。\n", "モニタを開始しました。\n"]
    station.wait_statuses(["完 了"])

"""Command mails that must not stop an unattended Quorvel: a reply that
quotes an earlier reply, a mailed width that no picture can take, and an
attachment file that cannot be sent. Each still gets its one reply, and no
message box opens."""
import time

import pytest

from support import settings
from support.camera import jpeg_size
from support.quorvel_app import wait_until

WM_NULL = 0
REFUSED_WIDTH = "返信画像幅は16から4096までの数で指定してください。設定は変えていません。\n"
WIDTH_MAIL = '画像幅"100000" PC画面返信'


def _quoted(text: str) -> str:
    return "".join(f"> {line}\r\n" for line in text.splitlines())


EARLIER_REPLY = "キー返信\n------ 処理結果 ------\n== コマンド 一覧 ==\n" + \
    "".join(f"{k}: {k}\n" for k in settings.DEFAULT_COMMAND_KEYS) + "===================\n"


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


def _empty_recording(station):
    station.camera.write_settings()
    (station.camera.recordings / "rec0001.wmv").write_bytes(b"")


# One program (reply pictures at full size) and one camera serve the rows in
# turn; each row's facts are about its own mail. The last row closes it.
ROWS = [
    pytest.param(None, "モニタ開始\r\n\r\n2026/12/07 Quorvel wrote:\r\n" + _quoted(EARLIER_REPLY),
                 ["モニタを開始しました。\n"], [], ["WM_USER+100 114"], "完 了",
                 id="reply_quoting_the_key_list_runs_only_the_keys_above_the_quote"),
    pytest.param(_empty_recording, "録画返信",
                 ["録画返信しました。\n", "録画ファイルが空のため添付できませんでした。\n"], [], [], "失 敗",
                 id="empty_recording_still_gets_a_reply_without_it"),
    # The screen at full size, as before; the camera is not told the width.
    pytest.param(None, WIDTH_MAIL, [REFUSED_WIDTH, "PC画面返信しました。\n"],
                 [("snap.jpg", (1024, 768))], [], "完 了",
                 id="mailed_width_beyond_any_picture_is_refused_without_a_box"),
]


@pytest.mark.parametrize("prepare, body, results, attachments, camera, status", ROWS)
def test_command_mail_gets_its_one_reply_without_a_box(shared_station, prepare, body, results, attachments,
                                                       camera, status):
    station = shared_station
    if not station.quorvel.running():
        station.start(replyImageWidth=-1)
    if prepare:
        prepare(station)
    rows, replies, messages = len(station.statuses()), len(station.smtp.messages), len(station.camera.messages())
    station.check(body)
    reply = station.smtp.wait_reply(replies + 1, timeout=60)
    assert reply.results() == results
    assert [(name, jpeg_size(picture)) for name, picture in reply.attachments] == attachments
    assert station.camera.messages()[messages:] == camera
    station.wait_statuses([status], since=rows)
    assert len(station.smtp.messages) == replies + 1
    assert station.quorvel.running() and not station.quorvel.dialogs()
    if body == WIDTH_MAIL:  # the last row: the program ends, and the refused width was not kept
        assert station.quorvel.close() == 0
        assert settings.parse(station.quorvel.ini())["replyImageWidth"] == -1
        station.camera.stop()

"""Command mails end to end: quorvel.exe under Wine fetches them from a real
Dovecot, drives the demo camera (Vistrel.exe), and replies through Sendry to
a real SMTP server (aiosmtpd). Each test checks the road: what the camera
received and in which order, the log words, the result lines, the
attachment, the status column and the settings saved."""
import tempfile
from pathlib import Path

from support import settings
from support.camera import jpeg_pixel, jpeg_size, make_clip
from support.command_mail import command_mail
from support.quorvel_app import QuorvelApp, wait_until
from support.wine import Wine

SUBJECT = "Vistrel 指令"
SENT = "返信しました\r---------------------------"
LIMIT = 5 * 1024 * 1024

# Key, what the camera receives, log word, result line.
CAMERA_COMMANDS = [
    ("検知開始", "WM_USER+100 105", "検知開始発行", "検知を開始しました。\n"),
    ("VT最小化", "WM_SYSCOMMAND F020", "VT最小化発行", "Vistrel最小化しました。\n"),
    ('画像幅"400"', "WM_COPYDATA 102 400", "返信画像幅の設定発行", "返信画像幅を設定しました。\n"),
    ("VT通常表示", "WM_SYSCOMMAND F120", "VT通常表示発行", "Vistrel通常表示にしました。\n"),
    ('アラート送信先"guard@example.jp"', "WM_COPYDATA 109 guard@example.jp", "アラートメール送信先発行",
     "アラートメール送信先設定しました。\n"),
    ("タイマ停止", "WM_USER+100 113", "タイマ処理停止発行", "タイマ処理を停止しました。\n"),
    ("スナップ返信", "WM_USER+100 101", "スナップ(返信)発行", "スナップ(返信)しました。\n"),
]


def test_camera_commands_run_in_body_order_one_second_apart(station):
    station.start(replyImageWidth=-1)
    # Keys in an order unlike the key table's; the snapshot comes last.
    body = "カメラへ:\r\n" + "\r\n".join(c[0] for c in CAMERA_COMMANDS) + "\r\nよろしく"
    station.check(body)
    reply = station.smtp.wait_reply(timeout=90)

    assert station.camera.messages() == [c[1] for c in CAMERA_COMMANDS]
    station.wait_logged(SENT)
    assert station.log_words([c[2] for c in CAMERA_COMMANDS] + [SENT]) == [c[2] for c in CAMERA_COMMANDS] + [SENT]
    assert reply.subject == "Re:" + SUBJECT
    assert reply.rcpt_tos == ["taro@example.jp"]
    assert reply.text.startswith("カメラへ:") and "よろしく" in reply.text
    assert reply.results() == [c[3] for c in CAMERA_COMMANDS]
    # The camera took the width it was sent; the snapshot was sent and deleted.
    [(name, picture)] = reply.attachments
    assert name == "snap.jpg" and jpeg_size(picture) == (400, 300)
    assert not (station.quorvel.folder / "snap.jpg").exists()
    station.wait_statuses(["完 了"])

    # One pause of a second before every command after the first.
    stamps = [ms for ms, text in station.camera.log_lines() if text in {c[1] for c in CAMERA_COMMANDS}]
    gaps = [(b - a) / 1000 for a, b in zip(stamps, stamps[1:])]
    assert all(0.98 <= g < 2.0 for g in gaps), gaps

    assert station.quorvel.close() == 0
    assert settings.parse(station.quorvel.ini())["replyImageWidth"] == 400


def test_rotated_snapshot_goes_to_the_address_of_a_named_sender(station):
    station.start(rotateReplyImage=0)
    station.check("回転 スナップ返信", sender="Taro Yamada <taro@example.jp>")
    reply = station.smtp.wait_reply(timeout=60)

    assert reply.rcpt_tos == ["taro@example.jp"]
    assert reply.results() == ["画像回転設定しました。\n", "スナップ(返信)しました。\n"]
    [(name, picture)] = reply.attachments
    # The 640 x 480 test card turned a quarter to the left: its green top
    # right corner is now at the top left, its red top left at the bottom left.
    assert jpeg_size(picture) == (480, 640)
    assert _colour(jpeg_pixel(picture, 20, 20)) == "green"
    assert _colour(jpeg_pixel(picture, 20, 620)) == "red"
    station.wait_statuses(["完 了"])
    assert station.quorvel.close() == 0
    assert settings.parse(station.quorvel.ini())["rotateReplyImage"] == 1


def test_mails_of_one_check_without_the_camera(station):
    """Camera absent, then its program missing: each mail gets its outcome."""
    station.start(camera=False)
    (station.quorvel.folder / "Vistrel.exe").unlink()
    station.check("こんにちは、キーはありません。", "メールON", "録画開始 キー返信", "VT起動 キー返信")
    replies = [station.smtp.wait_reply(n, timeout=60) for n in (1, 2, 3)]
    station.wait_statuses(["無 効", "失 敗", "完 了", "失 敗"])

    assert replies[0].results() == ["Vistrelは稼動していません。\n"] and not replies[0].attachments
    absent, *keys = replies[1].results()
    assert absent == "Vistrelは稼動していません。\n"
    assert keys[0] == "== コマンド 一覧 ==\n" and keys[-1] == "===================\n"
    assert keys[1:-1] == [f"{k}: {k}\n" for k in settings.DEFAULT_COMMAND_KEYS[:24]] + \
        ["PCシャットダウン: \n", "キー返信: キー返信\n"]
    assert replies[2].text == "Vistrelが見つかりません。"
    assert len(station.smtp.messages) == 3  # the key-less mail got no reply
    lines = station.quorvel.comm_log_lines()
    assert "VT起動していません" in lines and "Vistrelが見つかりません" in lines
    assert "キー名返信発行" in lines  # once: the key list after VT起動 never ran
    assert lines.count("キー名返信発行") == 1


def test_camera_start_launches_the_demo_camera_once(station):
    station.start(camera=False)
    station.check("VT起動 モニタ開始")
    first = station.smtp.wait_reply(timeout=60)
    assert first.results() == ["Vistrelを起動しました。\n", "モニタを開始しました。\n"]
    assert station.camera.started() == 1 and station.camera.messages() == ["WM_USER+100 114"]
    station.wait_statuses(["完 了"])

    station.check("VT起動 VT終了")
    second = station.smtp.wait_reply(2, timeout=60)
    assert second.results() == ["Vistrelは稼動しています。\n", "Vistrel終了しました。\n"]
    assert station.camera.started() == 1
    assert station.camera.messages() == ["WM_USER+100 114", "WM_DESTROY"]
    wait_until(lambda: not station.camera.running(), what="the camera ended")
    station.wait_logged("VT起動済み")
    lines = station.quorvel.comm_log_lines()
    # "VT起動済み" follows the lines of the later command and of the reply.
    assert lines.index("VT起動済み") > lines.index("VT終了発行")


def test_recording_reply_sends_the_newest_recording_up_to_5_mb(station):
    clip = make_clip(station.quorvel.folder / "democam-sample.wmv")
    station.start()
    station.check("録画開始 録画停止 録画返信")
    reply = station.smtp.wait_reply(timeout=60)
    assert reply.results() == ["録画を開始しました。\n", "録画を停止しました。\n", "録画返信しました。\n"]
    assert reply.attachments == [("rec0001.wmv", clip.read_bytes())]
    recording = station.camera.recordings / "rec0001.wmv"
    assert recording.exists()  # a recording is not deleted after sending

    cases = [(LIMIT, "完 了", None), (LIMIT + 1, "失 敗", "録画ファイルのサイズが制限値(5MB)を超えています。\n")]
    for n, (size, status, refusal) in enumerate(cases, start=2):
        recording.write_bytes(clip.read_bytes().ljust(size, b"\0"))
        station.check("録画返信")
        reply = station.smtp.wait_reply(n, timeout=60)
        if refusal:
            assert reply.results() == ["録画返信しました。\n", refusal] and reply.attachments == []
        else:
            assert [len(data) for _, data in reply.attachments] == [size]
        wait_until(lambda: station.statuses()[-1] == status, what=status)


def test_screen_reply_at_width_400_shows_the_whole_screen(station, gui):
    station.start()
    station.check('画像幅"400" PC画面返信')
    reply = station.smtp.wait_reply(timeout=60)
    assert reply.results() == ["返信画像幅を設定しました。\n", "PC画面返信しました。\n"]
    [(name, picture)] = reply.attachments
    assert name == "snap.jpg" and jpeg_size(picture) == (400, 300)  # of 1024 x 768
    # The demo camera's window stands at the top right of the screen: the
    # right (green) half of its picture appears, scaled, in the reply.
    window = station.camera.window
    left = window["rect"][0] + (window["rect"][2] - window["rect"][0] - window["client"][0]) // 2
    top = window["rect"][3] - window["client"][1] - (window["rect"][2] - window["rect"][0] - window["client"][0]) // 2
    x, y = left + 8 + 300, top + 8 + 40  # in the picture, which starts at (8, 8) of the client area
    assert _colour(jpeg_pixel(picture, x * 400 // 1024, y * 300 // 768)) == "green"


def test_pc_shutdown_in_a_throwaway_prefix(dovecot, smtp, gui, tmp_path):
    """Reply first, settings saved, store trimmed, and the shutdown ends every
    program of the prefix. The prefix exists for this test alone."""
    wine = Wine(Path(tempfile.mkdtemp(prefix="quorvel-shutdown-")))
    try:
        wine.boot()
        wine.display = gui.display
        app = QuorvelApp(wine, None, tmp_path / "quorvel")
        keys = list(settings.DEFAULT_COMMAND_KEYS)
        keys[24] = "電源断"
        for body in ("こんにちは", "キー返信", '画像幅"320" 電源断 キー返信'):
            dovecot.put(command_mail(body))
        app.write_settings(pop3Server="127.0.0.1", pop3Port=dovecot.port, accountName=dovecot.user,
                           password=dovecot.password, smtpServer="127.0.0.1", smtpPort=smtp.port,
                           checkAtStartup=1, mailLogKeepCount=2, commandKeyNames=keys)
        process = app.launch()
        replies = [smtp.wait_reply(n, timeout=120) for n in (1, 2)]
        assert replies[1].results()[-1] == "シャットダウンしました。\n"
        assert "== コマンド 一覧 ==\n" not in replies[1].results()
        assert process.wait(timeout=60) is not None  # the prefix was shut down
        assert settings.parse(app.ini())["replyImageWidth"] == 320
        log = (app.folder / "QuorvelMail.log").read_bytes()
        assert log.count(b"\r\n.\r\n") == 2  # the newest two of three mails
        assert len(smtp.messages) == 2
    finally:
        wine.close()


def _colour(rgb) -> str:
    r, g, b = rgb
    names = {"red": (220, 30, 30), "green": (30, 180, 60), "blue": (40, 60, 220), "white": (240, 240, 240)}
    name, ref = min(names.items(), key=lambda kv: sum((x - y) ** 2 for x, y in zip(rgb, kv[1])))
    assert sum(abs(x - y) for x, y in zip(rgb, ref)) < 90, rgb
    return name

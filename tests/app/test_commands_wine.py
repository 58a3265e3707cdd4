"""Command mails under Wine: a real Dovecot delivers them, the commands run
in body order, and the reply reaches a real SMTP server (aiosmtpd). No
camera program runs here, so camera commands meet its absence."""
import email
import sys
import time
from pathlib import Path

from support import settings
from support.quorvel_app import CMD_RECEIVE, wait_until

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "sendlib"))
from sendry_server import SmtpSink  # noqa: E402


def command_mail(subject: str, body: str, sender: str) -> bytes:
    return (f"From: {sender}\r\nTo: quorvel\r\nDate: Sun, 7 Dec 2008 09:05:03 +0900\r\n"
            f"Subject: {subject}\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=Shift_JIS\r\n\r\n"
            ).encode() + body.encode("cp932") + b"\r\n" + b"padding line\r\n" * 30


def reply_text(message) -> str:
    parsed = email.message_from_bytes(message.content)
    for part in parsed.walk():
        if part.get_content_type() == "text/plain":
            return part.get_payload(decode=True).decode(part.get_content_charset() or "cp932")
    raise AssertionError("no text part")


def test_commands_run_in_body_order_and_the_reply_goes_to_the_bare_address(quorvel, dovecot):
    dovecot.put(command_mail("Vistrel order", "録画開始 キー返信", "Boss <boss@example.jp>"))
    dovecot.put(command_mail("Vistrel none", "何もしない", "boss@example.jp"))
    with SmtpSink() as sink:
        quorvel.write_settings(pop3Server="127.0.0.1", pop3Port=dovecot.port, accountName=dovecot.user,
                               password=dovecot.password, smtpServer="127.0.0.1", smtpPort=sink.port)
        quorvel.start()
        started = time.monotonic()
        quorvel.command(CMD_RECEIVE)
        wait_until(lambda: [r[0] for r in quorvel.mail_list()["rows"]] == ["完 了", "無 効"], timeout=30,
                   what="the outcomes in the status column")
        elapsed = time.monotonic() - started
        assert len(sink.messages) == 1
        reply = sink.messages[0]
    assert reply.rcpt_tos == ["boss@example.jp"]
    text = reply_text(reply)
    assert text.startswith("録画開始 キー返信")
    results = text.split("------ 処理結果 ------\n", 1)[1]
    assert results.startswith("Vistrelは稼動していません。\n== コマンド 一覧 ==\nVT起動: VT起動\n")
    lines = quorvel.comm_log_lines()
    road = [l for l in lines if l in ("録画開始発行", "VT起動していません", "キー名返信発行")
            or l.startswith("返信")]
    assert road == ["録画開始発行", "VT起動していません", "キー名返信発行", "返信しました\r" + "-" * 27]
    assert elapsed >= 1.0  # the pause between the two commands


def jpeg_size(data: bytes):
    """(width, height) from the first SOF marker of a JPEG stream."""
    assert data[:2] == b"\xff\xd8"
    i = 2
    while i < len(data):
        marker, length = data[i + 1], int.from_bytes(data[i + 2:i + 4], "big")
        if marker in (0xC0, 0xC1, 0xC2):
            return int.from_bytes(data[i + 7:i + 9], "big"), int.from_bytes(data[i + 5:i + 7], "big")
        i += 2 + length
    raise AssertionError("no frame header")


def test_screen_reply_scaled_and_rotated(quorvel, dovecot):
    dovecot.put(command_mail("Vistrel screen", '画像幅"400" 回転 PC画面返信', "boss@example.jp"))
    with SmtpSink() as sink:
        quorvel.write_settings(pop3Server="127.0.0.1", pop3Port=dovecot.port, accountName=dovecot.user,
                               password=dovecot.password, smtpServer="127.0.0.1", smtpPort=sink.port)
        quorvel.start()
        quorvel.command(CMD_RECEIVE)
        wait_until(lambda: [r[0] for r in quorvel.mail_list()["rows"]] == ["完 了"], timeout=40,
                   what="the outcome")
        reply = email.message_from_bytes(sink.messages[0].content)
    pictures = [p for p in reply.walk() if p.get_filename() == "snap.jpg"]
    assert len(pictures) == 1
    width, height = jpeg_size(pictures[0].get_payload(decode=True))
    assert height == 400 and 0 < width < 400  # a 400-wide landscape capture, turned
    assert not (quorvel.folder / "snap.jpg").exists()
    assert quorvel.close() == 0
    saved = settings.parse(quorvel.ini())
    assert (saved["replyImageWidth"], saved["rotateReplyImage"]) == (400, 1)

"""A mail check end to end: quorvel.exe under Wine against a real Dovecot,
with ordinary mails, command mails and spam; the list, the store files, the
title, a restart, and damaged stores."""
import base64
import struct
import subprocess

from support import paths
from support.quorvel_app import CMD_CLEAR_LOG, CMD_RECEIVE, CMD_SOURCE, wait_until
from support.qvdriver import IDYES

MAILINFO = paths.native("tools/mailinfo/mailinfo")
RECORD = 1572
HEADER = b"ZKPOPIDX_HEADER\0" + b"\0" * 8


def jis_word(text: str) -> str:
    return "=?ISO-2022-JP?B?" + base64.b64encode(text.encode("iso2022_jp")).decode() + "?="


def mail(subject: str, body: str, *, sender="taro@example.jp", to="quorvel", date=True,
         charset="ISO-2022-JP", extra="") -> bytes:
    head = f"From: {sender}\r\nTo: {to}\r\n"
    if date:
        head += "Date: Sun, 7 Dec 2008 09:05:03 +0900\r\n"
    head += f"Subject: {subject}\r\nMIME-Version: 1.0\r\n"
    head += f"Content-Type: text/plain; charset={charset}\r\n{extra}\r\n"
    codec = {"ISO-2022-JP": "iso2022_jp", "ISO-8859-1": "latin-1"}[charset]
    # Long enough bodies keep the log over its 500-byte minimum.
    return head.encode("ascii") + (body + "\r\n").encode(codec) + b"padding line\r\n" * 30


def multipart(subject: str) -> bytes:
    attachment = base64.b64encode(b"attached bytes " * 40).decode()
    return (f"From: hanako@example.jp\r\nTo: quorvel\r\nDate: Mon, 15 dec 2008 21:00:00 +0900 (JST)\r\n"
            f"Subject: {subject}\r\nMIME-Version: 1.0\r\n"
            "Content-Type: multipart/mixed; boundary=\"b-1\"\r\n\r\n"
            "--b-1\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n\r\n").encode() + \
        "添付をご確認ください\r\n".encode("iso2022_jp") + \
        (f"--b-1\r\nContent-Type: application/octet-stream; name=\"data.bin\"\r\n"
         f"Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=\"data.bin\"\r\n\r\n"
         f"{attachment}\r\n--b-1--\r\n").encode()


def as_sent(raw: bytes) -> bytes:
    lines = raw.split(b"\r\n")[:-1]
    return b"".join((b"." + l if l.startswith(b".") else l) + b"\r\n" for l in lines) + b".\r\n"


def expected_record(tmp_path, stored: bytes, offset: int, number: int, mark: int) -> bytes:
    f = tmp_path / "one.eml"
    f.write_bytes(stored)
    record = subprocess.run([MAILINFO, "record", f], check=True, capture_output=True).stdout
    assert len(record) == RECORD
    return struct.pack("<iii", number, offset, mark) + record[12:]


ORDINARY = mail(jis_word("お知らせ"), "こんにちは。今日は晴れです。")
COMMAND = mail(jis_word("Vistrel 指令"), "VT起動\r\nスナップ返信")
SPAM = mail("Cheap offer", "Caf\u00e9 cr\u00e8me", charset="ISO-8859-1")
WITH_PARTS = multipart(jis_word("添付つき"))


def check(app, title):
    app.command(CMD_RECEIVE)
    app.wait_title(title, timeout=30)


def rows(app):
    return app.mail_list()["rows"]


def test_check_stores_ordinary_and_command_mails_and_drops_spam(quorvel, dovecot, tmp_path):
    for m in (ORDINARY, SPAM, COMMAND, WITH_PARTS):
        dovecot.put(m)
    quorvel.write_settings(pop3Server="127.0.0.1", pop3Port=dovecot.port, accountName=dovecot.user,
                           password=dovecot.password, spamFilterEnabled=1,
                           spamRules=[1 if i == 4 else 0 for i in range(24)])
    quorvel.start()
    check(quorvel, "Quorvel  新着メールが 3通あります(迷惑メール 1件)")
    assert dovecot.messages() == []

    listed = rows(quorvel)
    # The command mail ran: "Vistrel.exe" is not there, so VT起動 failed.
    assert [r[0] for r in listed] == ["一 般", "失 敗", "一 般"]
    assert [r[2] for r in listed] == ["お知らせ", "Vistrel 指令", "添付つき"]
    assert listed[0][1] == "2008/12/07 09:05 +0900"
    assert listed[2][1] == "2008/12/15 21:00 +0900 (JST)"
    assert [r[7] for r in listed] == ["なし", "なし", "1"]
    assert listed[0][3] == "taro@example.jp" and listed[0][4] == "quorvel"

    stored = [as_sent(m) for m in (ORDINARY, COMMAND, WITH_PARTS)]
    log = (quorvel.folder / "QuorvelMail.log").read_bytes()
    assert log == b"".join(stored)
    index = (quorvel.folder / "QuorvelMail.idx").read_bytes()
    assert index[:24] == HEADER and len(index) == 24 + 3 * RECORD
    offset = 0
    for n, (text, mark) in enumerate(zip(stored, (101, 102, 101))):
        assert index[24 + n * RECORD:24 + (n + 1) * RECORD] == expected_record(tmp_path, text, offset, n, mark)
        offset += len(text)
    lines = quorvel.comm_log_lines()
    assert "スパム該当：西欧諸語(ISO_8859_1) B" in lines
    assert "削除スパムの件名： Cheap offer" in lines

    # A restart loads the same rows from the index, marked "-----".
    assert quorvel.close() == 0
    quorvel.start()
    wait_until(lambda: len(rows(quorvel)) == 3, what="the rows of the index")
    again = rows(quorvel)
    assert [r[0] for r in again] == ["-----"] * 3
    assert [r[1:] for r in again] == [r[1:] for r in listed]


def test_keep_on_server_and_command_mails_only(quorvel, dovecot):
    for m in (ORDINARY, COMMAND):
        dovecot.put(m)
    quorvel.write_settings(pop3Server="127.0.0.1", pop3Port=dovecot.port, accountName=dovecot.user,
                           password=dovecot.password, keepOnServer=1, commandMailsOnly=1)
    quorvel.start()
    check(quorvel, "Quorvel  新着メールが 1通あります(迷惑メール 0件)")
    assert [r[0] for r in rows(quorvel)] == ["失 敗"]
    assert len(dovecot.messages()) == 2
    assert "非コマンドメールです" in quorvel.comm_log_lines()
    # Both are remembered: the next check downloads neither.
    check(quorvel, "Quorvel  新着メールはありません(迷惑メール 0件)")
    lines = quorvel.comm_log_lines()
    assert len(rows(quorvel)) == 1 and len(dovecot.messages()) == 2
    assert (lines.count("> RETR 1") + lines.count("> RETR 2"), lines.count("非コマンドメールです")) == (2, 1)


def test_damaged_log_is_deleted_and_foreign_index_is_refused(quorvel):
    quorvel.write_settings()
    (quorvel.folder / "QuorvelMail.log").write_bytes(b"x" * 400 + b"\r\n.\r\n")
    quorvel.start()
    wait_until(lambda: not (quorvel.folder / "QuorvelMail.log").exists(), what="the damaged log deleted")
    assert (quorvel.folder / "QuorvelMail.idx").read_bytes() == HEADER
    assert quorvel.close() == 0

    log = as_sent(ORDINARY) + as_sent(COMMAND)
    (quorvel.folder / "QuorvelMail.log").write_bytes(log)
    foreign = b"OTHERIDX_HEADER\0" + b"\0" * 8 + b"\1" * RECORD
    (quorvel.folder / "QuorvelMail.idx").write_bytes(foreign)
    quorvel.start()
    box = quorvel.wait_dialog()
    assert box["title"] == "障害報告"
    assert box["text"].startswith("メールIDXファイルのバージョンが異なっています。")
    quorvel.press(box, "OK")
    assert rows(quorvel) == []
    assert (quorvel.folder / "QuorvelMail.log").read_bytes() == log
    assert (quorvel.folder / "QuorvelMail.idx").read_bytes() == foreign


def test_preview_and_attachment_strip(quorvel, dovecot, gui):
    for m in (ORDINARY, WITH_PARTS):
        dovecot.put(m)
    quorvel.write_settings(pop3Server="127.0.0.1", pop3Port=dovecot.port, accountName=dovecot.user,
                           password=dovecot.password)
    quorvel.start()
    check(quorvel, "Quorvel  新着メールが 2通あります(迷惑メール 0件)")
    quorvel.click_row(0)
    wait_until(lambda: quorvel.preview().startswith("こんにちは。今日は晴れです。"), what="the preview")
    quorvel.click_row(1)
    wait_until(lambda: quorvel.preview().startswith("添付をご確認ください"), what="the first part")
    strip = quorvel.driver.list_view(quorvel.hwnd, "SplitPanel/#120")
    assert [r[0] for r in strip["rows"]] == ["data.bin"]
    gui.screenshot("quorvel-ja_JP-preview")

    # The source view shows the raw mail of the selected row.
    quorvel.command(CMD_SOURCE)
    wait_until(lambda: quorvel.preview().startswith("From: hanako@example.jp\r\n"), what="the source")
    assert quorvel.preview().endswith("--b-1--\r\n.")

    # Erasing the mail log asks first; Yes empties the list and the store.
    quorvel.command(CMD_CLEAR_LOG)
    box = quorvel.wait_dialog()
    assert box["title"] == "Quorvel" and box["text"] == "メールログを削除してよろしいですか？"
    quorvel.press(box, IDYES)
    wait_until(lambda: rows(quorvel) == [], what="the list emptied")
    assert not (quorvel.folder / "QuorvelMail.log").exists()
    assert (quorvel.folder / "QuorvelMail.idx").read_bytes() == HEADER
    assert quorvel.preview() == ""

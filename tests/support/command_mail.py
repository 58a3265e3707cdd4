"""Command mails as a phone's mailer writes them, delivered into the private
Dovecot's maildir.

    deliver(dovecot, "回転 スナップ返信")        # Subject "Vistrel 指令", ISO-2022-JP
    deliver(dovecot, "キー返信", sender="Taro <taro@example.jp>")
"""
import base64
import itertools

SUBJECT = "Vistrel 指令"
_ids = itertools.count(1)


def encoded_word(text: str) -> str:
    if text.isascii():
        return text
    return "=?ISO-2022-JP?B?" + base64.b64encode(text.encode("iso2022_jp")).decode() + "?="


def command_mail(body: str, subject=SUBJECT, sender="taro@example.jp", to="quorvel@example.jp",
                 date="Sun, 7 Dec 2008 09:05:03 +0900", headers="") -> bytes:
    """A plain-text mail; body lines end in CR LF. headers: further header
    lines (each ending in CR LF), put first."""
    name, _, address = sender.rpartition("<")
    from_field = f"{encoded_word(name.strip())} <{address}" if address.endswith(">") else sender
    head = (headers + "Received: from phone.example.jp (phone.example.jp [192.0.2.7]) by mail.example.jp\r\n"
            "\twith ESMTP id 4A1B2C3D4E; Sun, 7 Dec 2008 09:05:04 +0900 (JST)\r\n"
            f"From: {from_field}\r\nTo: {to}\r\nDate: {date}\r\n"
            f"Subject: {encoded_word(subject)}\r\nMessage-ID: <cmd{next(_ids)}@example.jp>\r\n"
            "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n"
            "Content-Transfer-Encoding: 7bit\r\n\r\n")
    text = body.replace("\r\n", "\n").replace("\n", "\r\n")
    if not text.endswith("\r\n"):
        text += "\r\n"
    raw = head.encode("ascii") + text.encode("iso2022_jp")
    # The mail log counts as damaged while it is shorter than 500 bytes.
    if len(raw) < 520:
        raw = raw.replace(b"MIME-Version", b"X-Padding: " + b"-" * (520 - len(raw)) + b"\r\nMIME-Version", 1)
    return raw


def deliver(dovecot, body: str, **fields) -> bytes:
    """Puts a command mail into the mailbox; returns its raw bytes."""
    raw = command_mail(body, **fields)
    dovecot.put(raw)
    return raw

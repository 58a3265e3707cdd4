"""An SMTP server on 127.0.0.1 that collects the replies of Quorvel, and the
replies decoded.

    with ReplyServer() as smtp:                  # or the `smtp` fixture
        ... quorvel.ini with smtpServer 127.0.0.1, smtpPort smtp.port ...
        reply = smtp.wait_reply(timeout=60)
        reply.subject, reply.text, reply.attachments, reply.rcpt_tos
"""
import email
import email.header
import email.policy
import time
from dataclasses import dataclass, field

from sendlib.sendry_server import Message, SmtpSink

SEPARATOR = "------ 処理結果 ------\n"  # between the quoted mail and the result lines


def _charset(name):
    # Shift_JIS as Windows writes it is code page 932.
    name = (name or "ascii").lower()
    return "cp932" if name in ("shift_jis", "shift-jis", "sjis", "x-sjis") else name


def decode_header(value: str) -> str:
    parts = []
    for chunk, charset in email.header.decode_header(value or ""):
        parts.append(chunk.decode(_charset(charset), errors="replace") if isinstance(chunk, bytes) else chunk)
    return "".join(parts)


@dataclass
class Reply:
    mail_from: str
    rcpt_tos: list
    raw: bytes
    subject: str = ""
    to: str = ""
    text: str = ""  # the body, decoded, with its line ends as sent (CR LF becomes LF)
    attachments: list = field(default_factory=list)  # (file name, bytes)

    @classmethod
    def parse(cls, message: Message) -> "Reply":
        mail = email.message_from_bytes(message.content, policy=email.policy.compat32)
        reply = cls(message.mail_from, list(message.rcpt_tos), message.content,
                    subject=decode_header(mail.get("Subject", "")), to=decode_header(mail.get("To", "")))
        for part in mail.walk():
            if part.is_multipart():
                continue
            data = part.get_payload(decode=True) or b""
            name = part.get_filename()
            if name:
                reply.attachments.append((decode_header(name), data))
            elif part.get_content_type() == "text/plain" and not reply.text:
                reply.text = data.decode(_charset(part.get_content_charset()), errors="replace")
        return reply

    def results(self) -> list:
        """The result lines (after the separator), each with its LF."""
        assert SEPARATOR in self.text, self.text
        return self.text.split(SEPARATOR, 1)[1].splitlines(keepends=True)


class ReplyServer(SmtpSink):
    """The test SMTP sink, waited on for whole messages."""

    def replies(self) -> list:
        return [Reply.parse(m) for m in list(self.messages)]

    def wait_reply(self, count=1, timeout=60.0) -> Reply:
        """The count-th reply (1 = the first), once it has arrived."""
        deadline = time.monotonic() + timeout
        while len(self.messages) < count:
            if time.monotonic() > deadline:
                raise AssertionError(f"reply {count} did not arrive within {timeout} s "
                                     f"({len(self.messages)} arrived; SMTP events {self.events[-8:]})")
            time.sleep(0.02)
        return Reply.parse(self.messages[count - 1])

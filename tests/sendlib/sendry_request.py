"""SendMailRequest records, the test drivers that send them, and the message
and send log that a request must produce."""
import base64
import datetime
import email
import os
import re
import struct
import subprocess
from pathlib import Path

from sendry_server import PASSWORD, USER
from support import paths

RECORD_SIZE = 12176
TEXT_FIELDS = {  # name: (offset, width)
    "server": (8, 76), "fromAddress": (84, 76), "toAddress": (160, 76), "fromName": (236, 76),
    "subject": (312, 256), "body": (568, 10240), "attachmentPath": (10808, 260),
    "userName": (12068, 32), "password": (12100, 32), "heloName": (12132, 32),
}
FLAGS = {"useAuth": 12164, "writeLog": 12168, "deleteAttachment": 12172}
CC_OFFSET, CC_WIDTH = 11068, 50
BOUNDARY = b"=_NextPart_000_0012_01BD91FB.9AC284E0"
LOG_NAME = "メール送信ログ.txt"

# A request and what its server and send log see.
TOKYO = dict(os.environ, TZ="Asia/Tokyo")
OK = b"250 OK"
GREETING = b"220 sink.quorvel.test Quorvel test sink"
AUTH_OK = b"235 2.7.0 Authentication successful"
B64 = rb"[A-Za-z0-9+/=]+"

BODY = "コマンドを実行しました。\n撮影: 成功\n".encode("cp932")
FIELDS = dict(server="127.0.0.1", fromAddress="bot@quorvel.test", toAddress="user@quorvel.test",
              fromName="Quorvel 監視", subject="Re:表示テスト", body=BODY, heloName="PC01",
              userName=USER, password=PASSWORD, writeLog=1)


def sjis(value):
    return value if isinstance(value, bytes) else value.encode("cp932")


def build_request(port, cc=(), **fields):
    """Packs a request; texts are str (stored as Shift_JIS) or bytes."""
    record = bytearray(RECORD_SIZE)
    struct.pack_into("<H", record, 0, port)
    struct.pack_into("<i", record, 4, len(cc))
    for name, value in fields.items():
        if name in FLAGS:
            struct.pack_into("<i", record, FLAGS[name], int(value))
            continue
        offset, width = TEXT_FIELDS[name]
        data = sjis(value)
        assert len(data) < width, name
        record[offset:offset + len(data)] = data
    for i, address in enumerate(cc):
        data = sjis(address)
        record[CC_OFFSET + i * CC_WIDTH:CC_OFFSET + i * CC_WIDTH + len(data)] = data
    return bytes(record)


def run_native(request: bytes, cwd: Path, count=1, env=None):
    """Sends the request `count` times through libSendry; returns the result codes."""
    (cwd / "request.bin").write_bytes(request)
    out = subprocess.run([str(paths.native("tests/sendlib/sendry_client")), "request.bin",
                          str(count)], cwd=cwd, env=env, capture_output=True, timeout=120,
                         check=True).stdout
    return [int(x) for x in out.split()]


def read_log(cwd: Path):
    """The send log's entries: each ends with LF; entries of sent lines end
    CR LF LF and multi-line replies hold CR LF inside."""
    path = cwd / LOG_NAME
    if not path.exists():
        return None
    data = path.read_bytes()
    assert data.endswith(b"\n")
    return re.split(rb"(?<!\r)\n", data[:-1])


def chunks(text: bytes, size: int):
    return [text[i:i + size] for i in range(0, len(text), size)] or [b""]


def header_text(text: bytes):
    if all(b < 0x80 for b in text):
        return text
    return b"=?Shift_JIS?B?" + base64.b64encode(text) + b"?="


MESSAGE_ID = re.compile(rb"Message-ID: <(\d\d)(\d\d)(\d{2,3})(\d\d)(\d\d)(\d\d)\.(\d+)@([^>]+)>")
DATE = re.compile(rb"Date: (Sun|Mon|Tue|Wed|Thu|Fri|Sat), (\d\d) "
                  rb"(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) (\d\d) "
                  rb"(\d\d):(\d\d):(\d\d) (\S+)")


def expected_lines(fields, cc=(), attachment=None, with_data=True):
    """The lines the request must produce, each without CR LF; the Message-ID
    and Date lines are patterns. `attachment` is (name bytes, file bytes);
    with_data=False leaves out its data lines, as the send log does."""
    f = {k: sjis(v) for k, v in fields.items() if k in TEXT_FIELDS}
    lines = [b"X-Mailer: TORVANEX Express", b"MIME-Version: 1.0",
             b"From:" + header_text(f.get("fromName", b"")) + b"<" + f["fromAddress"] + b">",
             b"To:<" + f["toAddress"] + b">"]
    lines += [b"Cc:<" + sjis(c) + b">" for c in cc]
    lines += [b"Subject:" + header_text(f.get("subject", b"")), MESSAGE_ID, DATE]
    if attachment:
        lines += [b"Content-Type: multipart/mixed;", b'  boundary="' + BOUNDARY + b'"', b"",
                  b"--" + BOUNDARY]
    body = f.get("body", b"")
    charset = b"iso-2022-jp" if all(b < 0x80 for b in body) else b"shift_jis"
    body64 = base64.b64encode(body)
    lines += [b"Content-Type: text/plain; charset=" + charset,
              b"Content-Transfer-Encoding: base64", b""]
    lines += [body64] if len(body64) <= 998 else chunks(body64, 76)
    lines += [b""]
    if attachment:
        name, data = attachment
        lines += [b"--" + BOUNDARY, b'Content-Type: image/jpeg; Name="' + name + b'"',
                  b"Content-Transfer-Encoding: Base64",
                  b'Content-Disposition: attachment; filename="' + name + b'"', b""]
        if with_data:
            lines += chunks(base64.b64encode(data), 76)
    lines += [b""]
    if attachment:
        lines += [b"--" + BOUNDARY + b"--"]
    return lines


def match_lines(actual, expected):
    """Compares line lists where expected items may be patterns; returns the
    matches of the patterns in order."""
    assert len(actual) == len(expected), (len(actual), len(expected))
    found = []
    for i, (a, e) in enumerate(zip(actual, expected)):
        if isinstance(e, re.Pattern):
            m = e.fullmatch(a)
            assert m, (i, a)
            found.append(m)
        else:
            assert a == e, (i, a, e)
    return found


def check_message(content: bytes, fields, cc=(), attachment=None):
    """Checks a received message byte for byte; returns (Message-ID match, Date match)."""
    assert content.endswith(b"\r\n")
    lines = content[:-2].split(b"\r\n")
    return match_lines(lines, expected_lines(fields, cc, attachment))


def log_lines(fields, cc=(), attachment=None):
    """The send log's entries for the message lines: each line with its CR LF."""
    return [re.compile(e.pattern + rb"\r\n") if isinstance(e, re.Pattern) else e + b"\r\n"
            for e in expected_lines(fields, cc, attachment, with_data=False)]


def check_decoded(content: bytes, body: bytes, attachment=None):
    """Reads the message back with Python's own MIME parser."""
    message = email.message_from_bytes(content)
    parts = list(message.walk())
    if attachment is None:
        assert not message.is_multipart()
        assert message.get_payload(decode=True) == body
        return
    _, data = attachment  # the name's raw bytes are checked by check_message
    assert message.get_content_type() == "multipart/mixed"
    text, attached = parts[1], parts[2]
    assert len(parts) == 3
    assert text.get_payload(decode=True) == body
    assert attached.get_payload(decode=True) == data
    assert attached.get_content_type() == "image/jpeg"


def check_stamp(message_id, date, zone, now):
    """The Message-ID and Date lines tell the same local time, close to now."""
    month, day, year, hour, minute, second = (int(x) for x in message_id.groups()[:6])
    wday, dday, mon, yy, dh, dm, ds, dzone = date.groups()
    assert (int(dday), int(dh), int(dm), int(ds)) == (day, hour, minute, second)
    assert int(yy) == (1900 + year) % 100
    stamp = datetime.datetime(1900 + year, month, day, hour, minute, second)
    assert mon.decode() == stamp.strftime("%b") and wday.decode() == stamp.strftime("%a")
    assert abs((stamp - now).total_seconds()) < 300
    assert dzone.decode() == zone


def now_in_tokyo():
    return datetime.datetime.utcnow() + datetime.timedelta(hours=9)


def dialogue_log(fields, hello, cc=(), refused=(), attachment=None):
    """The send log of a whole successful call; `hello` holds the entries
    from the greeting command to the end of authentication."""
    entries = [GREETING, *hello,
               b"Mail From: " + sjis(fields["fromAddress"]) + b"\r\n", OK,
               b"RCPT To: " + sjis(fields["toAddress"]) + b"\r\n", OK]
    for c in cc:
        entries += [b"RCPT To: " + c.encode() + b"\r\n",
                    b"550 5.1.1 No such user" if c in refused else OK]
    entries += [b"DATA", re.compile(rb"354 .*")]
    entries += log_lines(fields, cc, attachment)
    entries += [b".", b"250 OK queued", b"QUIT", b"221 Bye", "送信終了コード:  0".encode("cp932")]
    return entries


def assert_log(actual, expected):
    assert actual is not None and len(actual) == len(expected), actual
    for i, (a, e) in enumerate(zip(actual, expected)):
        assert (e.fullmatch(a) if isinstance(e, re.Pattern) else a == e), (i, a, e)


def ehlo_reply(mechanisms):
    return re.compile(rb"250-sink\.quorvel\.test\r\n250-AUTH " + mechanisms.encode() +
                      rb"\r\n(?:250-[^\r]*\r\n)*250 HELP")

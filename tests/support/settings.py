"""quorvel.ini for the tests: the raw 4620-byte settings record, built from
plain values and read back into them.

    record = settings.build(pop3Server="127.0.0.1", pop3Port=port, ...)
    values = settings.parse(Path("quorvel.ini").read_bytes())

Text fields are str (encoded as code page 932, NUL-terminated, cut to the
field width less one byte); the spam rules, window placement, column widths
and command key names are lists."""
import struct

SIZE = 4620

# name: (offset, kind, width or count); kinds: text, u16, i32, i32 array, u32 array
FIELDS = {
    "signature": (0, "text", 20),
    "pop3Server": (20, "text", 80),
    "smtpServer": (100, "text", 80),
    "accountName": (180, "text", 80),
    "password": (260, "text", 80),
    "mailLogFolder": (340, "text", 260),
    "soundFile": (600, "text", 260),
    "panelPassword": (860, "text", 26),
    "cameraName": (886, "text", 22),
    "pop3Port": (908, "u16", 1),
    "smtpPort": (910, "u16", 1),
    "intervalMinutes": (912, "i32", 1),
    "intervalSeconds": (916, "i32", 1),
    "mailLogKeepCount": (920, "i32", 1),
    "splitterPosition": (924, "i32", 1),
    "replyImageWidth": (928, "i32", 1),
    "checkAtStartup": (932, "i32", 1),
    "playSound": (936, "i32", 1),
    "keepOnServer": (940, "i32", 1),
    "smtpAuthRequired": (944, "i32", 1),
    "commandMailsOnly": (948, "i32", 1),
    "panelPasswordRequired": (952, "i32", 1),
    "rotateReplyImage": (956, "i32", 1),
    "spamFilterEnabled": (960, "i32", 1),
    "spamToRecycleBin": (964, "i32", 1),
    "spamRules": (968, "i32", 24),
    "subjectKeyword": (1064, "text", 80),
    "requiredSender": (1144, "text", 80),
    "requiredRecipient": (1224, "text", 80),
    "requiredMailer": (1304, "text", 80),
    "requiredSenderAddress": (1384, "text", 80),
    # length, flags, show command, min x, min y, max x, max y, left, top, right, bottom
    "windowPlacement": (1464, "i32", 11),
    "columnWidths": (1508, "i32", 8),
    "commandKeyNames": (1540, "keys", 26),
    # transport security: 0 everywhere is a plaintext session, as before
    "pop3Security": (3620, "i32", 1),
    "smtpSecurity": (3624, "i32", 1),
    "tlsNoVerify": (3628, "i32", 1),
    "tlsTrustFile": (3632, "text", 260),
    "tlsSpare": (3892, "bytes", 28),
    # command-mail guards: zero or empty is off
    "allowedSenders": (3920, "text", 256),
    "commandSecret": (4176, "text", 80),
    "authServerHost": (4256, "text", 80),
    "replayGuard": (4336, "i32", 1),
    "maxMailAgeMinutes": (4340, "i32", 1),
    "loopGuard": (4344, "i32", 1),
    "maxRepliesPerHour": (4348, "i32", 1),
    # receive protocol: 0 = POP3 (as before), 1 = IMAP; empty folder = INBOX
    "receiveProtocol": (4352, "i32", 1),
    "imapFolder": (4356, "text", 100),
    # OAuth 2.0: 0 = password
    "receiveAuth": (4456, "i32", 1),
    "sendAuth": (4460, "i32", 1),
    "oauthProvider": (4464, "i32", 1),
    "reserved": (4468, "bytes", 152),
}

DEFAULT_COMMAND_KEYS = [
    "VT起動", "VT終了", "VT最小化", "VT最大化", "VT通常表示", "スナップ保存", "スナップ返信",
    "録画返信", "録画開始", "録画停止", "検知開始", "検知停止", "メールON", "メールOFF",
    "アラート送信先", "日時表示ON", "日時表示OFF", "タイマ開始", "タイマ停止", "モニタ開始",
    "モニタ停止", "PC画面返信", "画像幅", "回転", "", "キー返信",
]


def defaults(mail_log_folder: str = "") -> dict:
    """The default record's values; mailLogFolder is the start-up folder
    (a Windows path) in the program, so the caller gives it."""
    return {
        "signature": "Quorvel", "pop3Server": "", "smtpServer": "", "accountName": "",
        "password": "", "mailLogFolder": mail_log_folder, "soundFile": "", "panelPassword": "",
        "cameraName": "", "pop3Port": 110, "smtpPort": 25, "intervalMinutes": 10,
        "intervalSeconds": 0, "mailLogKeepCount": 30, "splitterPosition": -1,
        "replyImageWidth": -1, "checkAtStartup": 0, "playSound": 0, "keepOnServer": 0,
        "smtpAuthRequired": 0, "commandMailsOnly": 0, "panelPasswordRequired": 0,
        "rotateReplyImage": 0, "spamFilterEnabled": 0, "spamToRecycleBin": 0,
        "spamRules": [0] * 24, "subjectKeyword": "Vistrel", "requiredSender": "",
        "requiredRecipient": "", "requiredMailer": "", "requiredSenderAddress": "",
        "windowPlacement": [0] * 11, "columnWidths": [50, 80, 200, 120, 120, 120, 120, 120],
        "commandKeyNames": list(DEFAULT_COMMAND_KEYS), "pop3Security": 0, "smtpSecurity": 0,
        "tlsNoVerify": 0, "tlsTrustFile": "", "tlsSpare": bytes(28),
        "allowedSenders": "", "commandSecret": "", "authServerHost": "", "replayGuard": 0,
        "maxMailAgeMinutes": 0, "loopGuard": 0, "maxRepliesPerHour": 0,
        "receiveProtocol": 0, "imapFolder": "",
        "receiveAuth": 0, "sendAuth": 0, "oauthProvider": 0, "reserved": bytes(152),
    }


def _text(value, width: int) -> bytes:
    raw = value if isinstance(value, bytes) else value.encode("cp932")
    raw = raw[: width - 1]
    return raw + bytes(width - len(raw))


def build(mail_log_folder: str = "", **values) -> bytes:
    """A complete record: the defaults, overridden by values (field names)."""
    unknown = set(values) - set(FIELDS)
    if unknown:
        raise KeyError(f"no such settings fields: {sorted(unknown)}")
    merged = defaults(mail_log_folder)
    merged.update(values)
    record = bytearray(SIZE)
    for name, (offset, kind, n) in FIELDS.items():
        v = merged[name]
        if kind == "text":
            record[offset:offset + n] = _text(v, n)
        elif kind == "u16":
            struct.pack_into("<H", record, offset, v)
        elif kind == "i32" and n == 1:
            struct.pack_into("<i", record, offset, v)
        elif kind == "i32":
            if len(v) != n:
                raise ValueError(f"{name} takes {n} values")
            struct.pack_into(f"<{n}i", record, offset, *v)
        elif kind == "keys":
            if len(v) != n:
                raise ValueError(f"{name} takes {n} names")
            for i, key in enumerate(v):
                record[offset + 80 * i:offset + 80 * (i + 1)] = _text(key, 80)
        else:
            if len(v) != n:
                raise ValueError(f"{name} is {n} bytes")
            record[offset:offset + n] = v
    return bytes(record)


def _untext(raw: bytes) -> str:
    return raw.split(b"\0", 1)[0].decode("cp932", errors="replace")


def parse(record: bytes) -> dict:
    """The values of a record (which must be exactly 4620 bytes)."""
    if len(record) != SIZE:
        raise ValueError(f"a settings record is {SIZE} bytes, not {len(record)}")
    out = {}
    for name, (offset, kind, n) in FIELDS.items():
        if kind == "text":
            out[name] = _untext(record[offset:offset + n])
        elif kind == "u16":
            out[name] = struct.unpack_from("<H", record, offset)[0]
        elif kind == "i32" and n == 1:
            out[name] = struct.unpack_from("<i", record, offset)[0]
        elif kind == "i32":
            out[name] = list(struct.unpack_from(f"<{n}i", record, offset))
        elif kind == "keys":
            out[name] = [_untext(record[offset + 80 * i:offset + 80 * (i + 1)]) for i in range(n)]
        else:
            out[name] = bytes(record[offset:offset + n])
    return out

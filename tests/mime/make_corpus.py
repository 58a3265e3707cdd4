"""Generates a corpus of Japanese mails as Quorvel's mail log holds them
(CR LF line ends, dot-stuffed, ending with the line "."), one file each.

    /usr/bin/python3 tests/mime/make_corpus.py OUT_DIR [--count N] [--seed S] [--large]

The mails mix ISO-2022-JP, Shift_JIS and UTF-8 B-words (folded Subjects,
encoded display names), single-part bodies in 7bit, 8bit, base64 and
quoted-printable, and multipart/mixed mails with named and unnamed parts.
--large adds attachments of tens of kilobytes (for the benchmark).
"""
import argparse
import base64
import quopri
import random
from pathlib import Path

KANA = "あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほまみむめもやゆよらりるれろわをん"
KATA = "アイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホマミムメモヤユヨラリルレロワヲン"
KANJI = "日本語件名送信者宛先添付画像録画監視開始終了表示能力十分予定申請東京大阪会議資料確認"
WORDS = ["カメラ", "録画開始", "監視", "スナップ", "ソース表示", "お知らせ", "会議", "資料", "確認のお願い",
         "テスト", "能力", "十分", "予定表", "ＡＢＣ", "１２３", "Quorvel", "mail", "2008年"]
# Characters outside code page 932 (only in UTF-8 text).
FOREIGN = ["é", "한국", "😀", "Ω"]
SPECIAL_CP932 = ["①", "㈱"]


def sentence(rng, foreign=False):
    parts = []
    for _ in range(rng.randint(2, 7)):
        r = rng.random()
        if r < 0.4:
            parts.append(rng.choice(WORDS))
        elif r < 0.6:
            parts.append("".join(rng.choice(KANA) for _ in range(rng.randint(1, 5))))
        elif r < 0.75:
            parts.append("".join(rng.choice(KANJI) for _ in range(rng.randint(1, 3))))
        elif r < 0.9:
            parts.append("".join(rng.choice(KATA) for _ in range(rng.randint(1, 4))))
        else:
            parts.append(rng.choice(["abc", "Hello", "No.5", "x-y", "(1)"]))
        if foreign and rng.random() < 0.2:
            parts.append(rng.choice(FOREIGN + SPECIAL_CP932))
    return "".join(parts)


def jis(text):
    return text.encode("iso2022_jp")


def encoded_words(text, charset, rng):
    """Splits text into B-words of at most 75 bytes, each decodable alone."""
    name = {"iso-2022-jp": "ISO-2022-JP", "shift_jis": rng.choice(["Shift_JIS", "shift_jis", "SHIFT-JIS"]),
            "utf-8": rng.choice(["UTF-8", "utf-8"])}[charset]
    words, chunk = [], ""
    for ch in text:
        trial = chunk + ch
        data = trial.encode(charset)
        if len(f"=?{name}?B?{base64.b64encode(data).decode()}?=") > 75 and chunk:
            words.append(chunk)
            chunk = ch
        else:
            chunk = trial
    if chunk:
        words.append(chunk)
    return [f"=?{name}?B?{base64.b64encode(w.encode(charset)).decode()}?=" for w in words]


def header_charset(rng):
    return rng.choice(["iso-2022-jp", "iso-2022-jp", "shift_jis", "utf-8"])


def subject_header(rng):
    r = rng.random()
    if r < 0.05:  # Q-words, which Quorvel leaves as they are
        return "Subject: " + rng.choice(["=?iso-8859-1?Q?caf=E9_au_lait?=", '=?ISO-2022-JP?Q?=1B$B$"=1B(B?='])
    cs = header_charset(rng)
    text = sentence(rng, foreign=cs == "utf-8")
    if r < 0.2:  # longer than the 1024-byte field
        text = (text * 100)[:rng.randint(520, 700)]
    elif r < 0.4:
        text = (text * 4)[:60]
    words = encoded_words(text, cs, rng)
    # Folded: every encoded word after the first on its own line.
    return "Subject: " + "\r\n ".join(words)


def address_header(name, rng, addr):
    if rng.random() < 0.3:
        return f"{name}: {addr}"
    cs = header_charset(rng)
    display = sentence(rng)[:12] if rng.random() < 0.8 else (sentence(rng) * 20)[:60]  # may pass 100 bytes
    return f"{name}: " + "\r\n ".join(encoded_words(display, cs, rng)) + f" <{addr}>"


def text_body(rng, lines, charset, foreign=False):
    out = []
    for i in range(lines):
        s = sentence(rng, foreign=foreign and charset == "utf-8")
        if charset == "iso-2022-jp" and rng.random() < 0.1:
            s = "." + s  # a line that the POP3 server dot-stuffs
        out.append(s)
    return "\r\n".join(out) + "\r\n"


def qp(data: bytes) -> bytes:
    """Quoted-printable with CR LF line ends; a dot that would begin a line
    is written =2E (no dot-stuffing inside the encoded text)."""
    b = quopri.encodestring(data.replace(b"\r\n", b"\n")).replace(b"\n", b"\r\n")
    if not b.endswith(b"\r\n"):
        b += b"\r\n"
    b = b.replace(b"\r\n.", b"\r\n=2E")
    return b"=2E" + b[1:] if b.startswith(b".") else b


def encode_text(text, charset, encoding):
    """Header lines and encoded body of a text in charset and transfer encoding."""
    data = text.encode(charset)
    if encoding == "base64":
        b = base64.encodebytes(data).replace(b"\n", b"\r\n")
    elif encoding == "quoted-printable":
        b = qp(data)
    else:
        b = data
    label = {"iso-2022-jp": "iso-2022-jp", "shift_jis": "Shift_JIS", "utf-8": "utf-8"}[charset]
    headers = [f"Content-Type: text/plain; charset={label}"]
    if encoding != "7bit":
        headers.append(f"Content-Transfer-Encoding: {encoding}")
    return headers, b


def text_part(rng, foreign=False, lines=None):
    charset = rng.choice(["iso-2022-jp", "iso-2022-jp", "shift_jis", "utf-8"])
    if charset == "iso-2022-jp":
        encoding = rng.choice(["7bit", "7bit", "base64", "quoted-printable"])
    elif charset == "shift_jis":
        encoding = rng.choice(["8bit", "base64", "quoted-printable"])
    else:
        encoding = rng.choice(["8bit", "base64", "quoted-printable"])
    text = text_body(rng, lines or rng.randint(1, 12), charset, foreign)
    return encode_text(text, charset, encoding)


def binary_part(rng, size):
    return bytes(rng.getrandbits(8) for _ in range(size))


def attachment(rng, large):
    kind = rng.choice(["named-jpeg", "unnamed-jpeg", "unnamed-octet", "unnamed-other", "named-text", "long-subtype"])
    size = rng.randint(20_000, 80_000) if large else rng.randint(10, 400)
    if kind == "named-text":
        cs = rng.choice(["iso-2022-jp", "utf-8"])
        name = encoded_words(sentence(rng)[:8] + ".txt", cs, rng)[0]
        data = text_body(rng, 3, "utf-8").encode("utf-8")
        body = qp(data)
        return ["Content-Type: text/plain; charset=utf-8",
                f"Content-Disposition: attachment; filename=\"{name}\"",
                "Content-Transfer-Encoding: quoted-printable"], body
    ctype = {"named-jpeg": "image/jpeg", "unnamed-jpeg": "image/jpeg", "unnamed-octet": "application/octet-stream",
             "unnamed-other": "x-custom/thing", "long-subtype": "application/vnd.very-long-subtype-name"}[kind]
    headers = [f"Content-Type: {ctype}"]
    if kind == "named-jpeg":
        headers[0] += f"; name=\"photo{rng.randint(1, 99)}.jpg\""
        headers.append(f"Content-Disposition: attachment; filename=\"photo{rng.randint(1, 99)}.jpg\"")
    headers.append("Content-Transfer-Encoding: base64")
    body = base64.encodebytes(binary_part(rng, size)).replace(b"\n", b"\r\n")
    return headers, body


def make_mail(rng, index, large=False):
    headers = [
        f"Received: from relay{index}.example.net by mx.example.com; Sun, 7 Dec 2008 09:05:03 +0900",
        address_header("From", rng, f"sender{index}@example.com"),
        address_header("To", rng, "user@example.jp"),
        subject_header(rng),
        f"Date: Sun, {index % 28 + 1} Dec 2008 09:{index % 60:02d}:03 +0900",
        f"Message-ID: <{index}.{rng.randint(0, 1 << 30)}@example.com>",
        "X-Mailer: Corpus Generator 1.0",
        "MIME-Version: 1.0",
    ]
    if rng.random() < 0.4:
        boundary = rng.choice([f"----=_Part_{index}_{rng.randint(0, 99999)}", f"Ab_{index}", f"b {index} Mixed"])
        headers.append(f"Content-Type: multipart/mixed;\r\n boundary=\"{boundary}\"")
        part_headers, part_body = text_part(rng, foreign=True, lines=30 if large else None)
        body = b"This is a multi-part message in MIME format.\r\n\r\n"
        body += f"--{boundary}\r\n".encode() + "\r\n".join(part_headers).encode() + b"\r\n\r\n" + part_body
        for _ in range(rng.randint(1, 4)):
            h, b = attachment(rng, large)
            body += f"\r\n--{boundary}\r\n".encode() + "\r\n".join(h).encode() + b"\r\n\r\n" + b
        body += f"\r\n--{boundary}--\r\n".encode()
    else:
        part_headers, body = text_part(rng, foreign=True, lines=200 if large else None)
        headers.extend(part_headers)
    head = "\r\n".join(headers) + "\r\n\r\n"
    return head.encode("ascii") + body


def to_log_form(mail: bytes) -> bytes:
    """What a POP3 server sends for RETR after the status line."""
    lines = mail.split(b"\r\n")
    if lines and lines[-1] == b"":
        lines.pop()
    stuffed = [b"." + l if l.startswith(b".") else l for l in lines]
    return b"\r\n".join(stuffed) + b"\r\n.\r\n"


def from_log_form(text: bytes) -> bytes:
    """The mail as sent, from its log form."""
    assert text.endswith(b"\r\n.\r\n")
    lines = text[:-3].split(b"\r\n")
    return b"\r\n".join(l[1:] if l.startswith(b".") else l for l in lines)


def generate(out: Path, count: int, seed: int, large: bool = False):
    out.mkdir(parents=True, exist_ok=True)
    rng = random.Random(seed)
    paths = []
    for i in range(count):
        p = out / f"mail-{i:04d}.eml"
        p.write_bytes(to_log_form(make_mail(rng, i, large)))
        paths.append(p)
    return paths


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out", type=Path)
    ap.add_argument("--count", type=int, default=200)
    ap.add_argument("--seed", type=int, default=3)
    ap.add_argument("--large", action="store_true")
    a = ap.parse_args()
    generate(a.out, a.count, a.seed, a.large)


if __name__ == "__main__":
    main()

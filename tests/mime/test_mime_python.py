"""mailinfo (the native MIME code) against Python's email package on a
generated corpus of Japanese mails. Where standard decoding and Quorvel's
rules agree the Shift_JIS bytes must be equal; where the rules differ on
purpose (widths, the closing line break of quoted-printable text, generated
attachment names) the expectation follows Quorvel's rule."""
import email
import email.policy
import os
import re
import struct
import subprocess
import sys
from pathlib import Path

import pytest

from support import paths

sys.path.insert(0, str(Path(__file__).resolve().parent))
import make_corpus  # noqa: E402

MAILINFO = paths.native("tools/mailinfo/mailinfo")
RECORD = struct.Struct("<12i100s100s100s100s100s1024s")
FIELDS = ("mailNumber logOffset arrivalMark mimeVersionAt contentTypeAt transferEncodingAt partCount "
          "headerLength firstPartStart firstPartEnd mailEnd priority from to date mailer sender subject").split()
TYPES = {"multipart": 2, "text": 3, "image": 4, "message": 5, "audio": 6, "video": 7, "application": 8}
ENCODINGS = {"base64": 2, "quoted-printable": 3, "8bit": 5}
CHARSETS = {"iso-2022-jp": 2, "shift_jis": 3, "utf-8": 6}


def quorvel_charset(part):
    """Quorvel's rule: the first table name (in table order) anywhere in the
    part header after "charset=". Only the corpus's three names are needed."""
    items = [f"{k}:{v}" for k, v in part.items()]
    at = next(i for i, item in enumerate(items) if item.lower().startswith("content-type:"))
    rest = "".join(items[at:]).upper().replace(" ", "").replace("_", "-")
    if "CHARSET=" not in rest:
        return 0
    rest = rest.split("CHARSET=", 1)[1]
    return next((code for name, code in (("ISO-2022-JP", 2), ("SHIFT-JIS", 3), ("UTF-8", 6)) if name in rest), 1)


def mailinfo(*args, env=None):
    r = subprocess.run([str(MAILINFO), *map(str, args)], capture_output=True, env=env, timeout=30)
    assert r.returncode == 0, r.stderr.decode(errors="replace")
    return r.stdout


def record(path):
    values = RECORD.unpack(mailinfo("record", path))
    rec = dict(zip(FIELDS, values))
    for name in FIELDS[12:]:
        rec[name] = rec[name].split(b"\0", 1)[0]
    return rec


def sjis(text: str) -> bytes:
    """Code page 932 bytes; a character without a form becomes one space."""
    out = bytearray()
    for ch in text:
        try:
            out += ch.encode("cp932")
        except UnicodeEncodeError:
            out += b" "
    return bytes(out)


def header_value(raw_message, name):
    """The header decoded by Python, with Quorvel's width rule applied."""
    raw = raw_message[name]
    if re.search(r"\?Q\?", raw, re.I):
        return raw.encode()  # Q-words stay as received
    decoded = str(email.policy.default.header_factory("X-Unstructured", re.sub(r"\r?\n(?=[ \t])", "", raw)))
    value = sjis(decoded.strip())
    width = 1024 if name == "Subject" else 100
    if re.search(r"=\?utf-8\?", raw, re.I):
        return value[:width - 1]  # UTF-8 values are cut to the width
    return value if len(value) <= width - 1 else value[:width - 3] + b".."


def expected_text(part):
    """What the preview shows of a text part."""
    data = part.get_payload(decode=True)
    if part.get_content_charset() == "iso-2022-jp":
        data = sjis(data.decode("iso2022_jp"))
    if part["Content-Transfer-Encoding"] == "quoted-printable" and data.endswith(b"\r\n"):
        data = data[:-2]  # the closing line break of quoted-printable text is dropped
    return data


@pytest.fixture(scope="module")
def corpus(tmp_path_factory):
    if not MAILINFO.exists():
        pytest.skip(f"{MAILINFO} is not built")
    out = tmp_path_factory.mktemp("corpus")
    files = make_corpus.generate(out, 120, seed=7)
    return [(p, email.message_from_bytes(make_corpus.from_log_form(p.read_bytes()), policy=email.policy.compat32),
             email.message_from_bytes(make_corpus.from_log_form(p.read_bytes()), policy=email.policy.default))
            for p in files]


def test_header_values_and_offsets(corpus):
    for path, raw, _ in corpus:
        rec = record(path)
        text = path.read_bytes()
        for field, name in (("subject", "Subject"), ("from", "From"), ("to", "To")):
            assert rec[field] == header_value(raw, name), (path.name, field)
        assert rec["date"] == raw["Date"].encode()
        assert rec["mailer"] == b"Corpus Generator 1.0"
        assert rec["mailEnd"] == len(text) - 3
        assert text[rec["headerLength"] - 2:rec["headerLength"] + 2] == b"\r\n\r\n"
        assert text[rec["contentTypeAt"]:].lower().startswith(b"content-type:")
        assert text[rec["mimeVersionAt"]:].startswith(b"MIME-Version:")


def test_bodies(corpus):
    for path, _, msg in corpus:
        first = next(p for p in msg.walk() if not p.is_multipart())
        assert mailinfo("body", path) == expected_text(first), path.name


def test_multipart_structure_and_attachments(corpus, tmp_path):
    env = dict(os.environ, TMPDIR=str(tmp_path))
    multipart = 0
    for path, raw, msg in corpus:
        rec = record(path)
        parts = list(msg.iter_parts()) if msg.is_multipart() else []
        raw_parts = raw.get_payload() if parts else []
        assert rec["partCount"] == len(parts), path.name
        lines = mailinfo("attachments", path).splitlines()
        if not parts:
            assert lines == []
            continue
        multipart += 1
        assert len(lines) == len(parts) - 1, path.name
        unnamed = 1
        for i, (line, part, raw_part) in enumerate(zip(lines, parts[1:], raw_parts[1:])):
            number, name, length, ctype, encoding, charset = line.split(b"\t")
            assert (int(number), int(ctype), int(encoding)) == (
                i, TYPES.get(part.get_content_maintype(), 1), ENCODINGS[part["Content-Transfer-Encoding"]])
            assert int(charset) == quorvel_charset(raw_part), (path.name, i)
            if part.get_filename():
                assert name == sjis(part.get_filename()), path.name
            else:
                subtype = part.get_content_subtype().upper()
                known = part.get_content_maintype() in TYPES
                suffix = subtype if known and len(subtype) <= 19 else "TXT"
                assert name == sjis(f"添付({unnamed}).{suffix}"), path.name
                unnamed += 1
            saved = Path(mailinfo("save", path, i, env=env).rstrip(b"\n").decode("cp932"))
            assert saved.parent == tmp_path
            assert saved.read_bytes() == part.get_payload(decode=True), (path.name, i)
            saved.unlink()
    assert multipart >= 20


def test_charset_codes(corpus):
    for path, raw, msg in corpus:
        header, body = (int(line.split()[1]) for line in mailinfo("charsets", path).splitlines())
        # The last of From, To, Subject with an encoded word decides (Subject always has one).
        words = re.findall(r"=\?([^?]+)\?", raw["Subject"])
        name = words[0].lower().replace("-", "_").replace("utf_8", "utf-8").replace("iso_2022_jp", "iso-2022-jp")
        assert header == CHARSETS.get(name, 8), path.name  # iso-8859-1: 8
        first = next(p for p in msg.walk() if not p.is_multipart())
        assert body == CHARSETS[first.get_content_charset()], path.name


def test_bad_input_is_reported(tmp_path):
    if not MAILINFO.exists():
        pytest.skip(f"{MAILINFO} is not built")
    empty = tmp_path / "empty.eml"
    empty.write_bytes(b"")
    for args in (["record", tmp_path / "missing.eml"], ["body", empty], ["nonsense", empty], ["body"],
                 ["save", empty, "x"]):
        r = subprocess.run([str(MAILINFO), *map(str, args)], capture_output=True, timeout=30)
        assert r.returncode != 0 and r.stderr and not r.stdout, args
    one = tmp_path / "one.eml"
    one.write_bytes(b"Subject: x\r\n\r\nbody\r\n")
    r = subprocess.run([str(MAILINFO), "save", one, "0"], capture_output=True, timeout=30)
    assert r.returncode == 1 and b"no attachment" in r.stderr

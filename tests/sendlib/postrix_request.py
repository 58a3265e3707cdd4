"""ImageMailRequest records, the Postrix test driver, pictures to send and
the decoding of what arrives."""
import email
import re
import struct
import subprocess
from pathlib import Path

from support import paths

RECORD_SIZE = 2968
TEXT_FIELDS = {  # name: (offset, width)
    "server": (16, 76), "fromAddress": (92, 76), "toAddress": (168, 76), "fromName": (244, 76),
    "subject": (320, 256), "body": (576, 1024), "attachmentPath": (1600, 260),
    "userName": (2860, 32), "password": (2892, 32), "heloName": (2924, 32),
}
NUMBERS = {"imageWidth": 4, "jpegQuality": 8, "ccCount": 12, "useAuth": 2956, "sendFileAsIs": 2960,
           "writeLog": 2964}
CC_OFFSET, CC_WIDTH = 1860, 50
LOG_NAME = "メール送信ログ.TXT"
FIELDS = dict(server="127.0.0.1", fromAddress="bot@quorvel.test", toAddress="user@quorvel.test",
              fromName="Quorvel 監視", subject="Re:画像", body="撮影しました。\n", heloName="PC01",
              jpegQuality=80, writeLog=1)
# Corner colours of the test picture (red, green, blue), clockwise from top left.
CORNERS = [(230, 20, 20), (20, 200, 20), (240, 240, 240), (20, 20, 220)]


def build_request(port, cc=(), **fields):
    """Packs a request; texts are str (stored as Shift_JIS) or bytes and may
    fill their field without a NUL; ccCount defaults to len(cc)."""
    record = bytearray(RECORD_SIZE)
    struct.pack_into("<H", record, 0, port)
    struct.pack_into("<i", record, NUMBERS["ccCount"], len(cc))
    for name, value in fields.items():
        if name in NUMBERS:
            struct.pack_into("<i", record, NUMBERS[name], int(value))
            continue
        offset, width = TEXT_FIELDS[name]
        data = value if isinstance(value, bytes) else value.encode("cp932")
        assert len(data) <= width, name
        record[offset:offset + len(data)] = data
    for i, address in enumerate(cc):
        data = address.encode()
        record[CC_OFFSET + i * CC_WIDTH:CC_OFFSET + i * CC_WIDTH + len(data)] = data
    return bytes(record)


def run_native(request: bytes, cwd: Path) -> int:
    (cwd / "request.bin").write_bytes(request)
    out = subprocess.run([str(paths.native("tests/sendlib/postrix_client")), "request.bin"], cwd=cwd,
                         capture_output=True, timeout=120, check=True).stdout
    return int(out)


def write_bmp(path: Path, width=640, height=480):
    """A 24-bit bottom-up BMP in four flat quarters of the CORNERS colours."""
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(height - 1, -1, -1):  # bottom row first
        top, left = y < height // 2, None
        row = bytearray()
        for x in range(width):
            left = x < width // 2
            r, g, b = CORNERS[0 if top and left else 1 if top else 3 if left else 2]
            row += bytes((b, g, r))
        rows.append(bytes(row) + bytes(stride - len(row)))
    pixels = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 0, 0, 0, 0)
    path.write_bytes(header + info + pixels)
    return path


def message_lines(content: bytes):
    return content.split(b"\r\n")


def attachment(content: bytes):
    """The attachment part: (its header lines, its decoded data, its data lines)."""
    lines = message_lines(content)
    start = next(i for i, line in enumerate(lines) if line.startswith(b"Content-Type: text/plain; Name="))
    end = lines.index(b"", start + 4)
    part = email.message_from_bytes(content).get_payload()[1]
    return lines[start:start + 3], part.get_payload(decode=True), lines[start + 4:end]


def decode_jpeg(data: bytes, folder: Path):
    """(width, height, rgb bytes) decoded by ImageMagick."""
    path = folder / "decoded.jpg"
    path.write_bytes(data)
    ppm = subprocess.run(["/usr/bin/convert", str(path), "-depth", "8", "ppm:-"], check=True,
                         capture_output=True, timeout=60).stdout
    m = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", ppm)
    return int(m.group(1)), int(m.group(2)), ppm[m.end():]


def corner_colours(width, height, rgb, inset=4):
    def at(x, y):
        i = (y * width + x) * 3
        return tuple(rgb[i:i + 3])
    return [at(inset, inset), at(width - 1 - inset, inset), at(width - 1 - inset, height - 1 - inset),
            at(inset, height - 1 - inset)]


def close_to(colours, expected, tolerance=24):
    return all(abs(a - b) <= tolerance for c, e in zip(colours, expected) for a, b in zip(c, e))


def read_log(folder: Path):
    """The send log's bytes, or None when there is none."""
    path = folder / LOG_NAME
    return path.read_bytes() if path.exists() else None


def in_order(text: bytes, parts):
    """Each part occurs in text after the one before it."""
    at = 0
    for part in parts:
        at = text.find(part, at)
        if at < 0:
            return False
        at += len(part)
    return True

#!/usr/bin/python3
"""A 1920 x 1080 JPEG scaled to 640 wide, encoded at quality 80 and sent:
through Postrix's EM_SendMail (the native test driver, one process per
send) and through ImageMagick's convert followed by Python's smtplib, in
turn against the same local aiosmtpd sink. Prints the medians and their
ratio. Run with Debian's python3 after a native build:
bench/sendlib/bench_postrix.py [ROUNDS]"""
import statistics
import smtplib
import subprocess
import sys
import tempfile
import time
from email.mime.image import MIMEImage
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path[:0] = [str(ROOT / "tests"), str(ROOT / "tests" / "sendlib")]

from postrix_request import FIELDS, build_request, run_native  # noqa: E402
from sendry_server import SmtpSink  # noqa: E402


def with_magick_and_smtplib(port, source: Path, folder: Path):
    scaled = folder / "scaled.jpg"
    subprocess.run(["/usr/bin/convert", str(source), "-resize", "640x", "-quality", "80", str(scaled)],
                   check=True)
    message = MIMEMultipart()
    message["From"] = FIELDS["fromAddress"]
    message["To"] = FIELDS["toAddress"]
    message["Subject"] = "benchmark"
    message.attach(MIMEText("body", "plain", "iso-2022-jp"))
    message.attach(MIMEImage(scaled.read_bytes(), "jpeg", Name="scaled.jpg"))
    with smtplib.SMTP("127.0.0.1", port) as smtp:
        smtp.send_message(message)


def timed(action):
    start = time.perf_counter()
    action()
    return (time.perf_counter() - start) * 1000


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 11
    with tempfile.TemporaryDirectory() as folder:
        folder = Path(folder)
        source = folder / "in.jpg"
        # A photo-like picture: a plasma with fine detail.
        subprocess.run(["/usr/bin/convert", "-seed", "3", "-size", "1920x1080", "plasma:fractal",
                        "-blur", "0x1", "-quality", "95", str(source)], check=True)
        with SmtpSink() as sink:
            request = build_request(sink.port, **dict(FIELDS, attachmentPath=str(source), imageWidth=640,
                                                      jpegQuality=80))
            pairs = [(timed(lambda: run_native(request, folder) == 0 or sys.exit("send failed")),
                      timed(lambda: with_magick_and_smtplib(sink.port, source, folder)))
                     for _ in range(rounds)]
            assert len(sink.messages) == 2 * rounds
    ours = statistics.median(p[0] for p in pairs)
    theirs = statistics.median(p[1] for p in pairs)
    print(f"1920x1080 JPEG -> 640 wide, quality 80, sent (median of {rounds}, in turn):")
    print(f"  Postrix EM_SendMail          {ours:8.1f} ms")
    print(f"  ImageMagick + smtplib        {theirs:8.1f} ms")
    print(f"  ratio                        {statistics.median(p[1] / p[0] for p in pairs):8.2f}x faster "
          "(median of the pairs' ratios)")


if __name__ == "__main__":
    main()

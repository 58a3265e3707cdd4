#!/usr/bin/python3
"""Sends one 5 MB attachment through EM_SendMail (libSendry, via the test
driver) and through Python's smtplib to the same local aiosmtpd sink and
prints the times and their ratio. Run with Debian's python3 after a native
build: bench/sendlib/bench_send.py [ROUNDS]"""
import os
import smtplib
import sys
import tempfile
import time
from email.mime.application import MIMEApplication
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path[:0] = [str(ROOT / "tests"), str(ROOT / "tests" / "sendlib")]

from sendry_request import FIELDS, build_request, run_native  # noqa: E402
from sendry_server import SmtpSink  # noqa: E402

SIZE = 5 * 1024 * 1024


def with_smtplib(port, path: Path):
    message = MIMEMultipart()
    message["From"] = FIELDS["fromAddress"]
    message["To"] = FIELDS["toAddress"]
    message["Subject"] = "benchmark"
    message.attach(MIMEText("body", "plain", "iso-2022-jp"))
    message.attach(MIMEApplication(path.read_bytes(), "octet-stream", Name=path.name))
    with smtplib.SMTP("127.0.0.1", port) as smtp:
        smtp.send_message(message)


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 3
    with tempfile.TemporaryDirectory() as folder:
        folder = Path(folder)
        attachment = folder / "record.wmv"
        attachment.write_bytes(os.urandom(SIZE))
        best = {"EM_SendMail": float("inf"), "smtplib": float("inf")}
        with SmtpSink() as sink:
            request = build_request(sink.port, **dict(FIELDS, attachmentPath=str(attachment),
                                                      writeLog=1))
            for _ in range(rounds):
                start = time.perf_counter()
                assert run_native(request, folder) == [0]
                best["EM_SendMail"] = min(best["EM_SendMail"], time.perf_counter() - start)
                start = time.perf_counter()
                with_smtplib(sink.port, attachment)
                best["smtplib"] = min(best["smtplib"], time.perf_counter() - start)
            assert len(sink.messages) == 2 * rounds
    for name, seconds in best.items():
        print(f"{name:12s} {seconds * 1000:8.1f} ms  {SIZE / seconds / 1e6:6.1f} MB/s (best of {rounds})")
    print(f"ratio EM_SendMail / smtplib: {best['EM_SendMail'] / best['smtplib']:.2f}")


if __name__ == "__main__":
    main()

"""Runs bench_mime and Python's email parser on the same generated corpus
and prints both throughputs and their ratio (not part of the test run).

    /usr/bin/python3 bench/mime/run_bench.py [--build build/native] [--count 300]

Python does the same work: parse the mail, decode Subject, From and To, and
decode every leaf part (text parts to str, others to bytes).
"""
import argparse
import email
import email.policy
import json
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "mime"))
import make_corpus  # noqa: E402


def python_pass(mails):
    for raw in mails:
        msg = email.message_from_bytes(raw, policy=email.policy.default)
        for name in ("Subject", "From", "To"):
            str(msg[name])
        for part in msg.walk():
            if part.is_multipart():
                continue
            if part.get_content_maintype() == "text":
                part.get_content()
            else:
                part.get_payload(decode=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", type=Path, default=ROOT / "build" / "native")
    ap.add_argument("--count", type=int, default=300)
    ap.add_argument("--seconds", type=float, default=5.0)
    a = ap.parse_args()
    exe = a.build / "bench" / "mime" / "bench_mime"
    with tempfile.TemporaryDirectory() as tmp:
        folder = Path(tmp)
        # Everyday mails and, one in ten, mails with attachments of tens of kilobytes.
        make_corpus.generate(folder, a.count, seed=21)
        make_corpus.generate(folder / "large", a.count // 10, seed=22, large=True)
        for p in (folder / "large").iterdir():
            p.rename(folder / f"large-{p.name}")
        files = sorted(folder.glob("*.eml"))
        total = sum(p.stat().st_size for p in files)

        out = subprocess.run([str(exe), "--benchmark_format=json", f"--benchmark_min_time={a.seconds}"],
                             env=dict(os.environ, QUORVEL_MIME_CORPUS=str(folder)), capture_output=True,
                             check=True, text=True).stdout
        native = json.loads(out)["benchmarks"][0]["bytes_per_second"] / 1e6

        mails = [make_corpus.from_log_form(p.read_bytes()) for p in files]
        runs, start = 0, time.perf_counter()
        while True:
            python_pass(mails)
            runs += 1
            elapsed = time.perf_counter() - start
            if elapsed >= a.seconds:
                break
        python = total * runs / elapsed / 1e6

    print(f"corpus: {len(files)} mails, {total / 1e6:.2f} MB")
    print(f"Quorvel parseMail + body decoding: {native:8.1f} MB/s")
    print(f"Python email (policy.default):     {python:8.2f} MB/s")
    print(f"ratio: {native / python:.1f}x")


if __name__ == "__main__":
    main()

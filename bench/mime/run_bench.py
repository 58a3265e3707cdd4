"""Runs bench_mime (which generates its corpus: 1,480 mails, about 100 MB,
fixed seed) and Python's email parser on the same mails, and prints MB/s and
mails/s per kind and overall (not part of the test run).

    /usr/bin/python3 bench/mime/run_bench.py [--build build/native] [--repetitions 5]

Native figures are medians of the repetitions (CPU time of the process).
Python does the same work: parse the mail, decode Subject, From and To, and
decode every leaf part (text parts to str, others to bytes), once per kind.
"""
import argparse
import email
import email.policy
import json
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "mime"))
import make_corpus  # noqa: E402

KINDS = ["small_jis", "multipart_base64", "qp_utf8", "to_2000", "all"]


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
    ap.add_argument("--repetitions", type=int, default=5)
    a = ap.parse_args()
    exe = str(a.build / "bench" / "mime" / "bench_mime")
    with tempfile.TemporaryDirectory() as tmp:
        log_path = Path(tmp) / "corpus.log"
        subprocess.run([exe, "--write-corpus", str(log_path)], check=True)
        log = log_path.read_bytes()
        index = [l.split() for l in Path(str(log_path) + ".index").read_text().splitlines()]
    mails = {k: [] for k in KINDS}
    sizes = {k: 0 for k in KINDS}
    for offset, size, kind in index:
        raw = make_corpus.from_log_form(log[int(offset):int(offset) + int(size)])
        for k in (kind, "all"):
            mails[k].append(raw)
            sizes[k] += int(size)

    out = subprocess.run([exe, "--benchmark_format=json", f"--benchmark_repetitions={a.repetitions}",
                          "--benchmark_report_aggregates_only=true"], capture_output=True, check=True,
                         text=True).stdout
    native = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            native[b["run_name"]] = (b["MB/s"], b["mails/s"])

    python = {}
    for k in KINDS[:-1]:
        start = time.process_time()
        python_pass(mails[k])
        python[k] = time.process_time() - start
    python["all"] = sum(python.values())

    print(f"corpus: {len(index)} mails, {len(log) / 1e6:.1f} MB")
    print(f"{'kind':18} {'mails':>6} {'MB':>6} | {'parse MB/s':>10} {'mails/s':>9} | "
          f"{'decode MB/s':>11} {'mails/s':>9} | {'Python MB/s':>11} {'mails/s':>8}")
    for k in KINDS:
        p = native.get(f"parse/{k}", (0, 0))
        d = native.get(f"decode/{k}", (0, 0))
        py = python[k]
        print(f"{k:18} {len(mails[k]):6d} {sizes[k] / 1e6:6.1f} | {p[0]:10.1f} {p[1]:9.0f} | "
              f"{d[0]:11.1f} {d[1]:9.0f} | {sizes[k] / 1e6 / py:11.1f} {len(mails[k]) / py:8.0f}")


if __name__ == "__main__":
    main()

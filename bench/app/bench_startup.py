"""Start-up of quorvel.exe under Wine with a store of 10,000 mails: seconds
from the start of the program until the mail list holds every row.

    /usr/bin/python3 bench/app/bench_startup.py [--mails 10000] [--runs 3]
"""
import argparse
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests"))
from support.desktop import desktop  # noqa: E402
from support.quorvel_app import QuorvelApp, wait_until  # noqa: E402


def make_log(count: int) -> bytes:
    mails = []
    for i in range(count):
        mails.append(b"From: sender%05d@example.jp\r\nTo: quorvel\r\n"
                     b"Date: Sun, 7 Dec 2008 09:05:03 +0900\r\nSubject: mail %05d\r\n\r\n" % (i, i)
                     + b"body line of the mail\r\n" * 40 + b".\r\n")
    return b"".join(mails)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--mails", type=int, default=10000)
    ap.add_argument("--runs", type=int, default=3)
    args = ap.parse_args()
    with desktop() as (wine, driver):
        app = QuorvelApp(wine, driver, Path(tempfile.mkdtemp(prefix="quorvel-bench-")))
        app.write_settings(mailLogKeepCount=args.mails)
        (app.folder / "QuorvelMail.log").write_bytes(make_log(args.mails))
        # The first start rebuilds the index; the measured ones load it.
        app.start()
        wait_until(lambda: app.row_count() == args.mails, timeout=600, what="the rebuilt list")
        app.close(timeout=120)
        times = []
        for _ in range(args.runs):
            started = time.monotonic()
            app.start(timeout=120)
            wait_until(lambda: app.row_count() == args.mails, timeout=600, what="the full list")
            times.append(time.monotonic() - started)
            app.close(timeout=120)
        print(f"start-up to a list of {args.mails} mails under Wine: "
              f"best {min(times):.2f} s, runs {', '.join(f'{t:.2f}' for t in times)}")


if __name__ == "__main__":
    main()

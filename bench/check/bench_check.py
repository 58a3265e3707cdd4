"""A check of a Dovecot mailbox holding 10,000 mails kept on the server,
nothing new: with the mailbox memory (connect, login, UIDL, LIST, QUIT; no
mail downloaded) beside the same check without it, as before the memory
(every mail downloaded and stored again).

    /usr/bin/python3 bench/check/bench_check.py [--build build/native] [--count 10000] [--runs 3]
"""
import argparse
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests"))
from support.dovecot import Dovecot  # noqa: E402


def mail(i: int) -> bytes:
    return (b"From: a@example.jp\r\nTo: quorvel@example.jp\r\nDate: Sun, 7 Dec 2008 09:05:03 +0900\r\n"
            b"Message-ID: <%d@example.jp>\r\nSubject: kept %d\r\n\r\n" % (i, i) + b"body line\r\n" * 20)


def check(tool, server, folder, *extra):
    out = subprocess.run([str(tool), "--port", str(server.port), "--user", server.user,
                          "--password", server.password, "--folder", str(folder), "--keep", *extra],
                         capture_output=True, text=True, check=True).stdout.split()
    return float(out[1]), int(out[3]), int(out[5])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=str(ROOT / "build/native"))
    ap.add_argument("--count", type=int, default=10000)
    ap.add_argument("--runs", type=int, default=3)
    args = ap.parse_args()
    tool = Path(args.build) / "bench/check/bench_check"
    with Dovecot() as server, tempfile.TemporaryDirectory() as tmp:
        for i in range(args.count):
            server.put(mail(i))
        first = check(tool, server, tmp)  # stores and remembers every mail
        print(f"first check:              {first[0]:7.3f} s, {first[1]} RETR, {first[2]} stored")
        memory = min(check(tool, server, tmp) for _ in range(args.runs))
        print(f"with the memory:          {memory[0]:7.3f} s, {memory[1]} RETR, {memory[2]} stored (best of {args.runs})")
        with tempfile.TemporaryDirectory() as old:
            before = min(check(tool, server, old, "--no-memory") for _ in range(args.runs))
        print(f"without it (as before):   {before[0]:7.3f} s, {before[1]} RETR, {before[2]} stored (best of {args.runs})")
        print(f"speed-up: {before[0] / memory[0]:.0f}x; goal: at most 0.5 s and no RETR: "
              f"{'met' if memory[0] <= 0.5 and memory[1] == 0 else 'NOT met'}")


if __name__ == "__main__":
    main()

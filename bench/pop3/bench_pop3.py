"""Downloads 200 messages of 100 KB from a local Dovecot through Quorvel's
POP3 session (pop3check) and through Python's poplib, and prints the ratio.

    /usr/bin/python3 bench/pop3/bench_pop3.py [--build build/native] [--runs 3]
"""
import argparse
import poplib
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests"))
from support.dovecot import Dovecot  # noqa: E402

COUNT, SIZE = 200, 100 * 1024


def make_mail(i: int) -> bytes:
    line = (b"%06d " % i) + b"abcdefghijklmnopqrstuvwxyz0123456789" * 2 + b"\r\n"
    body = line * (SIZE // len(line))
    return b"Subject: bench %d\r\n\r\n" % i + body


def with_poplib(server) -> int:
    box = poplib.POP3("127.0.0.1", server.port)
    box.user(server.user)
    box.pass_(server.password)
    count, _ = box.stat()
    total = 0
    for n in range(1, count + 1):
        total += sum(len(l) + 2 for l in box.retr(n)[1])
    box.quit()
    return total


def with_pop3check(server, build: Path) -> int:
    with tempfile.TemporaryDirectory() as tmp:
        out = subprocess.run([str(build / "tools/pop3/pop3check"), "--server", "127.0.0.1",
                              "--port", str(server.port), "--user", server.user,
                              "--password", server.password, "--log", f"{tmp}/log"],
                             capture_output=True, text=True, check=True).stdout
    return int(out.split()[2])


def best(fn, runs):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        nbytes = fn()
        times.append(time.perf_counter() - start)
    return min(times), nbytes


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=str(ROOT / "build/native"))
    ap.add_argument("--runs", type=int, default=3)
    args = ap.parse_args()
    with Dovecot() as server:
        for i in range(COUNT):
            server.put(make_mail(i))
        with_poplib(server)  # warm the server's caches
        t_py, b_py = best(lambda: with_poplib(server), args.runs)
        t_qv, b_qv = best(lambda: with_pop3check(server, Path(args.build)), args.runs)
    mb = 1024 * 1024
    print(f"poplib:    {b_py / mb:7.1f} MB in {t_py:.3f} s = {b_py / mb / t_py:6.1f} MB/s")
    print(f"pop3check: {b_qv / mb:7.1f} MB in {t_qv:.3f} s = {b_qv / mb / t_qv:6.1f} MB/s")
    print(f"ratio (pop3check / poplib throughput): {t_py / t_qv:.2f}")


if __name__ == "__main__":
    main()

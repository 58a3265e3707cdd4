"""Downloads 200 messages of 100 KB from a local Dovecot over IMAP through
Quorvel's IMAP session (imapcheck) and through curl's imap:// (one
connection, UID FETCH per message), and prints both throughputs.

    /usr/bin/python3 bench/imap/bench_imap.py [--build build/native] [--runs 3]
"""
import argparse
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests"))
sys.path.insert(0, str(ROOT / "bench"))
from support.dovecot import Dovecot  # noqa: E402
from pop3.bench_pop3 import COUNT, make_mail  # noqa: E402


def with_imapcheck(server, build: Path) -> int:
    with tempfile.TemporaryDirectory() as tmp:
        out = subprocess.run([str(build / "tools/imap/imapcheck"), "--server", "127.0.0.1",
                              "--port", str(server.imap_port), "--user", server.user,
                              "--password", server.password, "--log", f"{tmp}/log"],
                             capture_output=True, text=True, check=True).stdout
    return int(out.split()[2])


def with_curl(server) -> int:
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run(["curl", "-s", "-u", f"{server.user}:{server.password}",
                        f"imap://127.0.0.1:{server.imap_port}/INBOX;UID=[1-{COUNT}]", "-o", f"{tmp}/#1.eml"],
                       check=True)
        return sum(p.stat().st_size for p in Path(tmp).glob("*.eml"))


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
        with_curl(server)  # warm the server's caches
        t_curl, b_curl = best(lambda: with_curl(server), args.runs)
        t_qv, b_qv = best(lambda: with_imapcheck(server, Path(args.build)), args.runs)
    mb = 1024 * 1024
    print(f"curl imap://: {b_curl / mb:7.1f} MB in {t_curl:.3f} s = {b_curl / mb / t_curl:6.1f} MB/s")
    print(f"imapcheck:    {b_qv / mb:7.1f} MB in {t_qv:.3f} s = {b_qv / mb / t_qv:6.1f} MB/s")
    print(f"ratio (imapcheck / curl throughput): {t_curl / t_qv:.2f}")


if __name__ == "__main__":
    main()

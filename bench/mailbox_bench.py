"""What the mailbox download benchmarks (bench/pop3, bench/imap) share: the
mailbox of COUNT messages of SIZE bytes, a run of a check tool of the native
tree, the best of several runs, the command line and the report lines."""
import argparse
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests"))
from support.dovecot import Dovecot  # noqa: E402

COUNT, SIZE = 200, 100 * 1024
MB = 1024 * 1024


def make_mail(i: int) -> bytes:
    line = (b"%06d " % i) + b"abcdefghijklmnopqrstuvwxyz0123456789" * 2 + b"\r\n"
    body = line * (SIZE // len(line))
    return b"Subject: bench %d\r\n\r\n" % i + body


def fill(server):
    for i in range(COUNT):
        server.put(make_mail(i))


def arguments() -> tuple:
    """--build (the native tree) and --runs; returns both."""
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=str(ROOT / "build/native"))
    ap.add_argument("--runs", type=int, default=3)
    args = ap.parse_args()
    return Path(args.build), args.runs


def check_tool(build: Path, tool: str, host: str, port: int, server, *extra) -> int:
    """Runs tools/pop3/pop3check or tools/imap/imapcheck over the mailbox;
    returns the bytes it received."""
    folder = tool[:-len("check")]
    with tempfile.TemporaryDirectory() as tmp:
        out = subprocess.run([str(build / "tools" / folder / tool), "--server", host, "--port", str(port),
                              "--user", server.user, "--password", server.password, "--log", f"{tmp}/log",
                              *extra],
                             capture_output=True, text=True, check=True).stdout
    return int(out.split()[2])


def best(fn, runs):
    """The shortest of `runs` timed calls, and the bytes the last one gave."""
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        nbytes = fn()
        times.append(time.perf_counter() - start)
    return min(times), nbytes


def throughput(name: str, result, width: int) -> str:
    t, n = result
    return f"{name + ':':{width}} {n / MB:7.1f} MB in {t:.3f} s = {n / MB / t:6.1f} MB/s"


def report(theirs: tuple, ours: tuple):
    """Prints (name, best result) of the reference and of ours, and the ratio."""
    width = max(len(theirs[0]), len(ours[0])) + 2
    print(throughput(*theirs, width))
    print(throughput(*ours, width))
    print(f"ratio ({ours[0]} / {theirs[0]} throughput): {theirs[1][0] / ours[1][0]:.2f}")


def compare(theirs_name: str, theirs, tool: str, port):
    """Fills a private Dovecot, warms its caches with the reference client
    `theirs` (server -> bytes), times it and the check tool on the port that
    `port` (server -> port) names, and reports both."""
    build, runs = arguments()
    with Dovecot() as server:
        fill(server)
        theirs(server)
        reference = best(lambda: theirs(server), runs)
        ours = best(lambda: check_tool(build, tool, "127.0.0.1", port(server), server), runs)
    report((theirs_name, reference), (tool, ours))

"""Downloads 200 messages of 100 KB from a local Dovecot through Quorvel's
POP3 session (pop3check) in plaintext and over implicit TLS, and through
curl's pop3s:// (one connection for all messages), in one run.

    /usr/bin/python3 bench/pop3/bench_pop3_tls.py [--build build/native] [--runs 3]
"""
import argparse
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests"))
sys.path.insert(0, str(ROOT / "bench" / "pop3"))
from bench_pop3 import COUNT, best, make_mail  # noqa: E402
from support.tls_servers import DovecotTls, make_certs  # noqa: E402


def pop3check(build: Path, server, port, *extra) -> int:
    with tempfile.TemporaryDirectory() as tmp:
        out = subprocess.run([str(build / "tools/pop3/pop3check"), "--server", "localhost",
                              "--port", str(port), "--user", server.user,
                              "--password", server.password, "--log", f"{tmp}/log", *extra],
                             capture_output=True, text=True, check=True).stdout
    return int(out.split()[2])


def curl(server, ca) -> int:
    out = subprocess.run(["curl", "-s", "--cacert", str(ca), "--user", f"{server.user}:{server.password}",
                          f"pop3s://localhost:{server.tls_port}/[1-{COUNT}]"],
                         capture_output=True, check=True).stdout
    return len(out)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=str(ROOT / "build/native"))
    ap.add_argument("--runs", type=int, default=3)
    args = ap.parse_args()
    build = Path(args.build)
    with tempfile.TemporaryDirectory() as tmp:
        certs = make_certs(Path(tmp) / "certs")
        with DovecotTls(certs.good) as server:
            for i in range(COUNT):
                server.put(make_mail(i))
            pop3check(build, server, server.port)  # warm the server's caches
            rows = [
                ("pop3check plain", best(lambda: pop3check(build, server, server.port), args.runs)),
                ("pop3check TLS", best(lambda: pop3check(build, server, server.tls_port, "--security", "tls",
                                                          "--trust", str(certs.ca)), args.runs)),
                ("curl pop3s://", best(lambda: curl(server, certs.ca), args.runs)),
            ]
    mb = 1024 * 1024
    for name, (t, n) in rows:
        print(f"{name:16} {n / mb:7.1f} MB in {t:.3f} s = {n / mb / t:6.1f} MB/s")
    plain, tls, cu = (t for _, (t, _) in rows)
    print(f"TLS / plaintext throughput: {plain / tls:.2f}")
    print(f"TLS / curl pop3s throughput: {cu / tls:.2f}")


if __name__ == "__main__":
    main()

"""Downloads 200 messages of 100 KB through Quorvel's POP3 session
(pop3check) in plaintext and over implicit TLS, through curl's pop3s://
(one connection for all messages), and through pop3drain (256 KB reads, the
data dropped: what the server can deliver at best, with every RETR sent at
once and, as a session without pipelining does, one at a time), in one run,
from two servers:
- a local Dovecot, whose pop3-login process does the TLS and relays the
  plaintext of the pop3 process over a UNIX socket;
- a POP3 server in this process serving the same mailbox from memory, with
  the TLS in the serving thread (no relay), so that the client's own TLS
  cost shows beside its plaintext figure.

    /usr/bin/python3 bench/pop3/bench_pop3_tls.py [--build build/native] [--runs 3]
"""
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))
sys.path.insert(0, str(Path(__file__).resolve().parent))
from mailbox_bench import COUNT, arguments, best, check_tool, make_mail, throughput  # noqa: E402
from memory_pop3 import MemoryPop3  # noqa: E402
from support.tls_servers import DovecotTls, make_certs, server_context  # noqa: E402


def pop3check(build: Path, server, port, *extra) -> int:
    return check_tool(build, "pop3check", "localhost", port, server, *extra)


def curl(server, port, ca) -> int:
    out = subprocess.run(["curl", "-s", "--cacert", str(ca), "--user", f"{server.user}:{server.password}",
                          f"pop3s://localhost:{port}/[1-{COUNT}]"],
                         capture_output=True, check=True).stdout
    return len(out)


def pop3drain(build: Path, server, port, *extra) -> int:
    out = subprocess.run([str(build / "bench/pop3/pop3drain"), "localhost", str(port), server.user,
                          server.password, str(COUNT), *extra],
                         capture_output=True, text=True, check=True).stdout
    return int(out.split()[1])


def measure(build: Path, runs: int, server, plain_port: int, tls_port: int, ca: Path) -> list:
    pop3check(build, server, plain_port)  # warm the server's caches
    tls = ("--security", "tls", "--trust", str(ca))
    return [
        ("pop3check plain", best(lambda: pop3check(build, server, plain_port), runs)),
        ("pop3check TLS", best(lambda: pop3check(build, server, tls_port, *tls), runs)),
        ("curl pop3s://", best(lambda: curl(server, tls_port, ca), runs)),
        ("pop3drain plain", best(lambda: pop3drain(build, server, plain_port), runs)),
        ("pop3drain TLS", best(lambda: pop3drain(build, server, tls_port, "--tls", str(ca)), runs)),
        ("serial plain", best(lambda: pop3drain(build, server, plain_port, "--serial"), runs)),
        ("serial TLS", best(lambda: pop3drain(build, server, tls_port, "--serial", "--tls", str(ca)), runs)),
    ]


def report(title: str, rows: list):
    print(title)
    for name, result in rows:
        print("  " + throughput(name, result, 17))
    plain, tls, cu, drain_plain, drain_tls, serial_plain, serial_tls = (t for _, (t, _) in rows)
    print(f"  TLS / plaintext throughput: pop3check {plain / tls:.2f}, "
          f"pop3drain {drain_plain / drain_tls:.2f}, serial {serial_plain / serial_tls:.2f}")
    print(f"  pop3check TLS / curl pop3s throughput: {cu / tls:.2f}")
    print(f"  pop3check TLS / serial TLS throughput: {serial_tls / tls:.2f}")


def main():
    build, runs = arguments()
    mails = [make_mail(i) for i in range(COUNT)]
    with tempfile.TemporaryDirectory() as tmp:
        certs = make_certs(Path(tmp) / "certs")
        with DovecotTls(certs.good) as server:
            for mail in mails:
                server.put(mail)
            dovecot = measure(build, runs, server, server.port, server.tls_port, certs.ca)
        with MemoryPop3(mails) as plain, MemoryPop3(mails, tls=server_context(certs.good)) as secure:
            memory = measure(build, runs, plain, plain.port, secure.port, certs.ca)
    report("Dovecot (TLS in pop3-login, relayed from pop3):", dovecot)
    report("Memory server (TLS in the serving thread):", memory)


if __name__ == "__main__":
    main()

"""TLS for the tests: certificates made with openssl at test time, a Dovecot
with TLS, and a scripted server that records every byte it received.

    certs = make_certs(tmp_path)        # certs.ca, certs.good, certs.wrong_name, …
    with DovecotTls(certs.good) as server:
        server.port          # plain port: STLS offered, no login without TLS
        server.tls_port      # implicit TLS (pop3s)
"""
import re
import socket
import ssl
import subprocess
import threading
from dataclasses import dataclass
from pathlib import Path

from support.dovecot import Dovecot, free_port

EC = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
LOCAL_NAMES = "subjectAltName=DNS:localhost,IP:127.0.0.1"


@dataclass
class Cert:
    cert: Path
    key: Path


@dataclass
class Certs:
    ca: Path              # the trusted test CA (PEM)
    good: Cert            # localhost and 127.0.0.1, from the CA
    wrong_name: Cert      # mail.example.invalid, from the CA
    expired: Cert         # localhost, from the CA, no longer valid
    self_signed: Cert     # localhost, signed by itself
    foreign: Cert         # localhost, from a CA nobody trusts


def _openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True, timeout=60)


def _full_length_signature(cert: Path) -> bool:
    """Whether both ECDSA integers of the certificate's signature are full
    length. Wine's crypt32 rejects a signature whose r or s is shorter than
    the curve's 32 bytes (about one in 128), as if it were forged."""
    dump = subprocess.run(["openssl", "asn1parse", "-in", str(cert)], check=True, capture_output=True,
                          text=True).stdout.strip().splitlines()
    offset = dump[-1].split(":", 1)[0].strip()  # the signature's BIT STRING
    parts = subprocess.run(["openssl", "asn1parse", "-in", str(cert), "-strparse", offset], check=True,
                           capture_output=True, text=True).stdout
    lengths = [int(re.search(r" l=\s*(\d+)", line).group(1)) for line in parts.splitlines() if "INTEGER" in line]
    return len(lengths) == 2 and min(lengths) >= 32


def _signed(cert: Path, sign):
    """Runs `sign` (which writes `cert`) until Wine can verify the signature."""
    for _ in range(20):
        sign()
        if _full_length_signature(cert):
            return
    raise AssertionError(f"no full-length signature for {cert} in 20 tries")


def _ca(folder: Path, name: str) -> Cert:
    c = Cert(folder / f"{name}.pem", folder / f"{name}.key")
    _signed(c.cert, lambda: _openssl(
        "req", "-x509", *EC, "-keyout", c.key, "-out", c.cert, "-days", "2",
        "-subj", f"/CN=Quorvel {name}", "-addext", "basicConstraints=critical,CA:TRUE",
        "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=folder))
    return c


def _leaf(folder: Path, name: str, ca: Cert, san: str, days: str = "2") -> Cert:
    c = Cert(folder / f"{name}.pem", folder / f"{name}.key")
    csr = folder / f"{name}.csr"
    ext = folder / f"{name}.ext"
    ext.write_text(f"{san}\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n")
    _openssl("req", "-new", *EC, "-keyout", c.key, "-out", csr, "-subj", f"/CN={name}", cwd=folder)
    _signed(c.cert, lambda: _openssl(
        "x509", "-req", "-in", csr, "-CA", ca.cert, "-CAkey", ca.key, "-CAcreateserial",
        "-out", c.cert, "-days", days, "-extfile", ext, cwd=folder))
    return c


def make_certs(folder: Path) -> Certs:
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    ca = _ca(folder, "test-ca")
    other = _ca(folder, "other-ca")
    self_signed = Cert(folder / "self-signed.pem", folder / "self-signed.key")
    _signed(self_signed.cert, lambda: _openssl(
        "req", "-x509", *EC, "-keyout", self_signed.key, "-out", self_signed.cert, "-days", "2",
        "-subj", "/CN=localhost", "-addext", LOCAL_NAMES, cwd=folder))
    for c in (ca, other, self_signed):
        c.key.chmod(0o644)  # Dovecot reads keys as its own user
    certs = Certs(ca=ca.cert,
                  good=_leaf(folder, "localhost", ca, LOCAL_NAMES),
                  wrong_name=_leaf(folder, "wrong-name", ca, "subjectAltName=DNS:mail.example.invalid"),
                  expired=_leaf(folder, "expired", ca, LOCAL_NAMES, days="-1"),
                  self_signed=self_signed,
                  foreign=_leaf(folder, "foreign", other, LOCAL_NAMES))
    for c in (certs.good, certs.wrong_name, certs.expired, certs.foreign):
        c.key.chmod(0o644)
    return certs


class DovecotTls(Dovecot):
    """Dovecot with `ssl = required`: STLS/STARTTLS on the plain ports (no
    login before it), implicit TLS on tls_port (POP3S) and imaps_port."""

    def __init__(self, cert: Cert, **kw):
        super().__init__(**kw)
        self.cert = cert
        self.tls_port = 0
        self.imaps_port = 0

    def config_text(self) -> str:
        self.tls_port = free_port()
        self.imaps_port = free_port()
        text = super().config_text()
        text = text.replace("ssl = no\n", f"ssl = required\nssl_cert = <{self.cert.cert}\n"
                                          f"ssl_key = <{self.cert.key}\nssl_min_protocol = TLSv1.2\n")
        text = text.replace("disable_plaintext_auth = no", "disable_plaintext_auth = yes")
        text = text.replace("  inet_listener imaps {\n    port = 0\n",
                            f"  inet_listener imaps {{\n    address = 127.0.0.1\n    port = {self.imaps_port}\n    ssl = yes\n")
        return text.replace("  inet_listener pop3s {\n    port = 0\n",
                            f"  inet_listener pop3s {{\n    address = 127.0.0.1\n    port = {self.tls_port}\n    ssl = yes\n")


def server_context(cert: Cert) -> ssl.SSLContext:
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(cert.cert, cert.key)
    return ctx


class ScriptedServer:
    """A one-connection server (POP3 or SMTP) for the failure cases. `script(conn, srv)`
    runs the dialogue; every byte read through srv.read_line() or
    srv.recv() is kept in srv.received (plaintext and decrypted)."""

    def __init__(self, script):
        self.script = script
        self.received = b""
        self.error = None
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(1)
        self.port = self.listener.getsockname()[1]
        self.thread = threading.Thread(target=self._run, daemon=True)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.listener.close()
        self.thread.join(30)

    def _run(self):
        try:
            self.listener.settimeout(30)
            conn, _ = self.listener.accept()
            conn.settimeout(20)
            with conn:
                self.script(conn, self)
        except Exception as e:  # noqa: BLE001 - the test reads it
            self.error = e

    def recv(self, conn) -> bytes:
        try:
            data = conn.recv(65536)
        except (OSError, ssl.SSLError):
            data = b""
        self.received += data
        return data

    def read_line(self, conn) -> bytes:
        """One line, read byte by byte so that nothing after it is taken."""
        line = b""
        while not line.endswith(b"\n"):
            try:
                data = conn.recv(1)
            except (OSError, ssl.SSLError):
                data = b""
            if not data:
                break
            line += data
        self.received += line
        return line

    def drain(self, conn):
        """Reads until the client closes (the test's proof of what was sent)."""
        while self.recv(conn):
            pass

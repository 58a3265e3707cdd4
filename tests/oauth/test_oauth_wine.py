"""The Windows builds with OAuth under Wine: signin.exe (WinHTTP with the
program's own certificate check, the token file sealed with DPAPI) through
the device flow against oidc-provider, then pop3check.exe and sendcheck.exe
(Sendry.dll) logging in to Dovecot with the access token."""
import re
import shutil
import time

import pytest

from sendlib.sendry_server import SmtpSink
from support import oidc, paths
from support.oidc import DovecotOAuth, IdentityProvider
from support.tls_servers import make_certs
from support.wine import winpath

pytestmark = pytest.mark.skipif(not oidc.installed(), reason="oidc-provider is not installed (scripts/setup)")

SIGNIN = paths.win("tools/oauth/signin.exe")
POP3CHECK = paths.win("tools/pop3/pop3check.exe")
SENDCHECK = paths.win("tools/sendlib/sendcheck.exe")
USER = "taro"


@pytest.fixture(scope="module")
def certs(tmp_path_factory):
    return make_certs(tmp_path_factory.mktemp("certs"))


def signin_args(idp, tmp_path, *extra):
    return ["--provider-file", winpath(idp.provider_file(tmp_path / "quorvel-oauth.ini")),
            "--tokens", winpath(tmp_path / "quorvel-token.dat"),
            "--access-token-out", winpath(tmp_path / "access_token"), *extra]


def test_device_sign_in_refresh_pop3_and_send_under_wine(wine, certs, tmp_path):
    shutil.copy(paths.win("src/sendlib/Sendry.dll"), tmp_path)
    with IdentityProvider(certs) as idp, SmtpSink(mechanisms=()) as sink, \
            DovecotOAuth(idp, relay_port=sink.port, user=USER) as dovecot:
        # Without the test CA WinHTTP's answer is refused by our check.
        rc, _, err = wine.run(SIGNIN, signin_args(idp, tmp_path), cwd=tmp_path, timeout=120)
        assert rc == 1 and "TLS" in err.decode("cp932"), err
        assert not (tmp_path / "quorvel-token.dat").exists()

        out = tmp_path / "signin.out"
        proc = wine.start(SIGNIN, signin_args(idp, tmp_path, "--trust", winpath(certs.ca)), cwd=tmp_path,
                          stdout=out, stderr=tmp_path / "signin.err")
        deadline = time.monotonic() + 60
        while not re.search(rb"user_code: (\S+)", out.read_bytes()):
            assert proc.poll() is None and time.monotonic() < deadline, (tmp_path / "signin.err").read_bytes()
            time.sleep(0.1)
        idp.approve_device(re.search(rb"user_code: (\S+)", out.read_bytes()).group(1).decode(), USER)
        assert proc.wait(60) == 0, (tmp_path / "signin.err").read_bytes()
        access = (tmp_path / "access_token").read_text().strip()
        sealed = (tmp_path / "quorvel-token.dat").read_bytes()
        assert sealed.startswith(b"QVTOKEN1") and access.encode() not in sealed and b"refresh=" not in sealed

        # A refresh through WinHTTP: the sealed file is opened, the rotated token saved.
        rc, stdout, err = wine.run(SIGNIN, signin_args(idp, tmp_path, "--trust", winpath(certs.ca), "--refresh",
                                                       "--force"), cwd=tmp_path, timeout=120)
        assert rc == 0 and stdout.strip() == b"refreshed", err
        assert (tmp_path / "quorvel-token.dat").read_bytes() != sealed
        fresh = (tmp_path / "access_token").read_text().strip()
        assert fresh != access

        dovecot.put(b"Subject: wine\r\n\r\nbody\r\n")
        for mechanism in ("xoauth2", "oauthbearer"):
            log = tmp_path / f"pop3-{mechanism}.log"
            rc, stdout, _ = wine.run(POP3CHECK, ["--server", "localhost", "--port", dovecot.port, "--user", USER,
                                                 "--bearer-file", winpath(tmp_path / "access_token"),
                                                 "--mechanism", mechanism, "--log", winpath(log)],
                                     cwd=tmp_path, timeout=120)
            text = log.read_bytes().decode("cp932")
            assert rc == 0 and f"> AUTH {mechanism.upper()}" in text, text
            rc, stdout, _ = wine.run(SENDCHECK, ["--server", "localhost", "--port", dovecot.submission_port,
                                                 "--user", USER, "--from", "taro@example.jp", "--to",
                                                 "hanako@example.jp", "--subject", mechanism, "--log",
                                                 "--bearer-file", winpath(tmp_path / "access_token"),
                                                 "--mechanism", mechanism], cwd=tmp_path, timeout=120)
            send_log = (tmp_path / "メール送信ログ.txt").read_bytes().decode("cp932")
            assert rc == 0 and f"AUTH {mechanism.upper()} ********" in send_log, send_log
            for t in (text, send_log):
                assert fresh not in t and access not in t
        assert len(sink.messages) == 2

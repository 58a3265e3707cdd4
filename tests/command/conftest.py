"""Fixtures of the command-mail tests: the reply SMTP server, and a station
that puts Quorvel, Dovecot, the SMTP server and the demo camera together
(shared_station: one for a whole module, for rows that do not disturb each
other).

    station.start(camera=True, replyImageWidth=-1)   # quorvel.ini made for the servers
    station.check("回転 スナップ返信")                 # delivers, then メール受信
    reply = station.smtp.wait_reply()
"""
import pytest

from support.camera import DemoCamera
from support.command_mail import deliver
from support.dovecot import Dovecot
from support.quorvel_app import CMD_RECEIVE, QuorvelApp, wait_until
from support.smtp import ReplyServer

@pytest.fixture
def smtp():
    with ReplyServer() as server:
        yield server


class Station:
    def __init__(self, quorvel, dovecot, smtp, camera):
        self.quorvel = quorvel
        self.dovecot = dovecot
        self.smtp = smtp
        self.camera = camera

    def settings(self, **values) -> dict:
        merged = dict(pop3Server="127.0.0.1", pop3Port=self.dovecot.port, accountName=self.dovecot.user,
                      password=self.dovecot.password, smtpServer="127.0.0.1", smtpPort=self.smtp.port)
        merged.update(values)
        return merged

    def start(self, camera=True, **values):
        self.quorvel.write_settings(**self.settings(**values))
        if camera:
            self.camera.start()
        self.quorvel.start()

    def check(self, *bodies, **fields):
        """Delivers one command mail per body, then starts a mail check."""
        for body in bodies:
            deliver(self.dovecot, body, **fields)
        self.quorvel.command(CMD_RECEIVE)

    def statuses(self) -> list:
        return [r[0] for r in self.quorvel.mail_list()["rows"]]

    def wait_statuses(self, expected: list, timeout=60.0, since=0) -> list:
        """Waits until the rows from `since` on have these statuses."""
        return wait_until(lambda: self.statuses()[since:] == expected and expected, timeout,
                          what=f"the statuses {expected} (now {self.statuses()[since:]})")

    def wait_logged(self, line: str, timeout=30.0):
        """Waits until 通信ログ.txt holds the line (a reply is logged only after
        its SMTP session has ended, so after the server already has it)."""
        wait_until(lambda: line in self.quorvel.comm_log_lines(), timeout, what=f"{line!r} in the log")

    def log_words(self, words) -> list:
        """The lines of 通信ログ.txt that are among words, in order."""
        return [line for line in self.quorvel.comm_log_lines() if line in set(words)]


@pytest.fixture
def station(quorvel, dovecot, smtp, wine, driver):
    s = Station(quorvel, dovecot, smtp, DemoCamera(wine, driver, quorvel.folder))
    yield s
    quorvel.stop()
    s.camera.stop()


@pytest.fixture(scope="module")
def shared_station(wine, driver, tmp_path_factory):
    """A station for every test of a module, not yet started."""
    quorvel = QuorvelApp(wine, driver, tmp_path_factory.mktemp("station") / "quorvel")
    with Dovecot() as dovecot, ReplyServer() as smtp:
        s = Station(quorvel, dovecot, smtp, DemoCamera(wine, driver, quorvel.folder))
        yield s
        quorvel.stop()
        s.camera.stop()

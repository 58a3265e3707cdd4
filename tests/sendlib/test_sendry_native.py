"""libSendry against a real SMTP server (aiosmtpd on 127.0.0.1)."""
import base64
import os
import re
import socket

import pytest
from aiosmtpd.smtp import SMTP

from sendry_request import (AUTH_OK, B64, BODY, FIELDS, TOKYO, assert_log, build_request,
                            check_decoded, check_message, check_stamp, dialogue_log, ehlo_reply,
                            now_in_tokyo, read_log, run_native)
from sendry_server import HOSTNAME, PASSWORD, USER, SmtpSink
from support.scripted_server import ScriptedServer


def test_helo_message_attachment_and_log_byte_for_byte(tmp_path):
    data = os.urandom(5000) + b"\0\r\n.\r\n"
    attachment = tmp_path / "snap.jpg"
    attachment.write_bytes(data)
    cc = ["cc1@quorvel.test", "gone@quorvel.test", "cc3@quorvel.test"]
    fields = dict(FIELDS, attachmentPath=str(attachment), deleteAttachment=1)
    with SmtpSink(refused_recipients={"gone@quorvel.test"}) as sink:
        codes = run_native(build_request(sink.port, cc=cc, **fields), tmp_path, env=TOKYO)
    assert codes == [0]
    assert not attachment.exists()
    assert [e.split()[0] for e in sink.events] == ["HELO", "MAIL", "RCPT", "RCPT", "RCPT", "RCPT",
                                                   "DATA", "QUIT"]
    [message] = sink.messages
    assert message.mail_from == "bot@quorvel.test"
    assert message.rcpt_tos == ["user@quorvel.test", "cc1@quorvel.test", "cc3@quorvel.test"]
    mid, date = check_message(message.content, fields, cc, (b"snap.jpg", data))
    check_decoded(message.content, BODY, (b"snap.jpg", data))
    check_stamp(mid, date, "JST", now_in_tokyo())
    assert mid.group(8) == socket.gethostname().encode()  # the socket layer's name, as it is
    assert_log(read_log(tmp_path),
               dialogue_log(fields, [b"HELO PC01", b"250 sink.quorvel.test"], cc,
                            {"gone@quorvel.test"}, (b"snap.jpg", data)))


def test_counter_twenty_cc_and_long_body_without_attachment(tmp_path):
    cc = [f"cc{i}@quorvel.test" for i in range(20)]
    body = (bytes(range(1, 256)) * 41)[:10239]  # the longest the field holds
    fields = dict(FIELDS, subject="plain subject", fromName="", body=body)
    with SmtpSink() as sink:
        codes = run_native(build_request(sink.port, cc=cc, **fields), tmp_path, count=2, env=TOKYO)
    assert codes == [0, 0]
    first, second = sink.messages
    assert first.rcpt_tos == ["user@quorvel.test"] + cc
    counters = []
    for m in (first, second):
        mid, date = check_message(m.content, fields, cc)
        check_decoded(m.content, body)
        counters.append(int(mid.group(7)))
    assert counters[1] == counters[0] + 1


AUTH_CASES = {
    # advertised (in order), options, entries from EHLO to the end of authentication
    "cram-md5 wins": ("LOGIN PLAIN CRAM-MD5", {}, [
        b"AUTH CRAM-MD5", re.compile(rb"334 " + B64), re.compile(B64), AUTH_OK]),
    "login over plain": ("PLAIN LOGIN", {}, [
        b"AUTH LOGIN", b"334 " + base64.b64encode(SMTP.AuthLoginUsernameChallenge.encode()),
        base64.b64encode(USER), b"334 " + base64.b64encode(SMTP.AuthLoginPasswordChallenge.encode()),
        b"********", AUTH_OK]),  # the send log never holds the password
    "plain": ("PLAIN", {}, [
        b"AUTH PLAIN ********", AUTH_OK]),
    "plain retried after 535": ("PLAIN", {"refuse_first_plain": True}, [
        b"AUTH PLAIN ********",
        b"535 5.7.8 Authentication credentials invalid",
        b"AUTH PLAIN ********", AUTH_OK]),
}


@pytest.mark.parametrize("case", AUTH_CASES)
def test_authentication(tmp_path, case):
    advertised, options, entries = AUTH_CASES[case]
    fields = dict(FIELDS, useAuth=1)
    with SmtpSink(mechanisms=tuple(advertised.split()), auth_required=True, **options) as sink:
        assert run_native(build_request(sink.port, **fields), tmp_path) == [0]
    assert [a.ok for a in sink.auth][-1]
    mechanism = entries[0].split()[1].decode()
    assert {a.mechanism for a in sink.auth} == {mechanism}
    if case == "plain retried after 535":
        assert [a.data for a in sink.auth] == [USER + b"\0" + USER + b"\0" + PASSWORD,
                                               USER + b"\0" + PASSWORD]
    [message] = sink.messages
    check_message(message.content, fields)
    assert_log(read_log(tmp_path),
               dialogue_log(fields, [b"EHLO PC01", ehlo_reply(advertised), *entries]))


def test_refusals_end_the_call_with_4(tmp_path):
    cases = [
        # sink options, request fields, server events, last log entries before the end code
        (dict(mechanisms=("CRAM-MD5",), auth_required=True), dict(useAuth=1, password="wrong"),
         ["EHLO", "AUTH", "QUIT"], ["認証失敗", "QUIT", "221 Bye"]),
        (dict(mechanisms=("PLAIN",), auth_required=True), dict(useAuth=1, password="wrong"),
         ["EHLO", "AUTH", "AUTH", "QUIT"],
         ["535 5.7.8 Authentication credentials invalid", "認証失敗", "QUIT", "221 Bye"]),
        # A refused LOGIN ends without a message and without QUIT.
        (dict(mechanisms=("LOGIN",), auth_required=True), dict(useAuth=1, password="wrong"),
         ["EHLO", "AUTH"], ["535 5.7.8 Authentication credentials invalid"]),
        (dict(mechanisms=(), auth_required=True), dict(useAuth=1), ["EHLO"],
         ["使用できる認証形式(CRAM-MD5/LOGIN/PLAIN)がサーバに用意されていません。"]),
        (dict(auth_required=True), dict(useAuth=0), ["HELO"],
         ["530 5.7.0 Authentication required"]),
        (dict(refuse_message=True), {}, ["HELO", "MAIL", "RCPT", "DATA"],
         [".", "554 5.6.0 Message refused"]),
    ]
    for options, request_fields, events, tail in cases:
        with SmtpSink(**options) as sink:
            codes = run_native(build_request(sink.port, **dict(FIELDS, **request_fields)), tmp_path)
        assert codes == [4], options
        assert [e.split()[0] for e in sink.events] == events
        log = read_log(tmp_path)
        assert log[-1] == "送信終了コード:  4".encode("cp932")
        assert log[-1 - len(tail):-1] == [t.encode("cp932") for t in tail]


def test_server_closing_after_greeting_and_missing_attachment(tmp_path):
    attachment = tmp_path / "snap.jpg"
    attachment.write_bytes(b"JPEG")
    fields = dict(FIELDS, attachmentPath=str(attachment), deleteAttachment=1)
    with ScriptedServer([(None, b"220 " + HOSTNAME.encode() + b" ready\r\n")]) as server:
        assert run_native(build_request(server.port, **fields), tmp_path) == [4]
    assert not attachment.exists()  # deleted also after a failed send
    assert read_log(tmp_path) == [b"220 sink.quorvel.test ready", b"HELO PC01",
                                  "応答なし".encode("cp932"), "送信終了コード:  4".encode("cp932")]

    with SmtpSink() as sink:
        assert run_native(build_request(sink.port, **fields), tmp_path) == [1]
    assert sink.connections == 0
    assert read_log(tmp_path) == [str(attachment).encode() + b" 0",
                                  "添付ファイルサイズ異常".encode("cp932")]


def test_line_breaks_in_fields_cannot_add_commands_or_lines(tmp_path):
    cc = ["cc@quorvel.test\r\nRCPT To: victim@quorvel.test"]
    fields = dict(FIELDS, subject="Re:x\r\n.\r\nRSET")
    with SmtpSink() as sink:
        assert run_native(build_request(sink.port, cc=cc, **fields), tmp_path) == [0]
    assert not any("victim" in e or "RSET" in e for e in sink.events)
    [message] = sink.messages
    assert message.rcpt_tos == ["user@quorvel.test"]  # the mangled further recipient is refused
    check_message(message.content, dict(fields, subject="Re:x  .  RSET"),
                  ["cc@quorvel.test  RCPT To: victim@quorvel.test"])

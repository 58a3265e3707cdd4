"""libPostrix against a real SMTP server (aiosmtpd on 127.0.0.1)."""
import base64
import email
import os
import socket

import pytest

from postrix_request import (CORNERS, FIELDS, attachment, build_request, close_to, corner_colours,
                             decode_jpeg, in_order, message_lines, read_log, run_native, write_bmp)
from sendry_server import CloseAt, SmtpSink


def test_converted_picture_names_recipients_and_log(tmp_path):
    picture = write_bmp(tmp_path / "photo.BMP")
    cc = ["cc1@quorvel.test", "gone@quorvel.test"]
    fields = dict(FIELDS, attachmentPath=str(picture), imageWidth=320)
    with SmtpSink(refused_recipients={"gone@quorvel.test"}) as sink:
        assert run_native(build_request(sink.port, cc=cc, **fields), tmp_path) == 0
    assert [e.split()[0] for e in sink.events] == ["HELO", "MAIL", "RCPT", "RCPT", "RCPT", "DATA", "QUIT"]
    [message] = sink.messages
    assert message.rcpt_tos == ["user@quorvel.test", "cc1@quorvel.test"]
    name = b"=?Shift_JIS?B?" + base64.b64encode(FIELDS["fromName"].encode("cp932")) + b"?="
    lines = message_lines(message.content)
    for header in (b"From:" + name + b"<bot@quorvel.test>", b"To:" + name + b"<user@quorvel.test>",
                   b"Cc:" + name + b"<cc1@quorvel.test>", b"Cc:" + name + b"<gone@quorvel.test>"):
        assert header in lines
    assert any(line.endswith(b"@" + socket.gethostname().encode() + b">") for line in lines
               if line.startswith(b"Message-ID: "))
    headers, data, data_lines = attachment(message.content)
    assert headers == [b'Content-Type: text/plain; Name="photo.jpg"', b"Content-Transfer-Encoding: Base64",
                       b'Content-Disposition: attachment; filename="photo.jpg"']
    assert {len(line) for line in data_lines[:-1]} == {76} and 0 < len(data_lines[-1]) <= 76
    width, height, rgb = decode_jpeg(data, tmp_path)
    assert (width, height) == (320, 240)
    assert close_to(corner_colours(width, height, rgb), CORNERS)
    assert picture.exists()
    log = read_log(tmp_path)
    # Every entry one line ending in CR LF, also those that bring their own.
    assert in_order(log, [b"220 ", b"HELO PC01\r\n", b"Mail From: bot@quorvel.test\r\n2", b"354 ",
                          b"To:" + name + b"<user@quorvel.test>\r\nCc:",
                          b'Content-Disposition: attachment; filename="photo.jpg"\r\n\r\n', b".\r\n",
                          b"QUIT\r\n", b"221 Bye\r\n"])
    assert b"\r\r" not in log and b"\n\n" not in log and b"\n" not in log.replace(b"\r\n", b"")
    assert log.endswith(b"221 Bye\r\n") and data_lines[0] not in log


@pytest.mark.parametrize("as_is", [dict(imageWidth=0), dict(imageWidth=320, sendFileAsIs=1)])
def test_file_attached_unchanged_under_a_jpg_name(tmp_path, as_is):
    data = os.urandom(4000)
    (tmp_path / "clip.bmp").write_bytes(data)
    with SmtpSink() as sink:
        fields = dict(FIELDS, attachmentPath=str(tmp_path / "clip.bmp"), **as_is)
        assert run_native(build_request(sink.port, **fields), tmp_path) == 0
    headers, attached, _ = attachment(sink.messages[0].content)
    assert headers[0] == b'Content-Type: text/plain; Name="clip.jpg"'
    assert attached == data


def test_failures_before_the_connection(tmp_path):
    write_bmp(tmp_path / "p.png", 8, 8)
    (tmp_path / "empty.jpg").write_bytes(b"")
    long_path = str(tmp_path / ("x" * (259 - len(str(tmp_path)) - 5))) + ".bmp"
    rows = [  # fields, code
        (dict(attachmentPath=str(tmp_path / "p.png"), imageWidth=320), 2),
        (dict(attachmentPath=str(tmp_path / "missing.bmp"), imageWidth=0), 1),
        (dict(attachmentPath=str(tmp_path / "empty.jpg"), sendFileAsIs=1), 1),
        (dict(attachmentPath=long_path, imageWidth=0), 1),
        (dict(attachmentPath="", imageWidth=0), 1),
    ]
    assert len(long_path.encode()) == 259
    for fields, code in rows:
        with SmtpSink() as sink:
            assert run_native(build_request(sink.port, **dict(FIELDS, **fields)), tmp_path) == code, fields
        assert sink.connections == 0
        assert read_log(tmp_path) is None


def test_refusals_and_bare_recipient_lines(tmp_path):
    picture = write_bmp(tmp_path / "p.bmp", 64, 48)
    fields = dict(FIELDS, attachmentPath=str(picture), imageWidth=32, fromName="")
    with SmtpSink(refused_recipients={"user@quorvel.test"}) as sink:
        assert run_native(build_request(sink.port, cc=["cc@quorvel.test"], **fields), tmp_path) == 106
    assert sink.messages == []
    with SmtpSink() as sink:
        assert run_native(build_request(sink.port, cc=["cc@quorvel.test"], **fields), tmp_path) == 0
    lines = message_lines(sink.messages[0].content)
    assert [b"From:<bot@quorvel.test>", b"To:<user@quorvel.test>", b"Cc:<cc@quorvel.test>"] == lines[2:5]


def test_record_without_nul_and_cc_count_out_of_range(tmp_path):
    picture = write_bmp(tmp_path / "p.bmp", 64, 48)
    cc = [f"cc{i}@quorvel.test" for i in range(20)]
    full = dict(FIELDS, attachmentPath=str(picture), imageWidth=32, subject=b"s" * 256, body=b"b" * 1024)
    rows = [(-1, 0), (21, 20)]  # ccCount, further recipients used
    for count, used in rows:
        with SmtpSink() as sink:
            assert run_native(build_request(sink.port, cc=cc, ccCount=count, **full), tmp_path) == 0
        [message] = sink.messages
        assert len(message.rcpt_tos) == 1 + used
        assert b"Subject:" + b"s" * 256 in message_lines(message.content)
        text = email.message_from_bytes(message.content).get_payload()[0]
        assert text.get_payload(decode=True) == b"b" * 1024


def test_server_closing_at_a_chosen_point(tmp_path):
    big = tmp_path / "big.bin"
    big.write_bytes(os.urandom(6 * 1024 * 1024))  # far more than the socket buffers hold
    small = write_bmp(tmp_path / "p.bmp", 64, 48)
    rows = [  # marker, its count, the attachment, code
        (b"Mail From", 1, small, 103), (b"RCPT", 2, small, 107), (b"DATA", 1, small, 108),
        # The 1000th line is deep inside the 6 MB attachment: the reset comes
        # while the data is still being sent, whatever the timing.
        (b"", 1000, big, 131), (b".", 1, small, 134), (b"QUIT", 1, small, 135),
    ]
    for marker, count, path, code in rows:
        fields = dict(FIELDS, attachmentPath=str(path), imageWidth=0)
        with CloseAt(marker, count) as server:
            assert run_native(build_request(server.port, cc=["cc@quorvel.test"], **fields), tmp_path) == code, marker

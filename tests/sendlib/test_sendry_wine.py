"""Sendry.dll under Wine: bound by name through both exports, it sends the
same message as the native library."""
import os
import shutil

from sendry_request import (FIELDS, assert_log, build_request, check_decoded, check_message,
                            dialogue_log, read_log, sjis)
from sendry_server import SmtpSink
from support import paths


def test_dll_sends_through_both_export_names(wine, tmp_path):
    for built in ("src/sendlib/Sendry.dll", "tests/sendlib/sendry_dll_client.exe"):
        shutil.copy(paths.win(built), tmp_path)
    # 表 and ソ end in the byte of "\" in Shift_JIS.
    name = "表示ソ.jpg"
    data = os.urandom(3000)
    (tmp_path / name).write_bytes(data)
    windows_path = "Z:" + str(tmp_path / name).replace("/", "\\")
    fields = dict(FIELDS, attachmentPath=windows_path, heloName="WINEPC")
    with SmtpSink() as sink:
        (tmp_path / "request.bin").write_bytes(build_request(sink.port, **fields))
        # Under ja_JP.UTF-8, which Wine needs for the Japanese name of the send log.
        rc, out, _ = wine.run(tmp_path / "sendry_dll_client.exe", ["request.bin"], cwd=tmp_path)
    assert rc == 0
    assert out.split() == [b"same", b"0", b"0"]
    attachment = (sjis(name), data)
    counters = []
    for message in sink.messages:
        assert message.rcpt_tos == ["user@quorvel.test"]
        message_id, date = check_message(message.content, fields, attachment=attachment)
        check_decoded(message.content, fields["body"], attachment)
        counters.append(int(message_id.group(7)))
    assert len(counters) == 2 and counters[1] == counters[0] + 1
    assert (tmp_path / name).exists()
    assert_log(read_log(tmp_path),
               dialogue_log(fields, [b"HELO WINEPC", b"250 sink.quorvel.test"],
                            attachment=attachment))

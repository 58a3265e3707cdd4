"""Postrix.dll under Wine: loaded by name, it converts a picture through
Imgvane.dll and sends it; its log is written in text mode."""
import shutil

from postrix_request import (CORNERS, FIELDS, attachment, build_request, close_to, corner_colours,
                             decode_jpeg, read_log, write_bmp)
from sendry_server import SmtpSink
from support import paths
from support.wine import winpath


def test_dll_loaded_by_name_sends_a_converted_picture(wine, tmp_path):
    for built in ("src/sendlib/image/Postrix.dll", "src/image/imgvane/Imgvane.dll",
                  "tests/sendlib/postrix_client.exe"):
        shutil.copy(paths.win(built), tmp_path)
    picture = write_bmp(tmp_path / "写真.bmp")
    fields = dict(FIELDS, attachmentPath=winpath(picture), imageWidth=320, heloName="WINEPC")
    with SmtpSink() as sink:
        (tmp_path / "request.bin").write_bytes(build_request(sink.port, **fields))
        rc, out, _ = wine.run(tmp_path / "postrix_client.exe", ["request.bin"], cwd=tmp_path)
    assert rc == 0
    assert out.split() == [b"same", b"0"]
    [message] = sink.messages
    headers, data, _ = attachment(message.content)
    assert headers[0] == b'Content-Type: text/plain; Name="' + "写真.jpg".encode("cp932") + b'"'
    width, height, rgb = decode_jpeg(data, tmp_path)
    assert (width, height) == (320, 240)
    assert close_to(corner_colours(width, height, rgb), CORNERS)
    log = read_log(tmp_path)
    assert log.startswith(b"220 ") and b"HELO WINEPC\r\n" in log and log.endswith(b"221 Bye\r\n")

"""utf8ToShiftJis gives the same bytes natively (iconv) and on Windows
(WideCharToMultiByte), on kana, kanji, symbols and characters outside code
page 932."""
import subprocess

from support import paths


def test_native_and_windows_utf8_to_shift_jis_agree(wine):
    native = subprocess.run([paths.native("tests/mime/mime_sjis_probe")], check=True,
                            capture_output=True).stdout.decode().split()
    rc, out, _ = wine.run(paths.win("tests/mime/mime_sjis_probe.exe"))
    assert rc == 0
    assert out.decode().split() == native
    assert len(native) == 6
    assert native[0].startswith("82D082E782AA82C8")  # ひらがな
    assert "835C" in native[1] and "955C" in native[1]  # ソ and 表 (second byte 0x5C)
    # é € 한 국 어 中文 Ω ж 😀: unmapped ones are single spaces, 中文 Ω ж map.
    assert native[4] == "2020202020" + "928695B6" + "83B6" + "8477" + "20"

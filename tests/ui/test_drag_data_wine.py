"""The drag-out data object under Wine (a real drag out of the list cannot
be driven there): CF_TEXT then CF_HDROP, copies handed out, the path intact
whatever the ANSI code page."""
import pytest

from support import paths


@pytest.mark.parametrize("lang", ["ja_JP.UTF-8", "en_US.UTF-8"])
def test_drag_data_object(wine, lang):
    rc, out, _ = wine.run(paths.win("tests/ui/drag_data_probe.exe"), lang=lang)
    text = out.decode("cp932", "replace").replace("\r\n", "\n")
    assert rc == 0, text
    for name in ("created", "formats in order", "copies handed out", "text", "file list", "no other format"):
        assert f"ok {name}\n" in text, text

"""The Zone.Identifier mark under Wine. Wine's drives report no alternate
data streams (and would store "name:Zone.Identifier" as a second file that
outlives the first), so nothing is written and the saved file stays alone."""
import shutil
import tempfile
from pathlib import Path

from support import paths
from support.wine import winpath


def test_mark_is_skipped_where_the_volume_has_no_streams(wine):
    folder = Path(tempfile.mkdtemp(prefix="quorvel-zone-"))
    try:
        rc, out, _ = wine.run(paths.win("tests/platform/zone_probe.exe"), [winpath(folder)])
        assert rc == 0
        assert out.decode().split() == ["mark", "0", "missing", "0"]
        assert [p.name for p in folder.iterdir()] == ["添付.txt"]
        assert (folder / "添付.txt").read_bytes() == b"data"
    finally:
        shutil.rmtree(folder, ignore_errors=True)

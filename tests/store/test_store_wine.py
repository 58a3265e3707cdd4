"""The mail store on Windows: Japanese folder names, truncation, atomic
replacement, moving and the recycle bin, under Wine."""
import shutil
import tempfile
from pathlib import Path

from support import paths
from support.wine import winpath


def test_store_on_windows_paths(wine):
    base = Path(tempfile.mkdtemp(prefix="quorvel-store-"))
    trash = wine.home / ".local" / "share" / "Trash"
    (trash / "files").mkdir(parents=True, exist_ok=True)  # else Wine deletes for good
    (trash / "info").mkdir(parents=True, exist_ok=True)
    try:
        rc, out, _ = wine.run(paths.win("tests/store/store_probe.exe"),
                              [winpath(base).encode("cp932").hex()], cwd=base)
        text = out.decode("cp932", "replace")
        assert rc == 0, text
        for name in ("append", "cut mail", "compact", "compacted log", "rebuilt after compaction",
                     "trim", "move", "moved files", "recycle", "deletion error text"):
            assert f"ok {name}\n" in text.replace("\r\n", "\n"), text
        recycled = [p.name for p in (trash / "files").iterdir()]
        assert any(n.startswith("件名9(") and n.endswith(".eml") for n in recycled), recycled
        assert not list((base / "移動先").glob("*.eml"))
    finally:
        shutil.rmtree(base, ignore_errors=True)

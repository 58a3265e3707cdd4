"""Quorvel.chm as the Windows build makes it: every page of help/ is in it,
the contents and the links lead to pages that are there, and the text is
Shift_JIS as its Japanese language says."""
import os
import re
import shutil
import struct
import subprocess
import sys

import pytest

from support import paths

HELP = paths.ROOT / "help"
CHM = paths.win("Quorvel.chm")
MAKE_CHM = HELP / "make_chm.py"


@pytest.fixture(scope="module")
def chm():
    if not CHM.exists():
        pytest.fail(f"{CHM} is not built (scripts/build)")
    return CHM


def chmls(*args) -> bytes:
    return subprocess.run(["chmls", *map(str, args)], check=True, capture_output=True,
                          stdin=subprocess.DEVNULL, timeout=60).stdout


def extract(chm_file, name, tmp_path) -> bytes:
    out = tmp_path / name.strip("/").replace("/", "_")
    chmls("extract", chm_file, name, out)
    return out.read_bytes()


def test_lists_every_page_and_nothing_else(chm):
    listed = {line.strip().lstrip("/") for line in chmls("-n", "list", chm).decode().splitlines()}
    sources = {p.name for p in HELP.iterdir() if p.suffix in (".html", ".css", ".hhc", ".hhk")}
    assert sources <= listed
    pages = {n for n in listed if n.endswith(".html") and "/" not in n}
    assert pages == {p.name for p in HELP.glob("*.html")}


def test_contents_and_links_lead_to_pages_in_the_file(chm, tmp_path):
    listed = {line.strip().lstrip("/") for line in chmls("-n", "list", chm).decode().splitlines()}
    toc = extract(chm, "/toc.hhc", tmp_path).decode("cp932")
    contents = re.findall(r'name="Local" value="([^"]+)"', toc)
    # Every page can be reached from the contents, each once.
    assert sorted(contents) == sorted(n for n in listed if n.endswith(".html"))
    for page in contents:
        text = extract(chm, "/" + page, tmp_path).decode("cp932")
        assert 'charset=Shift_JIS"' in text, page
        assert re.search(r"<title>[^<]+</title>", text), page
        for target in re.findall(r'(?:href|src)="([^"#:]+)', text):
            assert target in listed, f"{page} links to {target}, which is not in the file"


def test_language_is_japanese(chm, tmp_path):
    system = extract(chm, "/#SYSTEM", tmp_path)
    entries, offset = {}, 4  # a version, then (code, length, data) records
    while offset + 4 <= len(system):
        code, length = struct.unpack_from("<HH", system, offset)
        entries[code] = system[offset + 4:offset + 4 + length]
        offset += 4 + length
    assert struct.unpack_from("<I", entries[4])[0] == 0x0411  # LCID: the viewer reads Shift_JIS
    assert entries[3].rstrip(b"\0") == b"Quorvel"  # the title, read in the system's code page


BROKEN_BUILDS = {
    # A character Shift_JIS cannot carry would be garbled in the viewer.
    "text without a Shift_JIS form": ("index.html", lambda t: t.replace("</body>", "\u2603</body>"),
                                      None, "has no Shift_JIS form"),
    "a page missing": ("menu.html", None, None, "chmcmd failed"),
    "chmcmd missing": (None, None, "", "chmcmd is missing"),
}


@pytest.mark.parametrize("case", BROKEN_BUILDS)
def test_a_broken_build_fails_loudly(case, tmp_path):
    name, change, path, message = BROKEN_BUILDS[case]
    source = tmp_path / "help"
    shutil.copytree(HELP, source)
    if name and change:
        page = source / name
        page.write_text(change(page.read_text(encoding="utf-8")), encoding="utf-8")
    elif name:
        (source / name).unlink()
    env = dict(os.environ, PATH=path if path is not None else os.environ["PATH"])
    done = subprocess.run([sys.executable, str(MAKE_CHM), source, tmp_path / "work", tmp_path / "out.chm"],
                          capture_output=True, env=env, timeout=120)
    assert done.returncode == 1 and message in done.stderr.decode()
    assert not (tmp_path / "out.chm").exists()

#!/usr/bin/env python3
"""Builds Quorvel.chm from the UTF-8 sources of this folder.

    make_chm.py SOURCE_DIR WORK_DIR OUTPUT

The sources are UTF-8 and say so; the help viewer reads the table of
contents and the index in the code page of the help file's language
(Japanese: Shift_JIS), so every file is converted to Shift_JIS, and its
charset declaration with it, before chmcmd compiles the project. The title
(Quorvel.hhp) stays ASCII: the viewer reads it in the system's code page,
which need not be Japanese.
Prints nothing unless something fails; then it says what and exits 1.
"""
import re
import shutil
import subprocess
import sys
from pathlib import Path

PROJECT = "Quorvel.hhp"
TEXT_SUFFIXES = {".hhp", ".hhc", ".hhk", ".html", ".css"}
CHARSET = re.compile(r"charset=UTF-8", re.IGNORECASE)


def fail(message: str):
    print(f"make_chm: {message}", file=sys.stderr)
    sys.exit(1)


def main():
    if len(sys.argv) != 4:
        fail("usage: make_chm.py SOURCE_DIR WORK_DIR OUTPUT")
    source, work, output = Path(sys.argv[1]), Path(sys.argv[2]), Path(sys.argv[3])
    chmcmd = shutil.which("chmcmd")
    if not chmcmd:
        fail("chmcmd is missing (Debian package fp-utils)")
    if work.exists():
        shutil.rmtree(work)
    work.mkdir(parents=True)
    for path in sorted(source.iterdir()):
        if path.suffix not in TEXT_SUFFIXES:
            continue
        text = path.read_text(encoding="utf-8")
        try:
            data = CHARSET.sub("charset=Shift_JIS", text).replace("\n", "\r\n").encode("cp932")
        except UnicodeEncodeError as e:
            fail(f"{path.name}: {text[e.start:e.end]!r} has no Shift_JIS form")
        (work / path.name).write_bytes(data)
    done = subprocess.run([chmcmd, "--no-html-scan", PROJECT], cwd=work, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    built = work / "Quorvel.chm"
    log = done.stdout.decode("cp932", errors="replace")
    # chmcmd also ends with 0 after some errors: its log and the file decide.
    if done.returncode != 0 or not built.exists() or re.search(r"^\s*Error", log, re.MULTILINE | re.IGNORECASE):
        sys.stderr.write(log)
        fail(f"chmcmd failed (exit {done.returncode})")
    output.parent.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(built, output)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes the portable zip: the given files in one folder, no installer.

    make_zip.py OUT.zip FOLDER_NAME FILE...

Python's zipfile marks a non-ASCII name as UTF-8 (flag bit 11), so Windows
reads Japanese names right; Debian's zip would leave them to be read as
cp932. Entries are sorted and dated by their files, so the same files give
the same zip."""
import sys
import time
import zipfile
from pathlib import Path


def main(argv) -> int:
    if len(argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    out, folder, files = Path(argv[1]), argv[2], [Path(f) for f in argv[3:]]
    tmp = out.with_suffix(".tmp")
    with zipfile.ZipFile(tmp, "w", compression=zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        for f in sorted(files, key=lambda p: p.name.lower()):
            info = zipfile.ZipInfo(f"{folder}/{f.name}", date_time=time.localtime(f.stat().st_mtime)[:6])
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            z.writestr(info, f.read_bytes())
    tmp.replace(out)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

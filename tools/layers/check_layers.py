#!/usr/bin/env python3
"""Fails when a file under src/ includes a header of a room above its own.

Rooms of one rank may not include each other either; a room includes its
own headers and those of lower ranks only.
"""
import re
import sys
from pathlib import Path

RANKS = {
    "platform": 0,
    "config": 1, "commlog": 1,
    "mime": 2, "image": 2, "oauth": 2,
    "pop3": 3, "imap": 3, "sendlib": 3,
    "spam": 4, "store": 4, "command": 4,
    "check": 5, "ui": 5, "motion": 5,
    "app": 6, "daemon": 6,
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z0-9]+)/', re.M)


def violations(src: Path):
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp", ".inc", ".rc") or not path.is_file():
            continue
        room = path.relative_to(src).parts[0]
        if room not in RANKS:
            yield f"{path}: room '{room}' has no rank"
            continue
        text = path.read_text(encoding="utf-8", errors="replace")
        for target in INCLUDE.findall(text):
            if target == room or target not in RANKS:
                continue
            if RANKS[target] >= RANKS[room]:
                yield f"{path}: {room} includes {target}/"


def main() -> int:
    src = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parents[2] / "src"
    found = list(violations(src))
    for line in found:
        print(line)
    print(f"{len(found)} include(s) against the layering")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())

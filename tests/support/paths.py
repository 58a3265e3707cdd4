"""Where the tests find the project's build outputs."""
import os
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
# Absolute, so that programs started in another working folder still find them.
NATIVE = Path(os.environ.get("QUORVEL_BUILD_NATIVE", ROOT / "build" / "native")).resolve()
WIN = Path(os.environ.get("QUORVEL_BUILD_WIN", ROOT / "build" / "win")).resolve()
PYTHON = "/usr/bin/python3"  # Debian's, which has aiosmtpd


def native(rel: str) -> Path:
    return NATIVE / rel


def win(rel: str) -> Path:
    return WIN / rel

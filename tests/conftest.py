"""Fixtures shared by the integration and end-to-end tests."""
import sys
import tempfile
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

from support.wine import Wine  # noqa: E402


@pytest.fixture(scope="session")
def wine():
    """One Wine prefix for the whole test run."""
    w = Wine(Path(tempfile.mkdtemp(prefix="quorvel-wine-")))
    w.boot()
    yield w
    w.close()

"""The communication log as the end-to-end tests read it. The exact wording
of a session is asserted once, by the native POP3 tests; end to end a test
checks that the right lines come in the right order."""
from pathlib import Path

CLOSING = "POPサーバ通信を切断しました\r---------------------------"


def read_lines(path: Path) -> list:
    """The log decoded from Shift_JIS, split at CR LF (a lone CR stays inside
    a line); asserts that it ends with a line end."""
    if not path.exists():
        return []
    lines = path.read_bytes().decode("cp932").split("\r\n")
    assert lines[-1] == "", "the log ends with a line end"
    return lines[:-1]


def assert_in_order(lines, expected):
    """expected is a subsequence of lines (each matched exactly, or by a predicate)."""
    at = 0
    for want in expected:
        while at < len(lines) and not (want(lines[at]) if callable(want) else lines[at] == want):
            at += 1
        assert at < len(lines), f"{want!r} missing (in order) from {lines}"
        at += 1

"""The tests' builder of quorvel.ini (support/settings.py)."""
import struct

import pytest

from support import settings


def test_fields_tile_the_4620_byte_record():
    widths = {"text": 1, "u16": 2, "i32": 4, "keys": 80, "bytes": 1}
    at = 0
    for name, (offset, kind, n) in settings.FIELDS.items():
        assert offset == at, name
        at += widths[kind] * n
    assert at == settings.SIZE == 4620


def test_default_record_bytes():
    r = settings.build(mail_log_folder="Z:\\work")
    assert len(r) == 4620
    assert r[0:8] == b"Quorvel\0" and r[340:348] == b"Z:\\work\0"
    assert struct.unpack_from("<HHiiiii", r, 908) == (110, 25, 10, 0, 30, -1, -1)
    assert r[1064:1072] == b"Vistrel\0"
    assert struct.unpack_from("<8i", r, 1508) == (50, 80, 200, 120, 120, 120, 120, 120)
    assert r[1540:1546] == "VT起動".encode("cp932") and r[1546] == 0
    assert r[1540 + 24 * 80:1540 + 25 * 80] == bytes(80)
    assert r[3620:] == bytes(1000)


@pytest.mark.parametrize("field, value, stored", [
    ("pop3Server", "127.0.0.1", "127.0.0.1"),
    ("accountName", "a" * 100, "a" * 79),                  # cut to width less one
    ("cameraName", "カメラ" * 10, ("カメラ" * 10).encode("cp932")[:21].decode("cp932", "replace")),
    ("pop3Port", 0, 0),
    ("splitterPosition", 300, 300),
    ("spamRules", [1] * 24, [1] * 24),
    ("windowPlacement", [44, 0, 1, -1, -1, -1, -1, 0, 0, 800, 600], [44, 0, 1, -1, -1, -1, -1, 0, 0, 800, 600]),
])
def test_values_round_trip(field, value, stored):
    values = settings.parse(settings.build(**{field: value}))
    assert values[field] == stored
    assert values["signature"] == "Quorvel"


def test_bad_input_is_refused():
    with pytest.raises(KeyError):
        settings.build(noSuchField=1)
    with pytest.raises(ValueError):
        settings.build(columnWidths=[1, 2])
    with pytest.raises(ValueError):
        settings.parse(bytes(4619))

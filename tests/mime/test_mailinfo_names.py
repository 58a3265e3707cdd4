"""Attachment names that Windows would take for devices get the prefix "_"
in the list (and so in the file saved under that name)."""
import subprocess

import pytest

from support import paths

MAILINFO = paths.native("tools/mailinfo/mailinfo")


def test_device_names_are_prefixed_in_the_attachment_list(tmp_path):
    if not MAILINFO.exists():
        pytest.skip(f"{MAILINFO} is not built")
    names = ["con", "nul.txt", "COM1.jpg", "console.txt", "..."]
    parts = "".join(f'--b\r\nContent-Type: application/octet-stream\r\n'
                    f'Content-Disposition: attachment; filename="{n}"\r\n\r\ndata\r\n' for n in names)
    mail = tmp_path / "devices.eml"
    mail.write_bytes(("Subject: devices\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
                      f"--b\r\nContent-Type: text/plain\r\n\r\nsee\r\n{parts}--b--\r\n").encode())
    out = subprocess.run([MAILINFO, "attachments", mail], capture_output=True, check=True, timeout=30).stdout
    listed = [line.split(b"\t")[1].decode("cp932") for line in out.splitlines()]
    # A name of dots only would be nothing on Windows: it counts as unnamed.
    assert listed == ["_con", "_nul.txt", "_COM1.jpg", "console.txt", "添付(1).OCTET-STREAM"]

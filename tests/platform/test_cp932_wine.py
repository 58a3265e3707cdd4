"""The Windows conversion and the native one give the same bytes."""
import subprocess

from support import paths


def test_native_and_windows_cp932_agree(wine):
    native = subprocess.run([paths.native("tests/platform/cp932_probe")], check=True,
                            capture_output=True).stdout.decode().split()
    rc, out, _ = wine.run(paths.win("tests/platform/cp932_probe.exe"))
    assert rc == 0
    assert out.decode().split() == native

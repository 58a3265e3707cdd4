"""The Debian package as CPack builds it: its files, its control data and an
example configuration that quorveld accepts."""
import re
import shutil
import subprocess
from pathlib import Path

import pytest

from support.paths import NATIVE
from support.quorveld import binary

pytestmark = pytest.mark.skipif(not binary().exists(), reason="quorveld is not built")


@pytest.fixture(scope="module")
def package() -> Path:
    for old in NATIVE.glob("quorvel_*.deb"):
        old.unlink()
    subprocess.run(["cpack", "-G", "DEB"], cwd=NATIVE, check=True, capture_output=True, timeout=300)
    found = list(NATIVE.glob("quorvel_*.deb"))
    assert len(found) == 1
    return found[0]


def test_package_holds_the_service(package, tmp_path):
    assert re.fullmatch(r"quorvel_\d+\.\d+\.\d+_amd64\.deb", package.name)
    files = subprocess.run(["dpkg-deb", "-c", str(package)], capture_output=True, text=True, check=True).stdout
    for path in ("./usr/sbin/quorveld", "./usr/lib/systemd/system/quorveld.service",
                 "./usr/share/doc/quorvel/quorvel.conf.example", "./usr/share/doc/quorvel/50-quorvel-poweroff.rules"):
        assert path in files
    control = subprocess.run(["dpkg-deb", "-f", str(package)], capture_output=True, text=True, check=True).stdout
    assert "Package: quorvel" in control and "libcurl4" in control and "adduser" in control
    subprocess.run(["dpkg-deb", "-e", str(package), str(tmp_path / "control")], check=True)
    postinst = tmp_path / "control" / "postinst"
    assert "adduser --system --group" in postinst.read_text()
    subprocess.run(["sh", "-n", str(postinst)], check=True)


@pytest.mark.skipif(not shutil.which("systemd-analyze"), reason="no systemd here")
def test_unit_file_is_valid(package, tmp_path):
    subprocess.run(["dpkg-deb", "-x", str(package), str(tmp_path / "root")], check=True)
    unit = (tmp_path / "root/usr/lib/systemd/system/quorveld.service").read_text()
    # Checked against this machine's systemd, with the binary where it was built.
    (tmp_path / "quorveld.service").write_text(unit.replace("/usr/sbin/quorveld", str(binary())))
    done = subprocess.run(["systemd-analyze", "verify", "--man=no", str(tmp_path / "quorveld.service")],
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 0 and done.stderr == "", done.stderr


def test_example_configuration_is_accepted(package, tmp_path):
    subprocess.run(["dpkg-deb", "-x", str(package), str(tmp_path / "root")], check=True)
    example = (tmp_path / "root/usr/share/doc/quorvel/quorvel.conf.example").read_text(encoding="utf-8")
    secret = tmp_path / "secret"
    secret.write_text("pw\n")
    secret.chmod(0o600)
    # This machine has no user quorvel; the rest stands as shipped.
    conf = re.sub(r"(?m)^user = .*$", "user =", example)
    conf = re.sub(r"(?m)^(password_file|motion_password_file) = .*$", rf"\1 = {secret}", conf)
    (tmp_path / "quorvel.conf").write_text(conf, encoding="utf-8")
    done = subprocess.run([str(binary()), "--config", str(tmp_path / "quorvel.conf"), "--check-config"],
                          capture_output=True, text=True, timeout=30)
    assert done.returncode == 0, done.stderr

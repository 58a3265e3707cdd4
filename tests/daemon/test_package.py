"""The Debian package as CPack builds it: its files, its control data, an
example configuration that quorveld accepts, and a real installation with
dpkg into a copy-on-write view of this machine (an overlay over / in a
mount namespace of its own), so the host's users, files and services stay
untouched."""
import os
import re
import shutil
import subprocess
import tempfile
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


# Run in a mount namespace of its own: / seen through an overlay whose
# changes land in $1/upper, with /run and /tmp private and a systemctl that
# only records its arguments. The package is installed and removed there.
INSTALL = r"""
set -e
top=$1 deb=$2
m=$top/merged
mount -t overlay overlay -o lowerdir=/,upperdir=$top/upper,workdir=$top/work "$m"
mount --bind /proc "$m/proc"
mount --bind /dev "$m/dev"
mount -t tmpfs tmpfs "$m/run"
mount -t tmpfs tmpfs "$m/tmp"
mkdir -p "$m/run/systemd/system" "$m/usr/local/sbin"
printf '#!/bin/sh\necho "$*" >> /tmp/systemctl.log\n' > "$m/usr/local/sbin/systemctl"
chmod 755 "$m/usr/local/sbin/systemctl"
cp "$deb" "$m/tmp/quorvel.deb"
in_root() { chroot "$m" env PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"; }
in_root dpkg -i /tmp/quorvel.deb >/dev/null
echo "user: $(in_root getent passwd quorvel | cut -d: -f1,7)"
in_root stat -c '%n %U:%G %a' /var/lib/quorvel /etc/quorvel/quorvel.conf /etc/quorvel/password \
    /etc/quorvel/motion-password /usr/sbin/quorveld
in_root dpkg -r quorvel >/dev/null
echo "systemctl: $(tr '\n' ';' < "$m/tmp/systemctl.log")"
"""


def _overlay_possible() -> bool:
    if os.geteuid() != 0 or not shutil.which("unshare"):
        return False
    with tempfile.TemporaryDirectory() as top:
        for d in ("upper", "work", "merged"):
            os.mkdir(f"{top}/{d}")
        probe = subprocess.run(["unshare", "--mount", "--propagation", "private", "mount", "-t", "overlay", "overlay",
                                "-o", f"lowerdir=/,upperdir={top}/upper,workdir={top}/work", f"{top}/merged"],
                               capture_output=True, timeout=30)
        return probe.returncode == 0


@pytest.mark.skipif(not _overlay_possible(), reason="needs root and overlay mounts in a mount namespace")
def test_installing_creates_the_user_and_private_folders(package):
    passwd = Path("/etc/passwd").read_text()
    top = Path(tempfile.mkdtemp(prefix="quorvel-install-"))
    try:
        for d in ("upper", "work", "merged"):
            (top / d).mkdir()
        done = subprocess.run(["unshare", "--mount", "--propagation", "private", "sh", "-c", INSTALL, "install",
                               str(top), str(package)], capture_output=True, text=True, timeout=300)
        assert done.returncode == 0, done.stderr
        lines = done.stdout.splitlines()
        assert lines[0] == "user: quorvel:/usr/sbin/nologin"
        assert lines[1:6] == ["/var/lib/quorvel quorvel:quorvel 750", "/etc/quorvel/quorvel.conf root:quorvel 640",
                              "/etc/quorvel/password quorvel:quorvel 600",
                              "/etc/quorvel/motion-password quorvel:quorvel 600", "/usr/sbin/quorveld root:root 755"]
        assert lines[6] == "systemctl: daemon-reload;stop quorveld.service;"
    finally:
        shutil.rmtree(top, ignore_errors=True)
    # The host is as it was.
    assert Path("/etc/passwd").read_text() == passwd
    assert not Path("/var/lib/quorvel").exists() and not Path("/etc/quorvel").exists()

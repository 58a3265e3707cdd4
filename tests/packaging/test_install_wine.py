"""What a Windows user gets: the setup program, the portable zip, version
information and manifests, start at logon. The setup tests run in a Wine
prefix of their own (they write the user's registry and Start menu)."""
import re
import shutil
import subprocess
import tempfile
import zipfile
from pathlib import Path

import pytest

from support import paths, settings
from support.command_mail import deliver
from support.qvdriver import Driver
from support.quorvel_app import MAIN_CLASS, wait_until
from support.smtp import ReplyServer
from support.wine import Wine

DIST = paths.win("dist")
SHIPPED = ["Imgvane.dll", "Postrix.dll", "Quorvel.chm", "Sendry.dll", "quorvel.exe"]
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvel"
# What a clean Windows has: no C++ or pthread runtime beside the programs.
SYSTEM_DLLS = {"advapi32.dll", "comctl32.dll", "comdlg32.dll", "crypt32.dll", "gdi32.dll", "kernel32.dll",
               "msvcrt.dll", "msvfw32.dll", "ole32.dll", "secur32.dll", "shell32.dll", "user32.dll",
               "version.dll", "winmm.dll", "ws2_32.dll", "winhttp.dll", "bcrypt.dll", "oleaut32.dll"}


def project_version() -> str:
    cache = paths.win("CMakeCache.txt").read_text()
    return re.search(r"^CMAKE_PROJECT_VERSION:STATIC=(.+)$", cache, re.M).group(1)


def installer() -> Path:
    return DIST / f"Quorvel-{project_version()}-installer.exe"


@pytest.fixture(scope="module")
def box(gui):
    """A Wine prefix of the module's own with its driver."""
    wine = Wine(Path(tempfile.mkdtemp(prefix="quorvel-setup-")))
    wine.boot()
    wine.display = gui.display
    driver = Driver(wine)
    yield wine, driver
    driver.close_all()
    wine.close()


class Setup:
    """The setup program and what it leaves in a prefix."""

    def __init__(self, wine: Wine):
        self.wine = wine
        users = [p for p in (wine.prefix / "drive_c" / "users").iterdir() if p.name != "Public"]
        self.home = users[0]
        self.folder = self.home / "AppData" / "Local" / "Programs" / "Quorvel"
        self.windows_folder = rf"C:\users\{self.home.name}\AppData\Local\Programs\Quorvel"
        self.shortcut = rf"C:\users\{self.home.name}\AppData\Roaming\Microsoft\Windows\Start Menu\Programs\Quorvel.lnk"

    def install(self, *options) -> int:
        return self.wine.run(installer(), ["/S", *options], timeout=120)[0]

    def uninstall(self, *options) -> int:
        # "_?=" keeps the uninstaller in place, so that it can be waited for;
        # then it leaves itself behind for the caller.
        rc = self.wine.run(self.folder / "uninstall.exe", ["/S", *options, "_?=" + self.windows_folder],
                           timeout=120)[0]
        (self.folder / "uninstall.exe").unlink(missing_ok=True)
        return rc

    def files(self) -> list:
        return sorted(p.name for p in self.folder.iterdir()) if self.folder.exists() else []

    def reg(self, key: str, name: str):
        return reg_value(self.wine, key, name)

    def lnk_exists(self) -> bool:
        return (self.home / "AppData" / "Roaming" / "Microsoft" / "Windows" / "Start Menu" / "Programs"
                / "Quorvel.lnk").exists()

    def start_quorvel(self, driver: Driver) -> subprocess.Popen:
        """The installed program, started from its folder as the shortcut does."""
        process = self.wine.start(self.folder / "quorvel.exe", cwd=self.folder)
        driver.wait_window(MAIN_CLASS, timeout=30)
        return process


def test_binaries_carry_version_information_manifests_and_no_runtime_dlls(wine, driver):
    version = project_version()
    for name in [*SHIPPED, "Vistrel.exe", installer().name]:
        if name.endswith(".chm"):
            continue
        info = driver.version_info(DIST / name)
        assert info["fixed"] == [int(n) for n in version.split(".")] + [0], name
        # NSIS writes the setup program's Japanese block with code page 932
        [(block, strings)] = info["blocks"].items()
        assert block == ("041103A4" if name == installer().name else "041104B0"), name
        assert strings["FileVersion"] == strings["ProductVersion"] == version, name
        assert strings["ProductName"] == "Quorvel"
        # Japanese descriptions, not mangled on the way through the resource compiler
        assert re.search("[\u3040-\u30ff\u4e00-\u9fff]", strings["FileDescription"]), (name, strings)
        if name in SHIPPED or name == "Vistrel.exe":
            assert strings["OriginalFilename"] == name
        if name.endswith(".exe"):
            manifest = info["manifest"]
            for part in ('level="asInvoker"', "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", "PerMonitorV2",
                         "true/pm" if name != installer().name else "true"):
                assert part in manifest, (name, part)
        if name != installer().name:
            if name.endswith(".exe"):
                assert "Microsoft.Windows.Common-Controls" in info["manifest"]
            dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(DIST / name)],
                                  capture_output=True, text=True, check=True).stdout
            imports = {m.lower() for m in re.findall(r"DLL Name: (\S+)", dump)}
            assert imports <= SYSTEM_DLLS | {"sendry.dll"}, (name, imports - SYSTEM_DLLS)


def test_portable_zip_holds_the_shipped_files_under_one_folder():
    version = project_version()
    with zipfile.ZipFile(DIST / f"Quorvel-{version}.zip") as z:
        names = sorted(z.namelist())
        assert names == sorted(f"Quorvel-{version}/{n}" for n in SHIPPED)
        for info in z.infolist():
            # ASCII names, or flagged as UTF-8 for Windows to read them right
            assert info.filename.isascii() or info.flag_bits & 0x800
            assert z.read(info) == (DIST / Path(info.filename).name).read_bytes()


def test_install_answer_upgrade_while_running_and_uninstall(box, dovecot):
    wine, driver = box
    setup = Setup(wine)
    assert setup.install("/LOGON") == 0
    assert setup.files() == sorted([*SHIPPED, "uninstall.exe"])
    for name in SHIPPED:
        assert (setup.folder / name).read_bytes() == (DIST / name).read_bytes()
    link = driver.shortcut(setup.shortcut)
    assert link["target"].lower() == (setup.windows_folder + r"\quorvel.exe").lower()
    assert link["workdir"].lower() == setup.windows_folder.lower()
    assert setup.reg(UNINSTALL_KEY, "DisplayVersion") == project_version()
    assert setup.reg(UNINSTALL_KEY, "UninstallString") == f'"{setup.windows_folder}\\uninstall.exe"'
    assert setup.reg(UNINSTALL_KEY, "InstallLocation") == setup.windows_folder
    run_value = f'"{setup.windows_folder}\\quorvel.exe" /workdir "{setup.windows_folder}"'
    assert setup.reg(RUN_KEY, "Quorvel") == run_value

    # The installed program checks mail and answers a command mail.
    with ReplyServer() as smtp:
        record = settings.build(mail_log_folder=setup.windows_folder, pop3Server="127.0.0.1",
                                pop3Port=dovecot.port, accountName=dovecot.user, password=dovecot.password,
                                smtpServer="127.0.0.1", smtpPort=smtp.port, checkAtStartup=1)
        (setup.folder / "quorvel.ini").write_bytes(record)
        deliver(dovecot, "キー返信")
        process = setup.start_quorvel(driver)
        assert smtp.wait_reply(timeout=60).results()[0] == "== コマンド 一覧 ==\n"
        window = driver.wait_window(MAIN_CLASS)
        wait_until(lambda: (setup.folder / "QuorvelMail.log").exists(), what="the mail log")
        driver.close(window["hwnd"], how="wm")
        process.wait(timeout=30)
    kept = {n: (setup.folder / n).read_bytes() for n in ("quorvel.ini", "QuorvelMail.log", "QuorvelMail.idx")}

    # Upgrade while it runs: the program is closed, the exe replaced, the
    # user's files kept byte for byte.
    with (setup.folder / "quorvel.exe").open("ab") as exe:
        exe.write(b"an older build")
    process = setup.start_quorvel(driver)
    assert setup.install() == 0
    assert process.wait(timeout=30) is not None
    assert not driver.find(MAIN_CLASS, visible_only=False)
    assert (setup.folder / "quorvel.exe").read_bytes() == (DIST / "quorvel.exe").read_bytes()
    for name, data in kept.items():
        assert (setup.folder / name).read_bytes() == data, name
    assert setup.reg(RUN_KEY, "Quorvel") == run_value  # unticked on upgrade: left as it was

    # A file still in use is an error, not a silent success.
    holder = driver.hold_file(setup.folder / "Sendry.dll")
    try:
        assert setup.install() == 2
    finally:
        holder.kill()
        holder.wait()

    # Uninstall keeps the user's files, and with /PURGE leaves nothing.
    (setup.folder / "QuorvelMailbox-0f1e.dat").write_bytes(b"QuorvelMailbox 1\n")  # a mailbox memory
    user_files = sorted(set(setup.files()) - {*SHIPPED, "uninstall.exe"})
    assert {"quorvel.ini", "QuorvelMail.log", "QuorvelMail.idx", "通信ログ.txt"} <= set(user_files)
    assert setup.uninstall() == 0
    assert setup.files() == user_files
    assert not setup.lnk_exists()
    assert setup.reg(UNINSTALL_KEY, "DisplayName") is None
    assert setup.reg(RUN_KEY, "Quorvel") is None
    assert setup.install() == 0
    assert setup.uninstall("/PURGE") == 0
    assert setup.files() == []  # the folder itself stays for the uninstaller run in place (_?=)


def test_run_value_starts_quorvel_in_its_folder_at_logon(box, dovecot):
    """wineboot runs the Run values, as a logon does: the program works in
    its own folder (its quorvel.ini), not in the system folder."""
    wine, driver = box
    setup = Setup(wine)
    assert setup.install("/LOGON") == 0
    try:
        with ReplyServer() as smtp:
            record = settings.build(mail_log_folder=setup.windows_folder, pop3Server="127.0.0.1",
                                    pop3Port=dovecot.port, accountName=dovecot.user, password=dovecot.password,
                                    smtpServer="127.0.0.1", smtpPort=smtp.port, checkAtStartup=1)
            (setup.folder / "quorvel.ini").write_bytes(record)
            deliver(dovecot, "キー返信")
            wine.run("wineboot", timeout=120)
            window = driver.wait_window(MAIN_CLASS, timeout=60)
            assert smtp.wait_reply(timeout=60).results()[0] == "== コマンド 一覧 ==\n"
            driver.close(window["hwnd"], how="wm")
            assert driver.wait_gone(window["hwnd"], timeout=30)
        assert "通信ログ.txt" in setup.files()
    finally:
        setup.uninstall("/PURGE")


def reg_value(wine: Wine, key: str, name: str):
    """A registry value's data, None when it is missing."""
    rc, out = wine.reg("query", key, "/v", name)
    found = re.search(rb"^\s*" + re.escape(name.encode()) + rb"\s+REG_\w+\s+(.*?)\r?$", out, re.M)
    return found.group(1).decode("cp932") if rc == 0 and found else None


def test_settings_check_box_switches_start_at_logon_and_about_box_shows_the_version(quorvel, wine):
    from support.quorvel_app import CMD_ABOUT, CMD_SETTINGS_DIRECT
    from support.qvdriver import IDOK
    logon_box = 1130
    own = f'"{quorvel.windows_folder}\\quorvel.exe" /workdir "{quorvel.windows_folder}"'
    other = r'"C:\Other\quorvel.exe" /workdir "C:\Other"'
    quorvel.write_settings()
    quorvel.start()

    def settings_ok(tick):
        """Opens the settings, reads the box, sets it, presses OK."""
        quorvel.command(CMD_SETTINGS_DIRECT)
        dialog = quorvel.wait_dialog()
        shown = next(c for c in dialog["controls"] if c["id"] == logon_box)["checked"]
        quorvel.driver.check(dialog, logon_box, tick)
        quorvel.press(dialog, IDOK)
        assert quorvel.driver.wait_gone(dialog["hwnd"])
        return shown

    try:
        # (Run value before, box ticked on OK) -> (box shown, Run value after)
        for before, tick, shown, after in [(None, True, False, own), (own, False, True, None),
                                           (other, False, False, other), (other, True, False, own)]:
            if before:
                assert wine.reg("add", RUN_KEY, "/v", "Quorvel", "/t", "REG_SZ", "/d", before, "/f")[0] == 0
            assert settings_ok(tick) == shown, before
            # OK writes the value before the dialog closes
            assert reg_value(wine, RUN_KEY, "Quorvel") == after, before
            if after:
                assert wine.reg("delete", RUN_KEY, "/v", "Quorvel", "/f")[0] == 0
        quorvel.command(CMD_ABOUT)
        about = quorvel.wait_dialog()
        assert next(c for c in about["controls"] if c["id"] == 1055)["text"] == \
            f"Quorvel  バージョン {project_version()}"
        quorvel.press(about, IDOK)
    finally:
        wine.reg("delete", RUN_KEY, "/v", "Quorvel", "/f")

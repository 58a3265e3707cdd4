"""A Wine prefix for one test run, and running Windows programs in it."""
import os
import shutil
import subprocess
import tempfile
from pathlib import Path

FONTLINK_REG = Path(__file__).resolve().parents[2] / "scripts" / "wine-fontlink.reg"
MARLETT = Path("/usr/share/wine/fonts/marlett.ttf")  # Debian's fonts-wine

BASE_ENV = {
    "WINEDEBUG": "-all",
    "WINEDLLOVERRIDES": "mscoree,mshtml=",
}


def winpath(path) -> str:
    """The Windows name of a host path (drive Z: is the host's root)."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


class Wine:
    def __init__(self, root: Path):
        self.root = root
        self.prefix = root / "prefix"
        self.home = root / "home"
        self.home.mkdir(parents=True, exist_ok=True)
        self.display = None  # set by the GUI fixture when Xvfb runs
        self._host_locales = None

    def locale_env(self, lang: str) -> dict:
        """Wine names host files through the host's locale: without it a
        program cannot create files with Japanese names. A locale the host
        lacks is compiled once per run into a private folder (LOCPATH)."""
        wanted = lang.lower().replace("-", "")
        if self._host_locales is None:
            listing = subprocess.run(["locale", "-a"], capture_output=True, text=True)
            self._host_locales = {n.lower().replace("-", "") for n in listing.stdout.split()}
        if wanted in self._host_locales or "." not in lang:
            return {}
        folder = self.root / "locales" / lang
        if not (folder / lang).exists():
            language, charset = lang.split(".", 1)
            folder.mkdir(parents=True, exist_ok=True)
            done = subprocess.run(["localedef", "-i", language, "-f", charset, "-c", str(folder / lang)],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
            if done.returncode > 1 or not (folder / lang).exists():  # 1: warnings only
                return {}
        return {"LOCPATH": str(folder)}

    def env(self, lang: str = "ja_JP.UTF-8", extra: dict | None = None) -> dict:
        env = dict(os.environ)
        env.update(BASE_ENV)
        env.pop("LOCPATH", None)
        env.update(self.locale_env(lang))
        env.update({
            "WINEPREFIX": str(self.prefix),
            "HOME": str(self.home),
            "XDG_DATA_HOME": str(self.home / ".local" / "share"),
            "LANG": lang,
            "LC_ALL": lang,
        })
        if self.display:
            env["DISPLAY"] = self.display
        else:
            env.pop("DISPLAY", None)
        if extra:
            env.update(extra)
        return env

    def boot(self):
        env = self.env()
        subprocess.run(["wineboot", "-i"], env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
        # Without a window manager, unmanaged windows close without a 2 s stall.
        subprocess.run(["wine", "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed",
                        "/t", "REG_SZ", "/d", "N", "/f"], env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        # A wine64-only prefix misses the .txt association every Windows has
        # (its 32-bit setup step fails): "open" on a text file needs it.
        subprocess.run(["wine", "reg", "add", r"HKCR\.txt", "/ve", "/t", "REG_SZ", "/d", "txtfile",
                        "/f"], env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        # Font linking, as Windows has it for East Asian text: the UI fonts
        # fall back to a Japanese font, whatever the language of the start.
        subprocess.run(["wine", "regedit", str(FONTLINK_REG)], env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        # Caption buttons draw with Marlett; without it they read "0 1 r".
        if MARLETT.exists():
            fonts = self.prefix / "drive_c" / "windows" / "Fonts"
            fonts.mkdir(parents=True, exist_ok=True)
            shutil.copy2(MARLETT, fonts / MARLETT.name)
        self.wait_idle()

    def wait_idle(self):
        subprocess.run(["wineserver", "-w"], env=self.env(), timeout=120)

    def run(self, exe, args=(), cwd=None, timeout=120, lang="ja_JP.UTF-8", extra_env=None):
        """Runs a console program; returns (exit code, stdout bytes, stderr bytes).

        Output goes through files: Wine's background services inherit the
        program's handles and would hold a pipe open."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            rc = subprocess.run(["wine", str(exe), *map(str, args)], cwd=cwd,
                                env=self.env(lang, extra_env), stdout=out, stderr=err,
                                stdin=subprocess.DEVNULL, timeout=timeout).returncode
            out.seek(0)
            err.seek(0)
            return rc, out.read(), err.read()

    def reg(self, *args) -> tuple:
        """Runs reg.exe (query, add, delete); returns (exit code, stdout bytes).
        reg.exe always says something, so status 1 without a word means that
        the Wine launcher gave up before it ran, as it now and then does on a
        loaded machine: it is run again (each of its commands may be)."""
        for _ in range(3):
            rc, out, err = self.run("reg", args)
            if rc != 1 or out or err:
                return rc, out
        raise AssertionError(f"reg {' '.join(args)}: the Wine launcher gave up three times")

    def start(self, exe, args=(), cwd=None, lang="ja_JP.UTF-8", extra_env=None,
              stdout=None, stderr=None) -> subprocess.Popen:
        """Starts a program without waiting for it. Its output goes to the
        files stdout and stderr (paths; default: discarded), never to a pipe.
        The Popen's process is the Windows process itself: killing it ends
        the program."""
        out = open(stdout, "wb") if stdout else subprocess.DEVNULL
        err = open(stderr, "wb") if stderr else subprocess.DEVNULL
        try:
            return subprocess.Popen(["wine", str(exe), *map(str, args)], cwd=cwd,
                                    env=self.env(lang, extra_env), stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=err)
        finally:
            for f in (out, err):
                if f is not subprocess.DEVNULL:
                    f.close()

    def close(self):
        subprocess.run(["wineserver", "-k"], env=self.env(), timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(self.root, ignore_errors=True)

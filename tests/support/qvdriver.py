"""Plain functions over qvdriver.exe, which drives a Windows program's
windows from outside under Wine (see qvdriver/QvDriver.cpp).

Waiting happens inside the driver (it polls every 15 ms up to the time
bound), so a wait costs one driver start, about 0.1 s."""
import itertools
import json
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

from . import paths
from .wine import Wine, winpath

WM_COMMAND = 0x0111
WM_CLOSE = 0x0010
SW_HIDE, SW_SHOW, SW_MINIMIZE, SW_RESTORE = 0, 5, 6, 9
IDOK, IDCANCEL, IDYES, IDNO = 1, 2, 6, 7


class DriverError(RuntimeError):
    pass


def _hex(text: str) -> str:
    return text.encode("utf-8").hex()


class Driver:
    def __init__(self, wine: Wine, exe=None):
        self.wine = wine
        self.exe = Path(exe or paths.win("tests/support/qvdriver/qvdriver.exe"))
        if not self.exe.exists():
            raise DriverError(f"{self.exe} is not built")
        self.outdir = Path(tempfile.mkdtemp(prefix="quorvel-qvdriver-"))
        self._seq = itertools.count()

    def call(self, *args, timeout=60.0, lang="ja_JP.UTF-8", raw_stdout=False):
        """Runs one driver command; returns (exit code, parsed document).

        Exit code 1 means the awaited state did not come; an error document
        ({"ok": false}) raises DriverError."""
        out = self.outdir / f"out{next(self._seq)}.json"
        argv = [str(a) for a in args] if raw_stdout else ["-o", winpath(out), *map(str, args)]
        for attempt in range(3):
            with open(out if raw_stdout else self.outdir / "stdout", "wb") as stdout:
                rc = subprocess.run(["wine", str(self.exe), *argv], env=self.wine.env(lang),
                                    stdin=subprocess.DEVNULL, stdout=stdout,
                                    stderr=subprocess.DEVNULL, timeout=timeout).returncode
            # On a loaded machine the Wine launcher now and then gives up with
            # status 1 before the driver runs: then no output was written and
            # nothing was done, so the command is run again.
            if raw_stdout or rc != 1 or out.exists():
                break
        try:
            doc = json.loads(out.read_bytes().decode("utf-8"))
        except (OSError, ValueError) as e:
            raise DriverError(f"qvdriver {' '.join(map(str, args))}: no readable output (rc {rc}): {e}")
        finally:
            out.unlink(missing_ok=True)
        if not doc.get("ok"):
            raise DriverError(f"qvdriver {' '.join(map(str, args))}: {doc.get('error')}")
        return rc, doc

    # ---- top-level windows ------------------------------------------------

    def find(self, cls: str, timeout=0.0, visible_only=True) -> list:
        """Top-level windows of a class, waiting up to timeout for the first."""
        args = ["find", cls, int(timeout * 1000)] + ([] if visible_only else ["any"])
        return self.call(*args, timeout=timeout + 30)[1]["windows"]

    def wait_window(self, cls: str, timeout=20.0, visible_only=True) -> dict:
        found = self.find(cls, timeout, visible_only)
        if not found:
            raise AssertionError(f"no window of class {cls} within {timeout} s")
        return found[0]

    def info(self, hwnd: int) -> dict:
        return self.call("info", hwnd)[1]["window"]

    def title(self, hwnd: int) -> str:
        return self.info(hwnd)["title"]

    def wait_title(self, hwnd: int, text: str, mode="equals", timeout=20.0) -> dict:
        """Waits until the title equals / contains / differs from text."""
        rc, doc = self.call("wait-title", hwnd, mode, _hex(text), int(timeout * 1000),
                            timeout=timeout + 30)
        if rc != 0:
            now = doc["window"]["title"] if doc.get("exists") else "(window gone)"
            raise AssertionError(f"title never {mode} {text!r} within {timeout} s; it is {now!r}")
        return doc["window"]

    def wait_gone(self, hwnd: int, timeout=10.0) -> bool:
        return self.call("wait-gone", hwnd, int(timeout * 1000), timeout=timeout + 30)[0] == 0

    def foreground(self):
        return self.call("foreground")[1]["window"]

    # ---- messages -----------------------------------------------------------

    def command(self, hwnd: int, command_id: int):
        """Posts a menu command (WM_COMMAND with the id, as the menu does)."""
        self.call("command", hwnd, command_id)

    def close(self, hwnd: int, how="sc"):
        """Posts the close box's SC_CLOSE ("sc") or WM_CLOSE ("wm")."""
        self.call("close", hwnd, how)

    def post(self, hwnd: int, msg: int, wparam=0, lparam=0):
        self.call("post", hwnd, msg, wparam, lparam)

    def send(self, hwnd: int, msg: int, wparam=0, lparam=0) -> int:
        return self.call("send", hwnd, msg, wparam, lparam)[1]["result"]

    def show(self, hwnd: int, sw: int):
        self.call("show", hwnd, sw)

    # ---- contents -----------------------------------------------------------

    def children(self, hwnd: int) -> dict:
        return self.call("children", hwnd)[1]["tree"]

    def text(self, hwnd: int, path="") -> str:
        """The text of a child (path like "SplitPanel/#100") via WM_GETTEXT."""
        return self.call("text", hwnd, path)[1]["text"]

    def list_view(self, hwnd: int, path="") -> dict:
        """A list view's columns (text, width), rows (every column, hidden
        ones too), selected rows and focused row."""
        return self.call("list", hwnd, path)[1]

    # ---- dialogs and message boxes -----------------------------------------

    def dialogs(self, pid=0, timeout=0.0) -> list:
        """Visible "#32770" windows of a process (0: any), waiting up to
        timeout for the first. Each has title, text (a message box's text),
        and controls (id, class, text)."""
        return self.call("dialogs", pid, int(timeout * 1000), timeout=timeout + 30)[1]["dialogs"]

    def wait_dialog(self, pid=0, timeout=10.0) -> dict:
        found = self.dialogs(pid, timeout)
        if not found:
            raise AssertionError(f"no dialog within {timeout} s")
        return found[0]

    def press(self, dialog: dict, button):
        """Presses a dialog's button, given by id or by its text without "&"."""
        if isinstance(button, str):
            ids = [c["id"] for c in dialog["controls"]
                   if c["class"].lower() == "button" and c["text"].replace("&", "") == button]
            if not ids:
                raise AssertionError(f"no button {button!r} in {dialog['controls']}")
            button = ids[0]
        self.call("press", dialog["hwnd"], button)

    def set_text(self, dialog: dict, control_id: int, text: str):
        """Types a text into a dialog's control (WM_SETTEXT)."""
        self.call("set-text", dialog["hwnd"], control_id, _hex(text))

    def check(self, dialog: dict, control_id: int, on: bool):
        """Clicks a check box until it is on / off."""
        self.call("check", dialog["hwnd"], control_id, int(on))

    def browse_select(self, dialog: dict, windows_path: str):
        """Moves the shell's folder browser to a folder."""
        self.call("browse-select", dialog["hwnd"], _hex(windows_path))

    def drop_files(self, hwnd: int, windows_paths: list) -> int:
        """An OLE drag of files (CF_HDROP) dropped on the middle of a window;
        returns the effect the target chose (1 copy, 0 none)."""
        rc, doc = self.call("drop-files", hwnd, *windows_paths)
        return doc["effect"]

    # ---- resources and helpers ----------------------------------------------

    def menu(self, exe, name: str) -> list:
        """The menu resource NAME (or "#id") of a program file, as nested
        items: text, id (-1 for a popup), separator, grayed, items."""
        return self.call("menu", winpath(exe), name)[1]["items"]

    def version_info(self, path) -> dict:
        """The version information of a program file as GetFileVersionInfoW
        reads it: fixed ([a, b, c, d]), fileType, blocks ({"041104B0":
        {field: text}}), and manifest (its text) when it has one."""
        return self.call("version-info", winpath(path))[1]

    def shortcut(self, windows_path: str) -> dict:
        """A shell link's target, arguments and workdir."""
        return self.call("shortcut", windows_path)[1]

    def hold_file(self, path, seconds=60.0, timeout=20.0) -> subprocess.Popen:
        """Starts a process that keeps a file open (sharing only reading),
        as a running program holds its exe, until it is killed."""
        return self._hold("hold-file", winpath(path), seconds, timeout)

    def hold_mutex(self, name: str, seconds=60.0, timeout=20.0) -> subprocess.Popen:
        """Starts a process that holds the named mutex until it is killed
        (or seconds pass); returns once the mutex exists."""
        return self._hold("hold-mutex", name, seconds, timeout)

    def _hold(self, command: str, name: str, seconds: float, timeout: float) -> subprocess.Popen:
        out = self.outdir / f"hold{next(self._seq)}.json"
        proc = self.wine.start(self.exe, ["-o", winpath(out), command, name, int(seconds * 1000)])
        deadline = time.monotonic() + timeout
        while not (out.exists() and out.stat().st_size):
            if proc.poll() is not None or time.monotonic() > deadline:
                proc.kill()
                proc.wait()
                raise DriverError(f"{command} {name} did not start")
            time.sleep(0.02)
        if not json.loads(out.read_bytes())["ok"]:
            proc.kill()
            proc.wait()
            raise DriverError(f"{command} {name} failed")
        return proc

    def mutex_exists(self, name: str) -> bool:
        return self.call("open-mutex", name)[1]["exists"]

    def close_all(self):
        shutil.rmtree(self.outdir, ignore_errors=True)

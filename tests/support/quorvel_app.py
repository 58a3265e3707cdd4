"""quorvel.exe under Wine in a fresh working folder, driven like a user.

    app = QuorvelApp(wine, driver, folder)       # or the `quorvel` fixture
    app.write_ini(settings.build(...))           # optional
    app.start()                                  # waits for the main window
    app.command(40001); app.wait_title("Quorvel  新着…")
    app.close()                                  # as the close box; returns the exit code
"""
import functools
import shutil
import subprocess
import time
from pathlib import Path

from . import paths, settings
from .qvdriver import Driver, DriverError
from .wine import Wine, winpath

MAIN_CLASS = "VISTREL_QUORVEL_TORVANEX_BELIK"
MUTEX = "QUORVEL_TORVANE"
INI = "quorvel.ini"
COMM_LOG = "通信ログ.txt"
MAIL_LIST = "SplitPanel/#110"
PREVIEW = "SplitPanel/#100"
MAIL_LIST_ID = 110
DLLS = ("Sendry.dll", "Imgvane.dll")
LVM_GETITEMCOUNT = 0x1004
WM_LBUTTONDOWN, WM_LBUTTONUP, MK_LBUTTON = 0x0201, 0x0202, 0x0001
LIST_HEADER_HEIGHT, LIST_ROW_HEIGHT = 18, 15  # of the mail list with the program font

# Menu command ids
CMD_EXIT, CMD_RECEIVE, CMD_SETTINGS, CMD_CLEAR_LOG = 40000, 40001, 40003, 40004
CMD_SHOW_COMM_LOG, CMD_SETTINGS_DIRECT, CMD_SOURCE = 40005, 40007, 40008
CMD_KEY_DIALOG, CMD_SPAM_DIALOG, CMD_HELP, CMD_ABOUT = 40010, 40011, 40012, 40013


def wait_until(condition, timeout=10.0, what="the condition"):
    """Polls condition() until it gives a true value, which it returns."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"{what} did not come within {timeout} s")
        time.sleep(0.05)


@functools.lru_cache(maxsize=None)
def program_file(name: str):
    """A program file of the Windows build, wherever the tree puts it; None
    when it is not built."""
    for candidate in (paths.win(name), paths.win(f"src/app/{name}")):
        if candidate.exists():
            return candidate
    # The product's own build (src/) before test doubles of the same name.
    found = sorted((p.relative_to(paths.WIN).parts[0] != "src", p) for p in paths.WIN.rglob(name)
                   if "CMakeFiles" not in p.parts)
    return found[0][1] if found else None


class QuorvelApp:
    def __init__(self, wine: Wine, driver: Driver, folder: Path, exe=None):
        self.wine = wine
        self.driver = driver
        self.folder = Path(folder)
        self.folder.mkdir(parents=True, exist_ok=True)
        source = Path(exe) if exe else program_file("quorvel.exe")
        if source is None or not source.exists():
            raise FileNotFoundError("quorvel.exe is not built")
        self.exe = self.folder / "quorvel.exe"
        shutil.copy2(source, self.exe)
        for dll in DLLS:
            found = program_file(dll)
            if found:
                shutil.copy2(found, self.folder / dll)
        self.process = None
        self.window = None
        self.lang = "ja_JP.UTF-8"
        self._runs = 0

    # ---- files of the working folder --------------------------------------

    @property
    def windows_folder(self) -> str:
        """The working folder as the program sees it (Z:\\…)."""
        return winpath(self.folder)

    def write_ini(self, record: bytes):
        (self.folder / INI).write_bytes(record)

    def write_settings(self, **values) -> bytes:
        """Writes a quorvel.ini built from values (support/settings.py) whose
        mail log folder is the working folder; returns the record."""
        record = settings.build(mail_log_folder=self.windows_folder, **values)
        self.write_ini(record)
        return record

    def ini(self):
        path = self.folder / INI
        return path.read_bytes() if path.exists() else None

    def comm_log(self):
        """The raw bytes of 通信ログ.txt (Shift_JIS), or None."""
        path = self.folder / COMM_LOG
        return path.read_bytes() if path.exists() else None

    def comm_log_lines(self) -> list:
        """通信ログ.txt decoded, split at CR LF (a lone CR stays inside a line)."""
        raw = self.comm_log()
        if raw is None:
            return []
        lines = raw.decode("cp932").split("\r\n")
        return lines[:-1] if lines and lines[-1] == "" else lines

    # ---- life ---------------------------------------------------------------

    def launch(self, lang=None, extra_env=None) -> subprocess.Popen:
        """Starts quorvel.exe in the folder and returns at once."""
        self._runs += 1
        run = self._runs
        return self.wine.start(self.exe, cwd=self.folder, lang=lang or self.lang,
                               extra_env=extra_env, stdout=self.folder / f"stdout{run}.txt",
                               stderr=self.folder / f"stderr{run}.txt")

    def start(self, lang="ja_JP.UTF-8", timeout=30.0, extra_env=None) -> dict:
        """Starts the program and waits until its main window is visible."""
        self.lang = lang
        before = {w["hwnd"] for w in self.driver.find(MAIN_CLASS, visible_only=False)}
        self.process = self.launch(lang, extra_env)
        relaunched = False
        deadline = time.monotonic() + timeout
        while True:
            wait = max(0.0, min(2.0, deadline - time.monotonic()))
            found = [w for w in self.driver.find(MAIN_CLASS, timeout=wait) if w["hwnd"] not in before]
            if found:
                self.window = found[0]
                return self.window
            if self.process.poll() is not None:
                # Once, on a loaded machine, the Wine launcher gave up with
                # status 1 and no message before the program ran (the program
                # itself never ends with 1): start it once more.
                stderr = self.folder / f"stderr{self._runs}.txt"
                if (self.process.returncode == 1 and not relaunched and stderr.exists()
                        and stderr.stat().st_size == 0):
                    relaunched = True
                    self.process = self.launch(lang, extra_env)
                    continue
                raise AssertionError(f"quorvel.exe ended with {self.process.returncode} "
                                     f"before its window appeared")
            if time.monotonic() > deadline:
                raise AssertionError(f"no main window within {timeout} s")

    @property
    def hwnd(self) -> int:
        return self.window["hwnd"]

    @property
    def pid(self) -> int:
        """The Windows process id (for dialogs)."""
        return self.window["pid"]

    def running(self) -> bool:
        return self.process is not None and self.process.poll() is None

    def wait_exit(self, timeout=20.0):
        """The exit code, once the program has ended."""
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"quorvel.exe still runs after {timeout} s")

    def close(self, timeout=20.0):
        """Closes the main window with its close box; returns the exit code."""
        self.driver.close(self.hwnd)
        return self.wait_exit(timeout)

    def stop(self):
        """Closes the program if it still runs; kills it if closing fails."""
        if not self.running():
            return
        try:
            self.driver.close(self.hwnd)
            self.process.wait(timeout=10)
        except Exception:
            pass
        if self.running():
            self.process.kill()
            self.process.wait()

    # ---- what a user sees and does ----------------------------------------

    def info(self) -> dict:
        self.window = self.driver.info(self.hwnd)
        return self.window

    def title(self) -> str:
        return self.driver.title(self.hwnd)

    def wait_title(self, text: str, mode="equals", timeout=20.0) -> dict:
        self.window = self.driver.wait_title(self.hwnd, text, mode, timeout)
        return self.window

    def command(self, command_id: int):
        self.driver.command(self.hwnd, command_id)

    def dialogs(self, timeout=0.0) -> list:
        return self.driver.dialogs(self.pid, timeout)

    def wait_dialog(self, timeout=10.0) -> dict:
        return self.driver.wait_dialog(self.pid, timeout)

    def press(self, dialog: dict, button):
        self.driver.press(dialog, button)

    def mail_list(self) -> dict:
        return self.driver.list_view(self.hwnd, MAIL_LIST)

    def child(self, control_id=None, cls=None):
        """The window handle of the child window with this control id (or of
        this class), or None."""
        def find(tree):
            for node in tree.get("children", []):
                if node.get("id") == control_id if cls is None else node.get("class") == cls:
                    return node["hwnd"]
                found = find(node)
                if found:
                    return found
            return None
        return find(self.driver.children(self.hwnd))

    def row_count(self) -> int:
        """Rows of the mail list; 0 while the program is too busy to answer."""
        try:
            return self.driver.send(self.child(MAIL_LIST_ID), LVM_GETITEMCOUNT)
        except DriverError:
            return 0

    def click_row(self, row: int):
        """Clicks a row of the mail list once (a click activates it)."""
        y = LIST_HEADER_HEIGHT + LIST_ROW_HEIGHT * row + LIST_ROW_HEIGHT // 2
        point = (y << 16) | 200
        listview = self.child(MAIL_LIST_ID)
        self.driver.post(listview, WM_LBUTTONDOWN, MK_LBUTTON, point)
        self.driver.post(listview, WM_LBUTTONUP, 0, point)

    def preview(self) -> str:
        return self.driver.text(self.hwnd, PREVIEW)

    def menu_resource(self, name="MYMENU") -> list:
        return self.driver.menu(self.exe, name)

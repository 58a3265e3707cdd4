"""The demo camera (Vistrel.exe, tools/command/democam) under Wine, and what
it received.

    camera = DemoCamera(wine, driver, folder)   # copies Vistrel.exe into folder
    camera.start()                              # waits for its window
    camera.wait_messages(2)                     # ["WM_USER+100 101", "WM_COPYDATA 102 400"]
    camera.stop()

Quorvel and the camera share one working folder: Quorvel starts
"Vistrel.exe" from there, and finds snap.jpg and Vistrel.ini there.
Its log (democam.log) has one line per message received:
"<ms since 1970> <message> [<code> [<text>]]", plus START and NOTE lines."""
import shutil
import subprocess
import time
from pathlib import Path

from .quorvel_app import program_file
from .wine import winpath

CLASS = "VIS_TREL_TORVANEX_BELIK"
EXE = "Vistrel.exe"
LOG = "democam.log"
SAMPLE_CLIP = "democam-sample.wmv"
SETTINGS_SIZE, FOLDER_OFFSET = 281, 21


def make_clip(path: Path, seconds=1, size="160x120"):
    """A real short WMV clip made by ffmpeg (a moving test picture)."""
    subprocess.run(["ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                    f"testsrc=size={size}:rate=10:duration={seconds}", "-c:v", "wmv2",
                    "-f", "asf", str(path)], check=True, stdin=subprocess.DEVNULL, timeout=120)
    return path


def settings_record(recordings_folder: str, head=b"DEMOCAM SETTINGS 0001") -> bytes:
    """The camera's settings file: 21 bytes, then the folder NUL-terminated."""
    folder = recordings_folder.encode("cp932")[:259]
    return (head[:FOLDER_OFFSET].ljust(FOLDER_OFFSET, b"\0") + folder).ljust(SETTINGS_SIZE, b"\0")


class DemoCamera:
    def __init__(self, wine, driver, folder: Path):
        self.wine = wine
        self.driver = driver
        self.folder = Path(folder)
        self.folder.mkdir(parents=True, exist_ok=True)
        source = program_file(EXE)
        if source is None:
            raise FileNotFoundError(f"{EXE} (the demo camera) is not built")
        self.exe = self.folder / EXE
        shutil.copy2(source, self.exe)
        self.process = None
        self.window = None

    # ---- files --------------------------------------------------------------

    @property
    def recordings(self) -> Path:
        return self.folder / "recordings"

    def write_settings(self, name="", folder: Path | None = None) -> Path:
        """Vistrel<name>.ini naming the recordings folder (default: recordings/)."""
        folder = Path(folder or self.recordings)
        folder.mkdir(parents=True, exist_ok=True)
        path = self.folder / f"Vistrel{name}.ini"
        path.write_bytes(settings_record(winpath(folder)))
        return path

    def log_lines(self) -> list:
        """(milliseconds, text) of every line of its log."""
        path = self.folder / LOG
        if not path.exists():
            return []
        out = []
        for line in path.read_bytes().decode("cp932", errors="replace").split("\r\n"):
            stamp, _, text = line.partition(" ")
            if stamp.isdigit():
                out.append((int(stamp), text))
        return out

    def messages(self) -> list:
        """The messages received, in order, without time stamps."""
        return [t for _, t in self.log_lines() if not t.startswith(("START", "NOTE"))]

    def wait_messages(self, count: int, timeout=30.0) -> list:
        deadline = time.monotonic() + timeout
        while len(self.messages()) < count:
            if time.monotonic() > deadline:
                raise AssertionError(f"the camera received {self.messages()} within {timeout} s, "
                                     f"not {count} messages")
            time.sleep(0.05)
        return self.messages()

    def started(self) -> int:
        """How many times the program started in this folder."""
        return sum(1 for _, t in self.log_lines() if t.startswith("START"))

    # ---- life ---------------------------------------------------------------

    def start(self, name="", timeout=30.0) -> dict:
        before = {w["hwnd"] for w in self.driver.find(CLASS, visible_only=False)}
        self.process = self.wine.start(self.exe, [name] if name else [], cwd=self.folder)
        deadline = time.monotonic() + timeout
        while True:
            found = [w for w in self.driver.find(CLASS, timeout=1.0) if w["hwnd"] not in before]
            if found:
                self.window = found[0]
                return self.window
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise AssertionError(f"no demo camera window within {timeout} s "
                                     f"(process status {self.process.poll()})")

    def windows(self) -> list:
        return self.driver.find(CLASS)

    def running(self) -> bool:
        return bool(self.windows())

    def stop(self):
        """Closes every camera window of this test; kills the process it started."""
        for w in self.windows():
            try:
                self.driver.close(w["hwnd"], "wm")
                self.driver.wait_gone(w["hwnd"], 10)
            except Exception:
                pass
        if self.process is not None and self.process.poll() is None:
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def jpeg_size(data: bytes) -> tuple:
    """(width, height) of a JPEG picture; fails for anything else."""
    out = subprocess.run(["identify", "-format", "%m %w %h", "jpg:-"], input=data, capture_output=True,
                         check=True, timeout=60).stdout.decode().split()
    assert out[0] in ("JPEG", "JPG"), out
    return int(out[1]), int(out[2])


def jpeg_pixel(data: bytes, x: int, y: int) -> tuple:
    """(red, green, blue) of one pixel of a JPEG picture."""
    raw = subprocess.run(["convert", "jpg:-", "-crop", f"1x1+{x}+{y}", "-depth", "8", "rgb:-"], input=data,
                         capture_output=True, check=True, timeout=60).stdout
    return tuple(raw[:3])

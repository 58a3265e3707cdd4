"""An X server without a screen (Xvfb) for the GUI tests, and screenshots of it."""
import os
import re
import select
import subprocess
import tempfile
from pathlib import Path

from . import paths

SCREENSHOTS = paths.ROOT / "build" / "test-results" / "screenshots"


class Xvfb:
    """Xvfb on a display number it picks itself (-displayfd), so parallel
    runs on one machine do not collide."""

    def __init__(self, width=1024, height=768, depth=24, timeout=30.0):
        self.log_path = Path(tempfile.mkstemp(prefix="quorvel-xvfb-", suffix=".log")[1])
        read_fd, write_fd = os.pipe()
        try:
            with open(self.log_path, "wb") as log:
                self.process = subprocess.Popen(
                    ["Xvfb", "-displayfd", str(write_fd), "-screen", "0",
                     f"{width}x{height}x{depth}", "-nolisten", "tcp", "-noreset"],
                    stdin=subprocess.DEVNULL, stdout=log, stderr=log, pass_fds=(write_fd,))
            os.close(write_fd)
            write_fd = -1
            number = b""
            while not number.endswith(b"\n"):
                ready, _, _ = select.select([read_fd], [], [], timeout)
                chunk = os.read(read_fd, 16) if ready else b""
                if not chunk:
                    self.stop()
                    raise RuntimeError(f"Xvfb did not start: {self.log_path.read_text(errors='replace')}")
                number += chunk
        finally:
            os.close(read_fd)
            if write_fd >= 0:
                os.close(write_fd)
        self.display = f":{int(number)}"

    def screenshot(self, name: str) -> Path:
        """Saves the whole screen as build/test-results/screenshots/NAME.png."""
        SCREENSHOTS.mkdir(parents=True, exist_ok=True)
        path = SCREENSHOTS / (re.sub(r"[^\w.-]+", "_", name).strip("_") + ".png")
        subprocess.run(["import", "-display", self.display, "-window", "root", str(path)],
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60, check=True)
        return path

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.log_path.unlink(missing_ok=True)

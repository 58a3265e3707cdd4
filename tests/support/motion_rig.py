"""A private motion camera daemon on 127.0.0.1 for the tests, with a camera
made by ffmpeg (a test pattern served as MJPEG over HTTP).

    with MotionRig() as rig:                    # or the `motion_rig` fixture
        rig.url, rig.user, rig.password         # the control port (Digest)
        rig.get("detection/status")             # "... ACTIVE" or "... PAUSE"
        rig.snapshots(), rig.movies()           # files in target_dir, the on_movie_end list
        rig.stop(); rig.start()                 # motion again, same folders and port

motion runs as nobody from a world-searchable folder; its target_dir and the
movie list belong to nobody. ffmpeg serves one client at a time, so a loop
starts it again after every connection (motion connects twice)."""
import os
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import urllib.parse
from pathlib import Path

from support.dovecot import free_port

MOTION_UID = 65534  # nobody
MOTION_GID = 65534

CONFIG = """\
daemon off
setup_mode off
log_level 6
log_file {root}/run/motion.log
pid_file {root}/run/motion.pid
camera_id 1
camera_name test
netcam_url http://127.0.0.1:{camera_port}/cam.mjpg
width 320
height 240
framerate 10
target_dir {root}/media
picture_output off
movie_output on
movie_codec mp4
movie_max_time 0
snapshot_filename %v-%Y%m%d%H%M%S-%q-snapshot
on_movie_end echo %f >> {root}/media/movies.txt
stream_port 0
webcontrol_port {port}
webcontrol_localhost on
webcontrol_interface 1
webcontrol_parms 0
webcontrol_auth_method 2
webcontrol_authentication {user}:{password}
"""


class MotionRig:
    def __init__(self, user="cam", password="motion-secret-7"):
        self.user = user
        self.password = password
        self.root = None
        self.port = 0
        self.camera_port = 0
        self._motion = None
        self._camera_stop = threading.Event()
        self._camera_thread = None
        self._ffmpeg = None

    @property
    def url(self):
        return f"http://127.0.0.1:{self.port}"

    @property
    def media(self) -> Path:
        return self.root / "media"

    @property
    def movie_list(self) -> Path:
        return self.media / "movies.txt"

    # ---- life -------------------------------------------------------------

    def start(self, timeout=15.0, paused=False, wait_camera=True):
        if self.root is None:
            self.root = Path(tempfile.mkdtemp(prefix="quorvel-motion-"))
            self.root.chmod(0o755)
            for sub in ("media", "run"):
                (self.root / sub).mkdir()
                os.chown(self.root / sub, MOTION_UID, MOTION_GID)
            self.port = free_port()
            self.camera_port = free_port()
            self._start_camera()
        (self.root / "motion.conf").write_text(CONFIG.format(
            root=self.root, port=self.port, camera_port=self.camera_port, user=self.user,
            password=self.password))
        args = ["motion", "-n", "-c", str(self.root / "motion.conf")] + (["-m"] if paused else [])
        self._motion = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL, user=MOTION_UID, group=MOTION_GID,
                                        extra_groups=[], cwd=self.root)
        self.started = time.monotonic()
        deadline = self.started + timeout
        while True:
            try:
                if self.get("") and (not wait_camera or self._camera_delivers()):
                    return self
            except OSError:
                pass
            if self._motion.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError(f"motion not ready within {timeout} s: {self.log()[-2000:]}")
            time.sleep(0.1)

    def _camera_delivers(self) -> bool:
        """Whether motion has pictures: a snapshot asked for lands on disk
        (it is removed again)."""
        if "connected" not in self.log():
            return False
        before = set(self.snapshots())
        self.get("action/snapshot")
        deadline = time.monotonic() + 0.5
        while time.monotonic() < deadline:
            new = set(self.snapshots()) - before
            if new:
                for p in new:
                    p.unlink()
                (self.media / "lastsnap.jpg").unlink(missing_ok=True)
                return True
            time.sleep(0.01)
        return False

    def wait_events_ready(self):
        """motion ignores eventstart for about 5 s after it started."""
        while time.monotonic() < self.started + 6:
            time.sleep(0.1)

    def stop(self, kill=False):
        """Ends motion (SIGTERM, then SIGKILL after 10 s; at once with kill);
        the camera and the folders stay for a later start()."""
        if self._motion and self._motion.poll() is None:
            self._motion.send_signal(signal.SIGKILL if kill else signal.SIGTERM)
            try:
                self._motion.wait(10)
            except subprocess.TimeoutExpired:
                self._motion.kill()
                self._motion.wait()
        self._motion = None

    def close(self):
        self.stop()
        self._camera_stop.set()
        if self._ffmpeg and self._ffmpeg.poll() is None:
            self._ffmpeg.kill()
        if self._camera_thread:
            self._camera_thread.join(10)
        if self.root:
            shutil.rmtree(self.root, ignore_errors=True)
        self.root = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.close()

    def _start_camera(self):
        def loop():
            while not self._camera_stop.is_set():
                self._ffmpeg = subprocess.Popen(
                    ["ffmpeg", "-nostdin", "-loglevel", "quiet", "-re", "-f", "lavfi", "-i",
                     "testsrc=size=320x240:rate=10", "-f", "mpjpeg", "-q:v", "5", "-listen", "1",
                     f"http://127.0.0.1:{self.camera_port}/cam.mjpg"],
                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                while self._ffmpeg.poll() is None and not self._camera_stop.is_set():
                    time.sleep(0.1)
                if self._ffmpeg.poll() is None:
                    self._ffmpeg.kill()
                self._ffmpeg.wait()
        self._camera_thread = threading.Thread(target=loop, daemon=True)
        self._camera_thread.start()

    # ---- looking at motion -----------------------------------------------

    def get(self, path: str, timeout=5.0) -> str:
        """One request to the control port through curl (Digest), its body
        without surrounding blanks."""
        target = f"{self.url}/1/{path}" if path else f"{self.url}/"
        done = subprocess.run(["curl", "-sS", "--digest", "-u", f"{self.user}:{self.password}", "-m",
                               str(timeout), target], capture_output=True, timeout=timeout + 5)
        if done.returncode != 0:
            raise OSError(done.stderr.decode(errors="replace"))
        return done.stdout.decode(errors="replace").strip()

    def detection(self) -> str:
        """"ACTIVE" or "PAUSE"."""
        return self.get("detection/status").split()[-1]

    def snapshots(self) -> list:
        return sorted(p for p in self.media.glob("*-snapshot.jpg"))

    def movies(self) -> list:
        if not self.movie_list.exists():
            return []
        return [Path(line) for line in self.movie_list.read_text().split() if line]

    def log(self) -> str:
        path = self.root / "run" / "motion.log" if self.root else None
        return path.read_text(errors="replace") if path and path.exists() else ""


def quote(text: str) -> str:
    return urllib.parse.quote(text)

#!/usr/bin/python3
"""Load, rotate by 90 degrees and save a 1920 x 1080 JPEG at quality 100 with
Quorvel's image code and with ImageMagick (convert in.jpg -rotate -90
-quality 100 out.jpg) in the same run, and print the ratio; then the bilinear
scaling of 640 x 480 to 320 x 240. Needs the native build (build/native or
QUORVEL_BUILD_NATIVE)."""
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tests"))
from support import paths  # noqa: E402

ROUNDS = 21


def wall(cmd):
    start = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
    return (time.perf_counter() - start) * 1000


def main():
    bench = paths.native("bench/image/bench_image")
    with tempfile.TemporaryDirectory() as d:
        d = Path(d)
        src = d / "in.jpg"
        # A photo-like picture: a plasma with fine detail.
        subprocess.run(["/usr/bin/convert", "-seed", "3", "-size", "1920x1080", "plasma:fractal",
                        "-blur", "0x1", "-quality", "95", str(src)], check=True)
        ours_in = subprocess.run([bench, "rotate", src, d / "ours.jpg", str(ROUNDS)], check=True,
                                 capture_output=True, text=True).stdout.split()
        # In turn, one of each, so that a change in the machine's speed meets both.
        pairs = [(wall([bench, "rotate", src, d / "ours.jpg", "1"]),
                  wall(["/usr/bin/convert", src, "-rotate", "-90", "-quality", "100", d / "im.jpg"]))
                 for _ in range(ROUNDS)]
        ours_process = statistics.median(p[0] for p in pairs)
        magick = statistics.median(p[1] for p in pairs)
        ratio = statistics.median(p[1] / p[0] for p in pairs)
        scale = subprocess.run([bench, "scale", "200"], check=True, capture_output=True, text=True).stdout.split()
        print(f"1920x1080 JPEG load + rotate 90 + save q100 (median of {ROUNDS}, a process each run in turn with ImageMagick):")
        print(f"  Quorvel in one process   {float(ours_in[1]):8.1f} ms")
        print(f"  Quorvel, a process each  {ours_process:8.1f} ms")
        print(f"  ImageMagick convert      {magick:8.1f} ms")
        print(f"  ratio (process each)     {ratio:8.2f}x faster (median of the pairs' ratios)")
        print(f"640x480 -> 320x240 bilinear: median {float(scale[1]):.3f} ms, min {float(scale[3]):.3f} ms")


if __name__ == "__main__":
    main()

"""Pictures through the bitmap buffer and Imgvane.dll under Wine, checked
against ImageMagick's decoding and against the native build of the same
probe. The pictures are made here with ImageMagick and cjpeg."""
import shutil
import struct
import subprocess

import pytest

from support import paths

CONVERT = "/usr/bin/convert"
W, H = 61, 37  # odd width: every bit depth pads its rows


def im(*args):
    subprocess.run([CONVERT, *map(str, args)], check=True, capture_output=True)


def reference(path, *extra):
    return subprocess.run([CONVERT, str(path), *extra, "-depth", "8", "rgb:-"], check=True,
                          capture_output=True).stdout


def rgb_of_raw(data, w, h, orientation):
    """Red, green, blue bytes, rows top first, of 32-bit pixels as stored."""
    rows = [data[r * w * 4:(r + 1) * w * 4] for r in range(h)]
    if orientation == 1:
        rows.reverse()
    out = bytearray()
    for row in rows:
        for x in range(0, w * 4, 4):
            out += bytes((row[x + 2], row[x + 1], row[x]))
    return bytes(out)


def max_diff(a, b):
    assert len(a) == len(b)
    return max(abs(x - y) for x, y in zip(a, b))


def mean_diff(a, b):
    return sum(abs(x - y) for x, y in zip(a, b)) / len(a)


# BMP variants the tools do not write directly, made from what they write.
def header(data):
    off = struct.unpack_from("<I", data, 10)[0]
    size, w, h, _, bits, comp, _, _, _, used, _ = struct.unpack_from("<IiiHHIIiiII", data, 14)
    return off, size, w, h, bits, comp, used


def top_down(data):
    off, _, w, h, bits, _, _ = header(data)
    stride = (w * bits + 31) // 32 * 4
    rows = [data[off + r * stride:off + (r + 1) * stride] for r in range(h)]
    out = bytearray(data[:off]) + b"".join(reversed(rows))
    struct.pack_into("<i", out, 22, -h)
    return bytes(out)


def without_colour_count(data):
    out = bytearray(data)
    struct.pack_into("<I", out, 46, 0)
    return bytes(out)


def rebuilt(data, bits, rows):
    """A 40-byte-header BI_RGB file with the given rows and no colour table."""
    _, _, w, h, _, _, _ = header(data)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, bits, 0, len(rows), 2835, 2835, 0, 0)
    return b"BM" + struct.pack("<IHHI", 54 + len(rows), 0, 0, 54) + info + rows


def rgb32_from_24(data):
    off, _, w, h, _, _, _ = header(data)
    stride = (w * 24 + 31) // 32 * 4
    rows = b"".join(
        b"".join(data[off + r * stride + x * 3:off + r * stride + x * 3 + 3] + b"\x00" for x in range(w))
        for r in range(h))
    return rebuilt(data, 32, rows)


def rgb555_from_bitfields(data):
    off, _, w, h, _, _, _ = header(data)
    return rebuilt(data, 16, data[off:off + (w * 16 + 31) // 32 * 4 * h])


@pytest.fixture(scope="module")
def pictures(tmp_path_factory):
    d = tmp_path_factory.mktemp("pictures")
    im("-seed", "7", "-size", f"{W}x{H}", "plasma:fractal", d / "src.png")
    im(d / "src.png", "ppm:" + str(d / "src.ppm"))
    made = {
        "b24": ("-type", "TrueColor", "BMP3:"),
        "b8": ("-colors", "200", "-type", "Palette", "-compress", "none", "BMP3:"),
        "b4": ("-colors", "16", "-type", "Palette", "BMP3:"),
        "b1": ("-colors", "2", "-type", "Palette", "BMP3:"),
        "b16-565": ("-define", "bmp:subtype=RGB565", "BMP:"),
        "b16-555-v5": ("-define", "bmp:subtype=RGB555", "BMP:"),
        "b32-v5": ("-alpha", "on", "BMP:"),
    }
    for name, args in made.items():
        im(d / "src.png", *args[:-1], args[-1] + str(d / f"{name}.bmp"))
    b = lambda name: (d / f"{name}.bmp").read_bytes()
    variants = {
        "b32": rgb32_from_24(b("b24")),
        "b16-555": rgb555_from_bitfields(b("b16-555-v5")),
        "b4-nocount": without_colour_count(b("b4")),
        "b1-nocount": without_colour_count(b("b1")),
    }
    for name, data in variants.items():
        (d / f"{name}.bmp").write_bytes(data)
    for name in list(made) + list(variants):
        (d / f"{name}-top.bmp").write_bytes(top_down(b(name)))
    im(d / "src.png", "-colors", "200", "-type", "Palette", "BMP3:" + str(d / "b8-rle.bmp"))  # BI_RLE8
    assert header(b("b8-rle"))[5] == 1
    im(d / "src.png", "-quality", "92", d / "baseline.jpg")
    subprocess.run(f"cjpeg -progressive {d / 'src.ppm'} > {d / 'progressive.jpg'}", shell=True, check=True)
    subprocess.run(f"cjpeg -grayscale {d / 'src.ppm'} > {d / 'grey.jpg'}", shell=True, check=True)
    data = (d / "baseline.jpg").read_bytes()
    (d / "cut.jpg").write_bytes(data[:data.index(b"\xff\xda")])
    return d


def bmp_names(pictures):
    return sorted(p.stem for p in pictures.glob("*.bmp"))


def run_probe(wine, pictures, folder, lines, library=None, native=False):
    """Runs the probe on `lines` in a copy of the pictures; returns (output lines, folder)."""
    shutil.copytree(pictures, folder)
    (folder / "script.txt").write_bytes(("\n".join(lines) + "\n").encode("cp932"))  # paths are Shift_JIS
    if native:
        out = subprocess.run([paths.native("tests/image/image_probe"), "script.txt"], cwd=folder, check=True,
                             capture_output=True).stdout
    else:
        shutil.copy(paths.win("tests/image/image_probe.exe"), folder)
        if library:
            shutil.copy(library, folder / "Imgvane.dll")
        rc, out, err = wine.run(folder / "image_probe.exe", ["script.txt"], cwd=folder)
        assert rc == 0, err
    return out.decode("cp932").splitlines(), folder


def load_lines(names):
    return [f"load {n} {o} {n}.{o}.raw" for n in names for o in (-1, 1)]


def test_bmp_files_of_every_depth_and_row_order(wine, pictures, tmp_path):
    names = [f"{n}.bmp" for n in bmp_names(pictures)]
    lines = load_lines(names)
    out, win = run_probe(wine, pictures, tmp_path / "win", lines, paths.win("src/image/imgvane/Imgvane.dll"))
    native_out, native = run_probe(wine, pictures, tmp_path / "native", lines, native=True)
    assert out == [f"ok {W} {H}"] * len(lines)
    assert native_out == out
    for n in names:
        expected = reference(pictures / n)
        for o in (-1, 1):
            got = (win / f"{n}.{o}.raw").read_bytes()
            # The platform widens 5 and 6 bit channels its own way; ImageMagick rounds.
            assert max_diff(rgb_of_raw(got, W, H, o), expected) <= (1 if "b16" in n else 0), (n, o)
            assert rgb_of_raw((native / f"{n}.{o}.raw").read_bytes(), W, H, o) == rgb_of_raw(got, W, H, o), (n, o)


def test_jpeg_files_and_the_codec_functions(wine, pictures, tmp_path):
    jpegs = ["baseline.jpg", "progressive.jpg", "grey.jpg"]
    lines = load_lines(jpegs) + [
        "save24 b24.bmp 1 save-up.jpg",
        "save24 b24-top.bmp -1 save-down.jpg",
        "jstream b24.bmp 1 stream.jpg 100",
        "jstream b24.bmp -1 stream75.jpg 75",
        "rotate baseline.jpg rotated.jpg",
        "load cut.jpg -1 cut.raw",
    ]
    out, win = run_probe(wine, pictures, tmp_path / "win", lines, paths.win("src/image/imgvane/Imgvane.dll"))
    assert out[:6] == [f"ok {W} {H}"] * 6
    for n in jpegs:
        for o in (-1, 1):
            got = rgb_of_raw((win / f"{n}.{o}.raw").read_bytes(), W, H, o)
            assert max_diff(got, reference(pictures / n)) <= 2, (n, o)
    assert out[6:8] == [f"saved {W} {H}"] * 2
    assert out[8].startswith("stream ") and out[9].startswith("stream ")
    assert out[10] == f"saved {H} {W}"
    source = reference(pictures / "src.png")
    for name in ("save-up.jpg", "save-down.jpg", "stream.jpg"):
        assert max_diff(reference(win / name), source) <= 8, name
    stream = (win / "stream.jpg").read_bytes()
    assert int(out[8].split()[1]) == len(stream)
    assert stream[:2] == b"\xff\xd8" and stream[-2:] == b"\xff\xd9"
    im(pictures / "src.png", "-quality", "75", "-sampling-factor", "2x2", tmp_path / "im75.jpg")
    assert mean_diff(reference(win / "stream75.jpg"), source) < 1.5 * mean_diff(reference(tmp_path / "im75.jpg"), source)
    assert len((win / "stream75.jpg").read_bytes()) < len(stream)
    rotated = reference(win / "rotated.jpg")
    assert max_diff(rotated, reference(pictures / "baseline.jpg", "-rotate", "-90")) <= 8
    # A file cut before its scan header is refused by the analysis; its failure is noted, no box shown.
    assert out[11:] == ["failure " + b"SYSTEM_ERROR:  0013".hex().upper(), "fail load"]


def test_large_pictures_are_coded_as_by_the_native_build(wine, pictures, tmp_path):
    # Large enough to be decoded and encoded in two bands: the Windows threads
    # and the native ones must give the same bytes.
    big = tmp_path / "big"
    big.mkdir()
    im("-seed", "5", "-size", "1280x720", "plasma:fractal", "-quality", "95", big / "big.jpg")
    lines = load_lines(["big.jpg"]) + [
        "jstream big.jpg -1 big100.jpg 100",
        "jstream big.jpg 1 big75.jpg 75",
        "rotate big.jpg big-rotated.jpg",
    ]
    out, win = run_probe(wine, big, tmp_path / "win", lines, paths.win("src/image/imgvane/Imgvane.dll"))
    native_out, native = run_probe(wine, big, tmp_path / "native", lines, native=True)
    assert out == native_out
    assert out[:2] == ["ok 1280 720"] * 2 and out[4] == "saved 720 1280"
    for name in ("big.jpg.-1.raw", "big.jpg.1.raw", "big100.jpg", "big75.jpg", "big-rotated.jpg"):
        assert (win / name).read_bytes() == (native / name).read_bytes(), name
    decoded = rgb_of_raw((win / "big.jpg.-1.raw").read_bytes(), 1280, 720, -1)
    assert max_diff(decoded, reference(big / "big.jpg")) <= 2
    assert max_diff(reference(win / "big-rotated.jpg"), reference(big / "big.jpg", "-rotate", "-90")) <= 8


def test_shift_jis_file_names(wine, pictures, tmp_path):
    # 表 ends in the byte 0x5C, the path separator, in Shift_JIS.
    shutil.copy(pictures / "baseline.jpg", pictures / "表示.JPG")
    shutil.copy(pictures / "b24.bmp", pictures / "表.bmp")
    lines = ["load 表示.JPG -1 a.raw", "save24 表.bmp 1 写真表.jpg", "load 表.bmp -1 b.raw"]
    for native in (False, True):
        out, folder = run_probe(wine, pictures, tmp_path / str(native), lines,
                                paths.win("src/image/imgvane/Imgvane.dll"), native)
        assert out == [f"ok {W} {H}", f"saved {W} {H}", f"ok {W} {H}"], native
        assert max_diff(reference(folder / "写真表.jpg"), reference(pictures / "src.png")) <= 8


@pytest.mark.parametrize("library", [None, "missing-function"])
def test_missing_library_or_function_fails_and_writes_nothing(wine, pictures, tmp_path, library):
    dll = paths.win("tests/image/missing-function/Imgvane.dll") if library else None
    lines = ["load baseline.jpg -1 x.raw", "save24 b24.bmp 1 out.jpg", "jstream b24.bmp 1 out2.jpg 100",
             "load b24.bmp -1 y.raw"]
    out, folder = run_probe(wine, pictures, tmp_path / "win", lines, dll)
    assert out == ["fail load", "fail save24", "fail jstream", f"ok {W} {H}"]
    assert not (folder / "out.jpg").exists() and not (folder / "out2.jpg").exists()

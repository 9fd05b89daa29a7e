"""Documents and picture files through the program's own readers and writers."""
import os
import pathlib
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

import numpy as np
import pytest

import quarro
from conftest import Scene

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"


@pytest.mark.parametrize("pairs", [0, 1, 9])
def test_document_round_trip_keeps_every_bit(tmp_path, pairs):
    scene = Scene(seed=20 + pairs, pairs=pairs)
    path = tmp_path / "set-up.mrf"
    quarro.write_document(path, "pictures/a face.png", "/abs/b.jpg", scene.pairs_a, scene.pairs_b,
                          warp=0.25, dissolve=1.0, weights=(0.5, 1.0, 0.0))
    document = quarro.read_document(path)
    assert (document["image_a"], document["image_b"]) == ("pictures/a face.png", "/abs/b.jpg")
    for name in ("pairs_a", "pairs_b"):
        stored = document[name]
        assert stored.dtype == np.float32 and stored.shape == (pairs, 4)
        assert np.array_equal(stored, getattr(scene, name).astype(np.float32))
    assert (document["warp"], document["dissolve"], document["weights"]) == (0.25, 1.0, (0.5, 1.0, 0.0))
    assert os.path.getsize(path) == 44 + len("pictures/a face.png") + 1 + len("/abs/b.jpg") + 1 + 32 * pairs


def test_reads_the_demo_document():
    document = quarro.read_document(str(EXAMPLES / "demo.mrf"))
    assert document["image_a"] == "demo_a.png" and document["pairs_a"].shape == (4, 4)
    demo_a = quarro.read_image(EXAMPLES / document["image_a"])
    assert demo_a.dtype == np.uint8 and demo_a.ndim == 3 and demo_a.shape[2] == 4


@pytest.mark.parametrize("channels", [None, 1, 3, 4])
def test_image_round_trip_comes_back_as_rgba(tmp_path, channels):
    rng = np.random.default_rng(channels or 0)
    shape = (23, 37) if channels is None else (23, 37, channels)
    picture = rng.integers(0, 256, shape, dtype=np.uint8)
    path = tmp_path / "picture.png"
    quarro.write_image(path, picture[::-1][::-1])
    back = quarro.read_image(str(path))
    assert back.shape == (23, 37, 4)
    rgb = np.repeat(picture.reshape(23, 37, -1)[:, :, :1], 3, axis=2) if (channels or 1) == 1 else picture[:, :, :3]
    assert np.array_equal(back[:, :, :3], rgb)
    assert np.array_equal(back[:, :, 3], picture[:, :, 3] if channels == 4 else np.full((23, 37), 255))


def _file(path, content):
    path.write_bytes(content)
    return path


@pytest.mark.parametrize("bad, message", [
    ((), None),
    ((1,), "b.png'.*the file is empty"),
    ((0, 1), "a.png'.*first bytes match no image format"),
])
def test_read_images_reads_them_at_once_and_raises_the_first_failure(tmp_path, bad, message):
    rng = np.random.default_rng(5)
    pictures = [rng.integers(0, 256, (19 + k, 29, 4), dtype=np.uint8) for k in range(2)]
    paths = [tmp_path / "a.png", tmp_path / "b.png"]
    for picture, path in zip(pictures, paths):
        quarro.write_image(path, picture)
    if 0 in bad:
        paths[0].write_bytes(b"not a picture")
    if 1 in bad:
        paths[1].write_bytes(b"")
    if message is None:
        arrays = quarro.read_images(paths)
        assert len(arrays) == 2
        for array, picture, path in zip(arrays, pictures, paths):
            assert np.array_equal(array, picture) and np.array_equal(array, quarro.read_image(path))
    else:
        with pytest.raises(OSError, match=message):
            quarro.read_images(paths)


def _png_header(width, height):
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    chunk = b"IHDR" + header
    return b"\x89PNG\r\n\x1a\n" + struct.pack(">I", 13) + chunk + struct.pack(">I", zlib.crc32(chunk))


def _fifo(folder):
    path = folder / "pipe"
    os.mkfifo(path)
    return path


FILE_ERRORS = [
    # call, what makes it fail, the exception and a piece of its message
    ("read_image", lambda d: d / "missing.png", FileNotFoundError, "No such file"),
    ("read_image", lambda d: d, IsADirectoryError, "a folder"),
    ("read_image", _fifo, OSError, "a FIFO"),
    ("read_image", lambda d: _file(d / "junk.png", b"not a picture"), OSError, "match no image format"),
    ("read_image", lambda d: _file(d / "huge.png", _png_header(100000, 100000)), OSError,
     "claims 100000 x 100000 pixels"),
    ("read_image", lambda d: _file(d / "ascii.pnm", b"P1\n16384 16384\n01\n"), OSError,
     "the PNM header claims 16384 x 16384 pixels, which take at least 268435471 bytes; the file holds 18"),
    ("read_document", lambda d: d / "missing.mrf", FileNotFoundError, "No such file"),
    ("read_document", _fifo, OSError, "a FIFO"),
    ("read_document", lambda d: _file(d / "junk.mrf", b"MRF\0" + bytes(60)), OSError,
     "the path field of image A has length 0"),
    ("read_document", lambda d: _file(d / "junk.mrf", b"GIF89a" + bytes(40)), OSError, "does not begin with the bytes M, R, F"),
    ("write_image", lambda d: d / "no folder" / "x.png", FileNotFoundError, "no folder does not exist"),
    ("write_image", lambda d: d, IsADirectoryError, "is a folder, not a file name"),
    ("write_image", lambda d: _file(d / "plain", b"") / "x.png", NotADirectoryError, "is not a folder"),
    ("write_image", lambda d: d / "x.unknown", OSError, "no image format is written for the extension .unknown"),
    ("write_document", lambda d: d / "no folder" / "x.mrf", FileNotFoundError, "no folder does not exist"),
    ("write_document", lambda d: d, IsADirectoryError, "is a folder, not a file name"),
    ("write_animation", lambda d: d / "no folder" / "x.gif", FileNotFoundError, "no folder does not exist"),
]


@pytest.mark.parametrize("call, target, error, message", FILE_ERRORS)
def test_file_failures_raise_os_error(tmp_path, call, target, error, message):
    path = target(tmp_path)
    arguments = {
        "read_image": (path,),
        "read_document": (path,),
        "write_image": (path, np.zeros((3, 5, 3), np.uint8)),
        "write_document": (path, "a.png", "b.png", np.zeros((1, 4)), np.zeros((1, 4))),
        "write_animation": (path, [np.zeros((3, 5, 3), np.uint8)]),
    }[call]
    with pytest.raises(error) as raised:
        getattr(quarro, call)(*arguments)
    assert message in str(raised.value)
    assert not (tmp_path / "x.unknown").exists()


@pytest.mark.parametrize("change, message", [
    (dict(image_a="a\0b.png"), "zero character"),
    (dict(image_b="b" * 65535), "longer than a document holds"),
    (dict(pairs_b=np.zeros((2, 4))), "same number of rows"),
    (dict(warp=2.0), "warp must lie in [0, 1]"),
    (dict(weights=(-1, 2, 0.2)), "weight a must be greater than 0"),
])
def test_write_document_refuses_what_the_reader_would(tmp_path, change, message):
    arguments = dict(path=tmp_path / "x.mrf", image_a="a.png", image_b="b.png",
                     pairs_a=np.zeros((1, 4)), pairs_b=np.zeros((1, 4)))
    arguments.update(change)
    with pytest.raises(ValueError) as raised:
        quarro.write_document(**arguments)
    assert message in str(raised.value)
    assert not (tmp_path / "x.mrf").exists()


# Run as a user other than root, for whom a folder's permission bits hold.
UNPRIVILEGED = """
import os, sys
import numpy as np
if os.getuid() == 0:
    os.setgid(65534)
    os.setuid(65534)
try:
    import quarro
except ImportError:
    sys.exit("unreachable")
folder = sys.argv[1]
calls = {
    "read_image": lambda: quarro.read_image(os.path.join(folder, "secret.png")),
    "write_image": lambda: quarro.write_image(os.path.join(folder, "x.png"), np.zeros((2, 2, 3), np.uint8)),
    "write_document": lambda: quarro.write_document(os.path.join(folder, "x.mrf"), "a.png", "b.png",
                                                    np.zeros((0, 4)), np.zeros((0, 4))),
    "write_animation": lambda: quarro.write_animation(os.path.join(folder, "x.gif"), [np.zeros((2, 2, 3), np.uint8)]),
}
for name, call in calls.items():
    try:
        call()
        print(name, "no error")
    except Exception as error:
        print(name, type(error).__name__, "|", error)
"""


def _run_unprivileged(folder):
    """The calls of UNPRIVILEGED on `folder`: one line per call, its exception's name and message."""
    done = subprocess.run([sys.executable, "-c", UNPRIVILEGED, folder], capture_output=True, text=True,
                          timeout=60, env=dict(os.environ, PYTHONPATH=os.pathsep.join(map(os.path.abspath, sys.path[1:]))))
    if done.stderr.strip() == "unreachable":
        pytest.skip("the module's folder is not readable by the unprivileged user 65534")
    assert done.returncode == 0, done.stderr
    return done.stdout.split("\n")[:4]


def test_a_closed_folder_raises_permission_error(tmp_path):
    folder = tempfile.mkdtemp(prefix="quarro-closed-")  # outside pytest's private folder
    try:
        quarro.write_image(os.path.join(folder, "secret.png"), np.zeros((2, 2, 3), np.uint8))
        os.chmod(os.path.join(folder, "secret.png"), 0o200)
        os.chmod(folder, 0o555)
        lines = _run_unprivileged(folder)
        assert [line.split(" |")[0] for line in lines] == [
            f"{name} PermissionError" for name in ("read_image", "write_image", "write_document", "write_animation")]
        assert os.listdir(folder) == ["secret.png"]
    finally:
        os.chmod(folder, 0o755)
        shutil.rmtree(folder)


def test_a_read_only_file_raises_permission_error_and_stays(tmp_path):
    """In a folder the user may write, a file the user may not write is refused before any work."""
    folder = tempfile.mkdtemp(prefix="quarro-read-only-")
    try:
        targets = [os.path.join(folder, name) for name in ("x.png", "x.mrf", "x.gif")]
        for target in targets:
            pathlib.Path(target).write_bytes(b"earlier")
            os.chmod(target, 0o444)
        if os.getuid() == 0:
            for path in [folder] + targets:
                os.chown(path, 65534, 65534)
        lines = _run_unprivileged(folder)
        assert lines[1:] == [f"{name} PermissionError | [Errno 13] the file may not be written: Permission denied: '{target}'"
                             for name, target in zip(("write_image", "write_document", "write_animation"), targets)]
        assert all(pathlib.Path(target).read_bytes() == b"earlier" for target in targets)
        assert sorted(os.listdir(folder)) == ["x.gif", "x.mrf", "x.png"]
    finally:
        shutil.rmtree(folder)


ICC = pathlib.Path("/usr/share/color/icc")


def _jpeg_with_profile(jpeg: bytes, profile: bytes) -> bytes:
    body = b"ICC_PROFILE\0\x01\x01" + profile
    return jpeg[:2] + b"\xff\xe2" + struct.pack(">H", len(body) + 2) + body + jpeg[2:]


@pytest.mark.skipif(shutil.which("convert") is None or not ICC.is_dir(), reason="needs ImageMagick and ICC profiles")
def test_read_image_converts_tagged_pictures_unless_asked_for_the_stored_numbers(tmp_path):
    scene = tmp_path / "scene.png"
    quarro.write_image(scene, Scene(7, size_a=(96, 64)).image_a)
    tagged, plain = tmp_path / "adobe.png", tmp_path / "plain.png"
    subprocess.run(["convert", scene, "-profile", ICC / "sRGB.icc", "-profile",
                    ICC / "colord/AdobeRGB1998.icc", tagged], check=True)
    subprocess.run(["convert", tagged, "-strip", plain], check=True)
    converted = quarro.read_image(tagged).astype(int)
    stored = quarro.read_image(tagged, colour="stored")
    assert np.array_equal(stored, quarro.read_image(plain))
    assert np.array_equal(quarro.read_image(plain, colour="srgb"), quarro.read_image(plain))
    # Converted back, the numbers come near the scene's again; as stored they are far from them.
    original = quarro.read_image(scene).astype(int)
    assert np.abs(converted - original).mean() < 1.5 < np.abs(stored.astype(int) - original).mean()
    with pytest.raises(ValueError, match="colour must be 'srgb' or 'stored'"):
        quarro.read_image(tagged, colour="linear")
    # A CMYK profile in an RGB picture is a warning, and the picture comes as stored.
    lying = tmp_path / "lying.jpg"
    subprocess.run(["convert", scene, "-quality", "90", tmp_path / "plain.jpg"], check=True)
    lying.write_bytes(_jpeg_with_profile((tmp_path / "plain.jpg").read_bytes(),
                                         (ICC / "ghostscript/ps_cmyk.icc").read_bytes()))
    with pytest.warns(UserWarning, match="it describes CMYK colours, the picture holds RGB"):
        shown = quarro.read_image(lying)
    assert np.array_equal(shown, quarro.read_image(tmp_path / "plain.jpg"))


WRITE_SETTINGS = [
    # (file, keywords, lossless round trip)
    ("a.png", dict(level=9), True),
    ("a.tif", dict(compression="deflate"), True),
    ("a.webp", dict(lossless=True), True),
    ("a.bmp", {}, True),
    ("a.jpg", dict(quality=100, subsampling="4:4:4"), False),
    ("a.webp", dict(quality=95), False),
]


@pytest.mark.parametrize("name, keywords, lossless", WRITE_SETTINGS)
def test_write_image_takes_the_formats_settings(tmp_path, name, keywords, lossless):
    y, x = np.mgrid[0:40, 0:56]
    picture = np.stack([x * 4, y * 6, (x + y) * 2, np.full_like(x, 255)], axis=2).astype(np.uint8)
    quarro.write_image(tmp_path / name, picture, **keywords)
    back = quarro.read_image(tmp_path / name)
    error = np.abs(back.astype(int) - picture.astype(int))
    assert error.max() == 0 if lossless else error.mean() < 2.0


BAD_SETTINGS = [
    ("a.jpg", dict(quality=101), ValueError, "JPEG quality 101 is not in 1..100"),
    ("a.jpg", dict(quality=5000000), ValueError, "JPEG quality 5000000 is not in 1..100"),
    ("a.jpg", dict(quality=0), ValueError, "JPEG quality 0 is not in 1..100"),
    ("a.png", dict(level=10), ValueError, "PNG level 10 is not in 0..9"),
    ("a.png", dict(quality=90), ValueError, "a PNG file takes no quality (it takes: level)"),
    ("a.tif", dict(compression="zip"), ValueError, "TIFF compression 'zip' is not none, lzw, deflate or packbits"),
    ("a.webp", dict(lossless=True, quality=80), ValueError, "a lossless WebP file takes no quality"),
    ("a.jpg", dict(subsampling="4:2:2"), ValueError, "JPEG subsampling '4:2:2' is not 4:2:0 or 4:4:4"),
    ("a.jpg", dict(quality=90.0), TypeError, "quality must be a whole number, not float"),
    ("a.webp", dict(lossless=1), TypeError, "lossless must be True or False, not int"),
    ("a.tif", dict(compression=5), TypeError, "compression must be a string, not int"),
]


@pytest.mark.parametrize("name, keywords, error, message", BAD_SETTINGS)
def test_write_image_refuses_settings_in_the_tables_words(tmp_path, name, keywords, error, message):
    with pytest.raises(error) as raised:
        quarro.write_image(tmp_path / name, np.zeros((4, 4, 4), np.uint8), **keywords)
    assert str(raised.value) == message
    assert not (tmp_path / name).exists()

"""write_animation writes any iterable of frames through the animation writer the renderer uses."""
import json
import os
import shutil
import subprocess
from fractions import Fraction

import numpy as np
import pytest

import quarro
from conftest import Scene

pytestmark = pytest.mark.skipif(shutil.which("ffprobe") is None, reason="ffmpeg is not installed")

SCENE = Scene(seed=80, size_a=(96, 64), size_b=(96, 64), pairs=4)


def probe(path):
    """The frame count, size and codec ffprobe reads from the file."""
    done = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                           "stream=nb_read_frames,width,height,codec_name", "-of", "json", str(path)],
                          capture_output=True, text=True, timeout=60, check=True)
    stream = json.loads(done.stdout)["streams"][0]
    return int(stream["nb_read_frames"]), (stream["width"], stream["height"]), stream["codec_name"]


def frames(n, **options):
    return quarro.sequence(SCENE.image_a, SCENE.image_b, SCENE.pairs_a, SCENE.pairs_b, n, **options)


@pytest.mark.parametrize("name, source, count, codec", [
    ("loop.mp4", lambda: frames(5, bounce=True), 8, "h264"),
    ("loop.gif", lambda: frames(4), 4, "gif"),
    ("rgb.webm", lambda: (frame[:, :, :3] for frame in frames(3)), 3, "vp9"),
    ("list.mkv", lambda: list(frames(2)), 2, "h264"),
])
def test_every_frame_arrives(tmp_path, name, source, count, codec):
    path = tmp_path / name
    assert quarro.write_animation(path, source(), fps=12) == count
    assert probe(path) == (count, (96, 64), codec)
    assert os.listdir(tmp_path) == [name]


def test_same_file_as_the_renderer(tmp_path, render):
    document = SCENE.save(tmp_path)
    binary = os.environ["QUARRO_RENDER"]
    subprocess.run([binary, str(document), "-q", "-n", "4", "--bounce", "--fps", "10", "-o", str(tmp_path / "r.gif")],
                   check=True, timeout=60)
    quarro.write_animation(str(tmp_path / "m.gif"), frames(4, bounce=True), fps=10)
    assert (tmp_path / "m.gif").read_bytes() == (tmp_path / "r.gif").read_bytes()


def _bad_frames():
    yield SCENE.image_a
    yield SCENE.image_a[:32]


def _failing_frames():
    yield SCENE.image_a
    raise RuntimeError("the caller's generator failed")


@pytest.mark.parametrize("name, source, error, message", [
    ("empty.mp4", lambda: iter(()), ValueError, "frames holds no frame"),
    ("sizes.mp4", _bad_frames, ValueError, "frames[1] is 96 x 32 pixels; the first frame was 96 x 64"),
    ("raises.gif", _failing_frames, RuntimeError, "the caller's generator failed"),
    ("dtype.gif", lambda: [SCENE.image_a.astype(np.float32)], ValueError, "frames[0] must have dtype uint8"),
    ("still.png", lambda: [SCENE.image_a], ValueError, "path must end in .mp4, .mov, .mkv, .webm, .gif or .webp"),
    ("none.gif", lambda: None, TypeError, "'NoneType' object is not iterable"),
])
def test_a_failed_animation_leaves_no_file(tmp_path, name, source, error, message):
    with pytest.raises(error) as raised:
        quarro.write_animation(tmp_path / name, source())
    assert message in str(raised.value)
    assert os.listdir(tmp_path) == []


def rate(path):
    done = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "stream=r_frame_rate",
                           "-of", "csv=p=0", str(path)], capture_output=True, text=True, timeout=60, check=True)
    return done.stdout.strip()


def test_the_renderers_controls_reach_ffmpeg(tmp_path):
    still = [SCENE.image_a] * 6
    quarro.write_animation(tmp_path / "ntsc.mp4", still, fps=Fraction(30000, 1001))
    quarro.write_animation(tmp_path / "half.mp4", still, fps=12.5)
    quarro.write_animation(tmp_path / "vp9.mkv", still, codec="vp9")
    assert (rate(tmp_path / "ntsc.mp4"), rate(tmp_path / "half.mp4")) == ("30000/1001", "25/2")
    assert probe(tmp_path / "vp9.mkv")[2] == "vp9"
    noisy = [np.random.default_rng(i).integers(0, 256, (64, 96, 3), dtype=np.uint8) for i in range(4)]
    quarro.write_animation(tmp_path / "fine.mp4", noisy, quality=5)
    quarro.write_animation(tmp_path / "coarse.mp4", noisy, quality=45)
    assert (tmp_path / "coarse.mp4").stat().st_size < (tmp_path / "fine.mp4").stat().st_size / 2


@pytest.mark.parametrize("name, controls, error, message", [
    ("a.mp4", dict(codec="vp8"), ValueError, "codec 'vp8' is not one of h264, hevc, vp9, av1"),
    ("a.webm", dict(codec="h264"), ValueError, "codec h264: a .webm file does not carry h264 (h264 goes in .mp4 .mov .mkv)"),
    ("a.gif", dict(codec="h264"), ValueError, "codec applies to video files (.mp4 .mov .mkv .webm)"),
    ("a.mp4", dict(quality=52), ValueError, "quality 52 is out of range: the CRF of h264 is 0..51"),
    ("a.mp4", dict(quality=-1), ValueError, "quality -1 is out of range: the CRF of h264 is 0..51"),
    ("a.webp", dict(quality=2**40), ValueError, "quality 1099511627776 is out of range: WebP quality is 0..100"),
    ("a.gif", dict(quality=50), ValueError, "quality applies to video files and .webp animations"),
    ("a.mp4", dict(fps=0), ValueError, "fps 0 is not a rate in (0, 1000] frames a second"),
    ("a.mp4", dict(fps=0.1234567), ValueError, "fps 0.1234567 is not a rate"),
    ("a.mp4", dict(fps=Fraction(2001, 2)), ValueError, "fps 2001/2 is not a rate"),
    ("a.mp4", dict(fps=-25), ValueError, "fps -25 is not a rate"),
    ("a.mp4", dict(fps=10**30), ValueError, "is not a rate"),
    ("a.mp4", dict(quality=20.0), TypeError, "quality must be a whole number, not float"),
    ("a.mp4", dict(codec=264), TypeError, "codec must be a codec name (str), not int"),
])
def test_controls_the_renderer_refuses_are_refused(tmp_path, name, controls, error, message):
    with pytest.raises(error) as raised:
        quarro.write_animation(tmp_path / name, [SCENE.image_a], **controls)
    assert message in str(raised.value)
    # Python's errors name Python's keywords, never the renderer's options.
    assert "--" not in str(raised.value)
    assert os.listdir(tmp_path) == []

"""Frames of quarro.morph and quarro.sequence are byte for byte those of quarro-render."""
import os
import subprocess

import numpy as np
import pytest

import quarro
from conftest import Scene

CASES = [
    # scene, morph() keywords, the same request as renderer options
    (dict(seed=1), {}, []),
    (dict(seed=2, pairs=12), dict(t=0.3), ["-t", 0.3]),
    (dict(seed=3, channels=4), dict(warp=0.25, dissolve=0.8, size=(173, 97), threads=3),
     ["--warp", 0.25, "--dissolve", 0.8, "-s", "173x97", "-j", 3]),
    (dict(seed=4, pairs=0, size_a=(64, 33)), dict(t=1.0, threads=1), ["-t", 1.0, "-j", 1]),
    (dict(seed=5), dict(t=0.1, weights=(0.05, 1.5, 0.5)), ["-t", 0.1, "-a", 0.05, "-b", 1.5, "-p", 0.5]),
]


@pytest.mark.parametrize("scene_options, options, arguments", CASES)
def test_frame_equals_renderer(tmp_path, render, scene_options, options, arguments):
    scene = Scene(**scene_options)
    expected = render(scene.save(tmp_path), *arguments)
    frame = scene.morph(**options)
    assert frame.shape == expected.shape and frame.dtype == np.uint8
    assert np.array_equal(frame, expected)


def test_sequence_equals_renderer_frames(tmp_path, render):
    scene = Scene(seed=6, size_a=(97, 61), size_b=(131, 83))
    expected = render(scene.save(tmp_path), "-s", "80x50", frames=4)
    frames = quarro.sequence(scene.image_a, scene.image_b, scene.pairs_a, scene.pairs_b, 4, size=(80, 50))
    assert len(frames) == 4
    got = [next(frames), next(frames)]
    assert len(frames) == 4  # the length stays; frames[i] renders any of them
    got += list(frames)
    assert len(got) == 4
    assert np.array_equal(frames[1], expected[1]) and np.array_equal(frames[-1], expected[3])
    for index, (frame, wanted) in enumerate(zip(got, expected)):
        assert np.array_equal(frame, wanted), f"frame {index}"
    assert not np.array_equal(got[0], got[3])


@pytest.mark.parametrize("name, keywords, options", [
    ("f.tif", dict(compression="jpeg"), ["--compression", "jpeg"]),
    ("f.jpg", dict(quality=0), ["--quality", "0"]),
    ("f.jpg", dict(subsampling="4:2:2"), ["--subsampling", "4:2:2"]),
    ("f.png", dict(level=10), ["--png-level", "10"]),
    ("f.png", dict(compression="lzw"), ["--compression", "lzw"]),
    ("f.webp", dict(lossless=True, quality=80), ["--lossless", "--quality", "80"]),
])
def test_writer_settings_are_refused_in_the_same_words(tmp_path, name, keywords, options):
    """write_image and quarro-render refuse a setting by the words of the table of writable formats."""
    with pytest.raises(ValueError) as raised:
        quarro.write_image(tmp_path / name, Scene(seed=7).image_a, **keywords)
    done = subprocess.run([os.environ["QUARRO_RENDER"], "absent.mrf", "-o", str(tmp_path / name), *options],
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 2
    assert str(raised.value) in done.stderr.splitlines()[0]
    assert os.listdir(tmp_path) == []

"""bounce and frame_range of quarro.sequence give the frames of quarro-render's --bounce and --frame-range."""
import numpy as np
import pytest

import quarro
from conftest import Scene

CASES = [
    # sequence() keywords, the same request as renderer options, the frame numbers it writes
    (dict(bounce=True), ["--bounce"], range(6)),
    (dict(frame_range=(1, 2)), ["--frame-range", "1:2"], [1, 2]),
    (dict(bounce=True, frame_range=(3, 5)), ["--bounce", "--frame-range", "3:5"], [3, 4, 5]),
    (dict(frame_range=(0, 0), dissolve=0.25), ["--frame-range", "0:0", "--dissolve", 0.25], [0]),
]


@pytest.mark.parametrize("options, arguments, files", CASES)
def test_run_options_equal_renderer(tmp_path, render, options, arguments, files):
    scene = Scene(seed=60, size_a=(83, 59), size_b=(71, 67), pairs=5)
    expected = render(scene.save(tmp_path), "-s", "64x40", *arguments, frames=4, files=files)
    frames = quarro.sequence(scene.image_a, scene.image_b, scene.pairs_a, scene.pairs_b, 4, size=(64, 40), **options)
    assert len(frames) == len(expected)
    got = list(frames)
    assert len(got) == len(expected)
    for index, (frame, wanted) in enumerate(zip(got, expected)):
        assert np.array_equal(frame, wanted), f"frame {files[index]}"


def test_bounce_comes_back_through_the_same_frames():
    scene = Scene(seed=61, size_a=(45, 33), size_b=(45, 33), pairs=3)
    there = list(quarro.sequence(scene.image_a, scene.image_b, scene.pairs_a, scene.pairs_b, 5))
    loop = list(quarro.sequence(scene.image_a, scene.image_b, scene.pairs_a, scene.pairs_b, 5, bounce=True))
    assert len(loop) == 8
    for index, source in enumerate([0, 1, 2, 3, 4, 3, 2, 1]):
        assert np.array_equal(loop[index], there[source]), index
    single = quarro.sequence(scene.image_a, scene.image_b, scene.pairs_a, scene.pairs_b, 1, bounce=True)
    assert len(single) == 1


@pytest.mark.parametrize("n, options, message", [
    (4, dict(frame_range=(2, 4)), r"frame_range \(2, 4\) of a run of 4 frames: frame range must satisfy 0 <= F <= L < N"),
    (4, dict(frame_range=(3, 2)), "0 <= F <= L < N"),
    (4, dict(frame_range=(-1, 2)), "0 <= F <= L < N"),
    (4, dict(frame_range=(0, 6), bounce=True), "0 <= F <= L < 2N-2 with --bounce"),
    (4, dict(frame_range=(0, 10 ** 30)), "last frame is far out of range"),
])
def test_ranges_outside_the_run_are_refused(n, options, message):
    scene = Scene(seed=62, size_a=(20, 10), size_b=(20, 10), pairs=1)
    with pytest.raises(ValueError, match=message):
        quarro.sequence(scene.image_a, scene.image_b, scene.pairs_a, scene.pairs_b, n, **options)

"""Morphs from several Python threads at once give the frames they give one at a time."""
from concurrent.futures import ThreadPoolExecutor

import numpy as np

import quarro
from conftest import Scene


def test_concurrent_morphs_match_sequential_ones():
    scenes = [Scene(seed=40 + i, size_a=(131, 97), size_b=(89, 71), pairs=8) for i in range(4)]
    requests = [(scene, t, threads) for scene in scenes for t, threads in ((0.3, 2), (0.7, 4))]
    expected = [scene.morph(t=t, threads=threads) for scene, t, threads in requests]
    with ThreadPoolExecutor(max_workers=4) as pool:
        frames = list(pool.map(lambda r: r[0].morph(t=r[1], threads=r[2]), requests * 2))
    for index, frame in enumerate(frames):
        assert np.array_equal(frame, expected[index % len(requests)]), index


def test_one_sequence_shared_by_threads_yields_each_frame_once():
    scene = Scene(seed=50, size_a=(67, 43), size_b=(67, 43), pairs=3)
    alone = list(quarro.sequence(scene.image_a, scene.image_b, scene.pairs_a, scene.pairs_b, 9))
    shared = quarro.sequence(scene.image_a, scene.image_b, scene.pairs_a, scene.pairs_b, 9)

    def drain(_):
        frames = []
        while (frame := next(shared, None)) is not None:
            frames.append(frame)
        return frames

    with ThreadPoolExecutor(max_workers=3) as pool:
        got = [frame for part in pool.map(drain, range(3)) for frame in part]
    assert len(got) == 9
    matched = sorted(next(i for i, f in enumerate(alone) if np.array_equal(f, frame)) for frame in got)
    assert matched == list(range(9))

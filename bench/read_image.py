#!/usr/bin/env python3
"""quarro.read_image against Pillow's decode of the same file to an RGBA array.

Both give a new (H, W, 4) uint8 array. Each figure is the best of REPEATS wall times of one
call, the decoding helper's process included for quarro. Run from the repository root, with
the pictures bench/read_compare.sh makes:

    PYTHONPATH=build/python /usr/bin/python3 bench/read_image.py photo.png photo.jpg
"""
import os
import sys
import time

import numpy as np
from PIL import Image

import quarro

REPEATS = int(os.environ.get("REPEATS", "9"))


def best_ms(read, path):
    times = []
    for _ in range(REPEATS):
        start = time.perf_counter()
        pixels = read(path)
        times.append(time.perf_counter() - start)
        assert pixels.shape[2] == 4 and pixels.dtype == np.uint8
    return min(times) * 1000.0


def pillow(path):
    with Image.open(path) as image:
        return np.asarray(image.convert("RGBA"))


def main(paths):
    print("| file | quarro.read_image | Pillow | ratio |")
    print("|---|---|---|---|")
    for path in paths:
        ours, theirs = quarro.read_image(path), pillow(path)
        # The same pixels, or the comparison is of different work.
        difference = int(np.abs(ours.astype(int) - theirs.astype(int)).max()) if ours.shape == theirs.shape else -1
        ours_ms, pillow_ms = best_ms(quarro.read_image, path), best_ms(pillow, path)
        note = "" if difference == 0 else f" (pixels differ by up to {difference})"
        print(f"| {os.path.basename(path)} | {ours_ms:.1f} ms | {pillow_ms:.1f} ms | {ours_ms / pillow_ms:.2f}{note} |")


if __name__ == "__main__":
    main(sys.argv[1:])

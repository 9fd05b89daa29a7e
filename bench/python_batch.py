#!/usr/bin/env python3
"""A Python batch on 2 threads against 1: reading pictures, writing pictures, and whole jobs
(read two 1920 x 1080 pictures, morph them with one engine thread, write the frame as PNG).

Each kind runs TASKS (8) tasks on a pool of 1 thread, then of 2, and prints the wall time of
each and the speed-up; one run, so on a shared machine the figures are rough. The pictures are
made by ImageMagick (plasma with noise). Writing is timed for JPEG (one core a picture) and for
PNG, whose encoder already deflates its bands on every core.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_batch.py
"""
import os
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np

import quarro

TASKS = int(os.environ.get("TASKS", "8"))


def timed(pool_size, task):
    with ThreadPoolExecutor(max_workers=pool_size) as pool:
        start = time.perf_counter()
        list(pool.map(task, range(TASKS)))
        return time.perf_counter() - start


def main():
    with tempfile.TemporaryDirectory() as work:
        pictures = []
        for seed, name in ((17, "a.png"), (29, "b.png")):
            path = os.path.join(work, name)
            subprocess.run(["convert", "-seed", str(seed), "-size", "1920x1080", "plasma:fractal", "-blur", "0x2",
                            "-attenuate", "0.4", "+noise", "Gaussian", "-depth", "8", "PNG24:" + path], check=True)
            pictures.append(path)
        a, b = (quarro.read_image(path) for path in pictures)
        pairs_a = np.array([[0.2, 0.2, 0.8, 0.3], [0.3, 0.7, 0.7, 0.8]])
        pairs_b = np.array([[0.25, 0.15, 0.75, 0.35], [0.2, 0.6, 0.8, 0.9]])

        def read(i):
            quarro.read_image(pictures[i % 2])

        def write(extension):
            return lambda i: quarro.write_image(os.path.join(work, f"out{i}.{extension}"), a)

        def job(i):
            first, second = quarro.read_image(pictures[0]), quarro.read_image(pictures[1])
            frame = quarro.morph(first, second, pairs_a, pairs_b, t=(i + 1) / (TASKS + 1), threads=1)
            quarro.write_image(os.path.join(work, f"job{i}.png"), frame)

        print(f"{TASKS} tasks each; wall seconds on 1 thread, on 2 threads, and the speed-up")
        for label, task in (("read PNG", read), ("write JPEG", write("jpg")), ("write PNG", write("png")),
                            ("whole job", job)):
            one, two = timed(1, task), timed(2, task)
            print(f"{label:<12} {one:7.3f} {two:7.3f} {one / two:6.2f}x")
    return 0


if __name__ == "__main__":
    sys.exit(main())

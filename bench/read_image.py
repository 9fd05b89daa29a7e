#!/usr/bin/env python3
"""quarro.read_image against Pillow's decode of the same file to an RGBA array.

Both give a new (H, W, 4) uint8 array. The two take ROUNDS (3) turns of REPEATS (9) calls. Each wall
figure is the best wall time of one call, the decoding helper's process included for quarro;
each CPU figure the median CPU time of one call, of this process and its ended children (the
helpers) together. Run from the repository root, with the pictures bench/read_compare.sh makes:

    PYTHONPATH=build/python /usr/bin/python3 bench/read_image.py photo.png photo.jpg
"""
import ctypes
import os
import resource
import statistics
import sys
import time

import numpy as np
from PIL import Image

import quarro

REPEATS = int(os.environ.get("REPEATS", "9"))
ROUNDS = int(os.environ.get("ROUNDS", "3"))


# The helpers are not this process's children: started through a middle process that ends at
# once, they belong to init. As a subreaper this process adopts them, so that their CPU time,
# once they are reaped, counts with its own.
PR_SET_CHILD_SUBREAPER = 36
ADOPTS_HELPERS = ctypes.CDLL(None).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) == 0


def reap_helpers(wait_for_one=False):
    """Reaps the ended helpers; with wait_for_one, waits up to 50 ms for the first (a helper
    ends just after its picture's reply)."""
    deadline = time.perf_counter() + 0.05
    reaped = 0
    while ADOPTS_HELPERS:
        try:
            if os.waitpid(-1, os.WNOHANG)[0] != 0:
                reaped += 1
                continue
        except ChildProcessError:
            return
        if not wait_for_one or reaped > 0 or time.perf_counter() > deadline:
            return
        time.sleep(0.0002)


def cpu_seconds(wait_for_helper=False):
    reap_helpers(wait_for_helper)
    return sum(resource.getrusage(who).ru_utime + resource.getrusage(who).ru_stime
               for who in (resource.RUSAGE_SELF, resource.RUSAGE_CHILDREN))


def timed_ms(reads, path):
    """Per reader: (best wall ms, median CPU ms) of one call. Each reader makes REPEATS calls in
    a row, as a program reading many pictures would (the allocator then has its memory at
    hand), and the readers take ROUNDS turns, so that a change in the machine's load falls on
    both alike."""
    walls = {read: [] for read in reads}
    cpus = {read: [] for read in reads}
    for _ in range(ROUNDS):
        for read in reads:
            for _ in range(REPEATS):
                start_cpu = cpu_seconds()
                start = time.perf_counter()
                pixels = read(path)
                walls[read].append(time.perf_counter() - start)
                cpus[read].append(cpu_seconds(read is quarro.read_image) - start_cpu)
                assert pixels.shape[2] == 4 and pixels.dtype == np.uint8
    return [(min(walls[read]) * 1000.0, statistics.median(cpus[read]) * 1000.0) for read in reads]


def pillow(path):
    with Image.open(path) as image:
        return np.asarray(image.convert("RGBA"))


def main(paths):
    print("| file | quarro.read_image wall | Pillow wall | ratio | read_image CPU | Pillow CPU |")
    print("|---|---|---|---|---|---|")
    for path in paths:
        ours, theirs = quarro.read_image(path), pillow(path)
        # The same pixels, or the comparison is of different work.
        difference = int(np.abs(ours.astype(int) - theirs.astype(int)).max()) if ours.shape == theirs.shape else -1
        (ours_ms, ours_cpu), (pillow_ms, pillow_cpu) = timed_ms([quarro.read_image, pillow], path)
        note = "" if difference == 0 else f" (pixels differ by up to {difference})"
        print(f"| {os.path.basename(path)} | {ours_ms:.1f} ms | {pillow_ms:.1f} ms | {ours_ms / pillow_ms:.2f}{note} "
              f"| {ours_cpu:.1f} ms | {pillow_cpu:.1f} ms |")


if __name__ == "__main__":
    main(sys.argv[1:])

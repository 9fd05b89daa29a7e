#!/usr/bin/env python3
"""A Python batch on 2 threads against 1: reading pictures, writing pictures, and whole jobs
(read two 1920 x 1080 pictures, morph them with one engine thread, write the frame as PNG).

Each kind runs TASKS (8) tasks on a pool of 1 thread, then of 2, and prints the wall time of
each, the speed-up, and the CPU time a task took (this process and the decoding helpers
together) with the cores it kept busy on average (CPU over wall). One run, so on a shared
machine the figures are rough: the load average is printed first, and on a machine whose other
work takes cores, the speed-up says more of the load than of the program; a CPU time per task
that grows with the second thread would show work lost to contention. The pictures are made by
ImageMagick (plasma with noise). Writing is timed for JPEG (one core a picture) and for PNG,
whose encoder already deflates its bands on every core, so that a second thread cannot make it
faster on 2 cores. Files are written to BATCH_FOLDER (default: a temporary folder), each save
flushed to its disk: a folder on tmpfs (/dev/shm) times the work without the disk's waits.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_batch.py
"""
import ctypes
import os
import resource
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np

import quarro

TASKS = int(os.environ.get("TASKS", "8"))


# The decoding helpers are not this process's children (a middle process that ends at once
# starts them); as a subreaper this process adopts them, so that their CPU time counts too.
PR_SET_CHILD_SUBREAPER = 36
ADOPTS_HELPERS = ctypes.CDLL(None).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) == 0


def cpu_seconds():
    while ADOPTS_HELPERS:
        try:
            if os.waitpid(-1, os.WNOHANG)[0] == 0:
                break
        except ChildProcessError:
            break
    return sum(resource.getrusage(who).ru_utime + resource.getrusage(who).ru_stime
               for who in (resource.RUSAGE_SELF, resource.RUSAGE_CHILDREN))


def timed(pool_size, task):
    """(wall seconds, CPU seconds) of TASKS tasks on `pool_size` threads."""
    with ThreadPoolExecutor(max_workers=pool_size) as pool:
        cpu = cpu_seconds()
        start = time.perf_counter()
        list(pool.map(task, range(TASKS)))
        wall = time.perf_counter() - start
    time.sleep(0.05)  # the last helpers end just after their replies
    return wall, cpu_seconds() - cpu


def main():
    with tempfile.TemporaryDirectory() as work, tempfile.TemporaryDirectory(dir=os.environ.get("BATCH_FOLDER")) as out:
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
            return lambda i: quarro.write_image(os.path.join(out, f"out{i}.{extension}"), a)

        def job(i):
            first, second = quarro.read_image(pictures[0]), quarro.read_image(pictures[1])
            frame = quarro.morph(first, second, pairs_a, pairs_b, t=(i + 1) / (TASKS + 1), threads=1)
            quarro.write_image(os.path.join(out, f"job{i}.png"), frame)

        print(f"load average {os.getloadavg()[0]:.2f} on {os.cpu_count()} cores; {TASKS} tasks each, written to {out}")
        print(f"{'':<12} {'wall s':>15} {'speed-up':>8} {'CPU ms/task':>15} {'cores busy':>11}")
        print(f"{'':<12} {'1 thr':>7} {'2 thr':>7} {'':>8} {'1 thr':>7} {'2 thr':>7} {'1 thr':>5} {'2 thr':>5}")
        for label, task in (("read PNG", read), ("write JPEG", write("jpg")), ("write PNG", write("png")),
                            ("whole job", job)):
            (one, cpu_one), (two, cpu_two) = timed(1, task), timed(2, task)
            print(f"{label:<12} {one:7.3f} {two:7.3f} {one / two:7.2f}x {cpu_one * 1000 / TASKS:7.1f} "
                  f"{cpu_two * 1000 / TASKS:7.1f} {cpu_one / one:5.2f} {cpu_two / two:5.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

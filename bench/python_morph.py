#!/usr/bin/env python3
"""quarro.morph against a straightforward numpy version of the same line-pair warp.

Scenes like the engine benchmark's: two generated pictures of the frame's size and pairs
scattered over them, each moved and turned a little between A and B. The numpy version works
in float32 on whole images at once, one pair after another: interpolate the pair, project every
pixel centre on it, weigh it by (length^p / (a + distance))^b, add the pulls that stay inside
both pictures, then sample both bilinearly and cross-dissolve. Run from the repository root:

    PYTHONPATH=build/python /usr/bin/python3 bench/python_morph.py
"""
import os
import sys
import time

import numpy as np

import quarro

A, B, P = 0.01, 2.0, 0.2
SCENES = [("640 x 480 / 10", 640, 480, 10), ("1920 x 1080 / 50", 1920, 1080, 50)]


def make_scene(width, height, pairs, seed=1):
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:height, 0:width]

    def picture(offset):
        checks = ((x // 16 + y // 16 + offset) % 2) * 180 + rng.integers(0, 64, (height, width))
        channels = [x * 255 // width, y * 255 // height, checks, np.full_like(x, 255)]
        return np.stack(channels, axis=-1).astype(np.uint8)

    pos = rng.uniform(0.05, 0.95, (pairs, 2))
    length, angle = rng.uniform(0.03, 0.2, pairs), rng.uniform(0, 2 * np.pi, pairs)
    pos_b = pos + rng.uniform(-0.03, 0.03, (pairs, 2))
    angle_b, length_b = angle + rng.uniform(-0.3, 0.3, pairs), length * (1 + rng.uniform(-0.03, 0.03, pairs))

    def ends(p, l, t):
        return np.column_stack([p[:, 0], p[:, 1], p[:, 0] + l * np.cos(t), p[:, 1] + l * np.sin(t)])

    return picture(0), picture(1), ends(pos, length, angle), ends(pos_b, length_b, angle_b)


def segment(ends):
    """End points in working space (y downward) with direction, length and unit normal."""
    p = np.array([ends[0], 1 - ends[1]], np.float32)
    q = np.array([ends[2], 1 - ends[3]], np.float32)
    d = q - p
    length = np.float32(np.hypot(*d))
    return p, d, length, np.array([-d[1], d[0]], np.float32) / length


def sample(image, x, y):
    """Bilinear sample of an RGBA picture at pixel coordinates, clamped to its edges."""
    h, w = image.shape[:2]
    x = np.clip(x, 0, w - 1.001)
    y = np.clip(y, 0, h - 1.001)
    ix, iy = x.astype(np.int32), y.astype(np.int32)
    fx, fy = (x - ix)[..., None], (y - iy)[..., None]
    img = image[..., :3].astype(np.float32)
    top = img[iy, ix] + (img[iy, ix + 1] - img[iy, ix]) * fx
    bottom = img[iy + 1, ix] + (img[iy + 1, ix + 1] - img[iy + 1, ix]) * fx
    return top + (bottom - top) * fy


def numpy_morph(image_a, image_b, pairs_a, pairs_b, t=0.5):
    h, w = image_a.shape[:2]
    ys, xs = np.mgrid[0:h, 0:w].astype(np.float32)
    x = (xs + 0.5) / np.float32(w)
    y = (ys + 0.5) / np.float32(h)
    sum_a = np.zeros((2, h, w), np.float32)
    sum_b = np.zeros((2, h, w), np.float32)
    weights = np.full((h, w), 1e-5, np.float32)
    for ends_a, ends_b in zip(pairs_a, pairs_b):
        pa, da, la, na = segment(ends_a)
        pb, db, lb, nb = segment(ends_b)
        pt, dt, lt, nt = segment(ends_a + (ends_b - ends_a) * np.float32(t))
        rx, ry = x - pt[0], y - pt[1]
        u = (rx * dt[0] + ry * dt[1]) / (lt * lt)
        v = rx * nt[0] + ry * nt[1]
        qx, qy = x - (pt[0] + dt[0]), y - (pt[1] + dt[1])
        dist = np.where(u < 0, np.sqrt(rx * rx + ry * ry), np.where(u > 1, np.sqrt(qx * qx + qy * qy), np.abs(v)))
        weight = (np.float32(lt ** P) / (np.float32(A) + dist)) ** np.float32(B)
        xa, ya = pa[0] + da[0] * u + na[0] * v, pa[1] + da[1] * u + na[1] * v
        xb, yb = pb[0] + db[0] * u + nb[0] * v, pb[1] + db[1] * u + nb[1] * v
        inside = (weight >= 1e-3) & (xa >= 0) & (xa <= 1) & (ya >= 0) & (ya <= 1) & \
                 (xb >= 0) & (xb <= 1) & (yb >= 0) & (yb <= 1)
        weight = np.where(inside, weight, np.float32(0))
        sum_a += np.stack([xa - x, ya - y]) * weight
        sum_b += np.stack([xb - x, yb - y]) * weight
        weights += weight
    ha, wa = image_a.shape[:2]
    hb, wb = image_b.shape[:2]
    colour_a = sample(image_a, (x + sum_a[0] / weights) * wa, (y + sum_a[1] / weights) * ha)
    colour_b = sample(image_b, (x + sum_b[0] / weights) * wb, (y + sum_b[1] / weights) * hb)
    frame = np.empty((h, w, 4), np.uint8)
    frame[..., :3] = colour_a + (colour_b - colour_a) * np.float32(t)
    frame[..., 3] = 255
    return frame


def best_time(function, runs):
    best = float("inf")
    for _ in range(runs):
        start = time.perf_counter()
        result = function()
        best = min(best, time.perf_counter() - start)
    return best, result


def main():
    print(f"numpy {np.__version__}, Python {sys.version.split()[0]}, {os.cpu_count()} cores, load average "
          f"{os.getloadavg()[0]:.1f}; best wall time of the runs shown")
    # The engine's reciprocal lengths are approximations (by design), so the two frames differ a
    # little in position; the smooth R and G gradients show by how much, the noisy B would not.
    print("| frame / pairs | quarro.morph (4 threads) | numpy float32 | ratio | mean R, G difference |")
    print("|---|---|---|---|---|")
    for name, width, height, pairs in SCENES:
        a, b, pairs_a, pairs_b = make_scene(width, height, pairs)
        engine_runs, numpy_runs = (20, 3) if width < 1000 else (10, 1)
        engine, frame = best_time(lambda: quarro.morph(a, b, pairs_a, pairs_b, t=0.5), engine_runs)
        reference, slow = best_time(lambda: numpy_morph(a, b, pairs_a, pairs_b, t=0.5), numpy_runs)
        difference = np.abs(frame.astype(np.int16) - slow.astype(np.int16))[..., :2].mean()
        print(f"| {name} | {engine * 1e3:.1f} ms ({engine_runs} runs) | {reference * 1e3:.0f} ms ({numpy_runs}) "
              f"| {reference / engine:.0f}x | {difference:.2f} |")


if __name__ == "__main__":
    main()

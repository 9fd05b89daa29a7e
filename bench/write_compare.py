#!/usr/bin/env python3
"""quarro.write_image against Pillow's save, for a 1920 x 1080 photo-like picture, in one run.

The picture is made by ImageMagick (plasma with noise, as a camera's picture has grain) and read
by quarro.read_image, which gives an opaque (H, W, 4) array; Pillow saves the same pixels as an
RGB image made beforehand (Pillow cannot save RGBA as JPEG). Each figure is the best wall time
of REPEATS (7) saves, turn about, into a temporary folder; sizes are the files' bytes.
Installs Pillow (python3-pil) if it is missing: it is a benchmark dependency only.

    PYTHONPATH=build/python /usr/bin/python3 bench/write_compare.py
"""
import os
import subprocess
import sys
import tempfile
import time

try:
    from PIL import Image
except ImportError:
    sudo = [] if os.geteuid() == 0 else ["sudo"]
    subprocess.run(sudo + ["apt-get", "install", "-y", "python3-pil"], check=True,
                   env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))
    from PIL import Image

import quarro

REPEATS = int(os.environ.get("REPEATS", "7"))

# (label, file name, quarro keywords, Pillow keywords)
CASES = [
    ("PNG level 6", "png", dict(level=6), dict(compress_level=6)),
    ("JPEG 95", "jpg", dict(quality=95), dict(quality=95)),
    ("TIFF", "tif", {}, {}),
    ("BMP", "bmp", {}, {}),
    ("WebP lossless", "webp", dict(lossless=True), dict(lossless=True)),
    ("WebP 90", "webp", dict(quality=90), dict(quality=90)),
]


def best(save, path):
    times = []
    for _ in range(REPEATS):
        start = time.perf_counter()
        save(path)
        times.append(time.perf_counter() - start)
    return min(times) * 1000, os.path.getsize(path)


def main():
    with tempfile.TemporaryDirectory() as work:
        photo = os.path.join(work, "photo.ppm")
        subprocess.run(["convert", "-seed", "17", "-size", "1920x1080", "plasma:fractal", "-blur", "0x2",
                        "-seed", "5", "-attenuate", "0.4", "+noise", "Gaussian", "-depth", "8", photo], check=True)
        array = quarro.read_image(photo)
        rgb = Image.fromarray(array[:, :, :3].copy(), "RGB")
        print(f"{'format':<15} {'quarro ms':>10} {'Pillow ms':>10} {'ratio':>6} {'quarro bytes':>13} {'Pillow bytes':>13}")
        for label, extension, ours, theirs in CASES:
            mine = os.path.join(work, "quarro." + extension)
            other = os.path.join(work, "pillow." + extension)
            ours_ms, ours_size = best(lambda p: quarro.write_image(p, array, **ours), mine)
            theirs_ms, theirs_size = best(lambda p: rgb.save(p, **theirs), other)
            print(f"{label:<15} {ours_ms:>10.1f} {theirs_ms:>10.1f} {ours_ms / theirs_ms:>6.2f} "
                  f"{ours_size:>13} {theirs_size:>13}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

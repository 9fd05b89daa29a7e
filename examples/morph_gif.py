#!/usr/bin/env python3
"""Morphs the demo's two faces along a few hand-placed landmark segments and writes a GIF.

The landmarks are written by hand in pixel coordinates (x to the right, y downward, as an
image viewer shows them) and converted to the normalized end points that quarro and its
documents use. Frames come from quarro.sequence one at a time and go straight to ffmpeg as raw
RGBA; ffmpeg makes a palette from the frames themselves and loops the GIF forever. From the
repository root, after a build with -DQUARRO_BUILD_PYTHON=ON:

    PYTHONPATH=build/python /usr/bin/python3 examples/morph_gif.py examples/demo_a.png examples/demo_b.png morph.gif
"""
import argparse
import shutil
import subprocess
import sys

import numpy as np

import quarro

# (from x, from y, to x, to y) in each picture's own pixels; line i of A matches line i of B.
LANDMARKS_A = [
    (80, 90, 119, 90),     # left eye to right eye
    (80, 133, 120, 133),   # mouth, left to right corner
    (100, 45, 100, 163),   # top of the head to the chin
    (60, 104, 140, 104),   # the face's left edge to its right edge
    (0, 215, 318, 215),    # the horizon stays where it is
]
LANDMARKS_B = [
    (160, 90, 239, 90),
    (159, 142, 239, 142),
    (200, 52, 200, 171),
    (120, 112, 280, 112),
    (0, 215, 318, 215),
]


def normalized(landmarks, image):
    """Pixel end points as quarro takes them: 0..1 across, y from 0 at the bottom to 1 at the top."""
    height, width = image.shape[:2]
    points = np.asarray(landmarks, np.float64)
    return np.column_stack([points[:, 0] / width, 1 - points[:, 1] / height,
                            points[:, 2] / width, 1 - points[:, 3] / height])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("image_a")
    parser.add_argument("image_b")
    parser.add_argument("output", help="the GIF to write")
    parser.add_argument("-n", "--frames", type=int, default=24)
    parser.add_argument("--fps", type=int, default=12)
    args = parser.parse_args()
    if shutil.which("ffmpeg") is None:
        sys.exit("morph_gif: ffmpeg is not installed (Debian: apt-get install ffmpeg)")

    image_a, image_b = quarro.read_image(args.image_a), quarro.read_image(args.image_b)
    pairs_a, pairs_b = normalized(LANDMARKS_A, image_a), normalized(LANDMARKS_B, image_b)
    height, width = image_a.shape[:2]
    palette = "split[frames][copy];[copy]palettegen=stats_mode=full[palette];[frames][palette]paletteuse"
    ffmpeg = subprocess.Popen(
        ["ffmpeg", "-v", "error", "-y", "-f", "rawvideo", "-pix_fmt", "rgba", "-s", f"{width}x{height}",
         "-r", str(args.fps), "-i", "-", "-filter_complex", palette, "-loop", "0", args.output],
        stdin=subprocess.PIPE)
    try:
        for index, frame in enumerate(quarro.sequence(image_a, image_b, pairs_a, pairs_b, args.frames)):
            # The two faces themselves stay a moment before the loop starts again.
            hold = args.fps // 2 if index in (0, args.frames - 1) else 1
            ffmpeg.stdin.write(frame.tobytes() * hold)
    finally:
        ffmpeg.stdin.close()
    if ffmpeg.wait() != 0:
        sys.exit("morph_gif: ffmpeg failed")
    print(f"wrote {args.output}: {args.frames} frames of {width} x {height}")


if __name__ == "__main__":
    main()

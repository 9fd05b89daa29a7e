#!/usr/bin/env python3
"""Morphs two pictures along a few hand-placed landmark segments into a looping GIF.

The landmarks are written by hand in pixel coordinates (x to the right, y downward, as an
image viewer shows them) for the demo's two faces, and converted to the normalized end points
that quarro and its documents use. quarro.write_document stores them, with the two pictures'
paths, in a morph document; quarro-render then renders the frames A -> B -> A straight into a
GIF (through ffmpeg, with a palette made from the frames). From the repository root, after a
build with -DQUARRO_BUILD_PYTHON=ON:

    PYTHONPATH=build/python /usr/bin/python3 examples/morph_gif.py examples/demo_a.png examples/demo_b.png morph.gif
"""
import argparse
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

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


def renderer():
    """The quarro-render of this checkout's build, else the one on the PATH."""
    built = pathlib.Path(__file__).resolve().parents[1] / "build" / "cli" / "quarro-render"
    return str(built) if os.access(built, os.X_OK) else shutil.which("quarro-render")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("image_a")
    parser.add_argument("image_b")
    parser.add_argument("output", help="the GIF to write")
    parser.add_argument("-n", "--frames", type=int, default=24)
    parser.add_argument("--fps", type=int, default=12)
    args = parser.parse_args()
    program = renderer()
    if program is None:
        sys.exit("morph_gif: quarro-render was found neither in build/cli nor on the PATH")

    image_a, image_b = quarro.read_image(args.image_a), quarro.read_image(args.image_b)
    with tempfile.TemporaryDirectory() as folder:
        document = os.path.join(folder, "landmarks.mrf")
        quarro.write_document(document, os.path.abspath(args.image_a), os.path.abspath(args.image_b),
                              normalized(LANDMARKS_A, image_a), normalized(LANDMARKS_B, image_b))
        done = subprocess.run([program, document, "-q", "-n", str(args.frames), "--bounce",
                               "--fps", str(args.fps), "-o", args.output])
    if done.returncode != 0:
        sys.exit(f"morph_gif: quarro-render failed with status {done.returncode}")
    print(f"wrote {args.output}: {2 * args.frames - 2} frames of {image_a.shape[1]} x {image_a.shape[0]}")


if __name__ == "__main__":
    main()

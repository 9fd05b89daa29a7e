#!/usr/bin/env python3
"""Morphs two pictures along a few hand-placed landmark segments into a looping animation.

The landmarks are written by hand in pixel coordinates (x to the right, y downward, as an image
viewer shows them and numpy indexes image[y, x]) for the demo's two faces. The script keeps them
in a morph document (normalized by quarro.pairs_from_pixels, as documents store them) that
quarro-render and the window can open too, reads it back, writes the middle frame as a still and
the frames A -> B -> A as one animation (GIF, MP4, WebM, ... by the output's extension). With
quarro installed (pip install --no-build-isolation .), from the repository root:

    python3 examples/morph_gif.py examples/demo_a.png examples/demo_b.png morph.gif
"""
import argparse
import os
import tempfile
from typing import List, Optional, Tuple

import quarro

Segment = Tuple[float, float, float, float]

# (from x, from y, to x, to y) in each picture's own pixels; line i of A matches line i of B.
LANDMARKS_A: List[Segment] = [
    (80, 90, 119, 90),     # left eye to right eye
    (80, 133, 120, 133),   # mouth, left to right corner
    (100, 45, 100, 163),   # top of the head to the chin
    (60, 104, 140, 104),   # the face's left edge to its right edge
    (0, 215, 318, 215),    # the horizon stays where it is
]
LANDMARKS_B: List[Segment] = [
    (160, 90, 239, 90),
    (159, 142, 239, 142),
    (200, 52, 200, 171),
    (120, 112, 280, 112),
    (0, 215, 318, 215),
]


def main(argv: Optional[List[str]] = None) -> None:
    parser = argparse.ArgumentParser(description=(__doc__ or "").splitlines()[0])
    parser.add_argument("image_a")
    parser.add_argument("image_b")
    parser.add_argument("output", help="the animation to write (.gif .webp .mp4 .mov .mkv .webm)")
    parser.add_argument("-n", "--frames", type=int, default=24, help="frames from A to B (default 24)")
    parser.add_argument("--fps", type=float, default=12.0)
    parser.add_argument("--document", help="keep the landmarks in this .mrf document")
    parser.add_argument("--middle", help="also write the middle frame to this picture")
    args = parser.parse_args(argv)

    image_a, image_b = quarro.read_image(args.image_a), quarro.read_image(args.image_b)
    pairs_a = quarro.pairs_from_pixels(LANDMARKS_A, image_a.shape[1], image_a.shape[0])
    pairs_b = quarro.pairs_from_pixels(LANDMARKS_B, image_b.shape[1], image_b.shape[0])
    with tempfile.TemporaryDirectory() as folder:
        path = args.document or os.path.join(folder, "landmarks.mrf")
        quarro.write_document(path, os.path.abspath(args.image_a), os.path.abspath(args.image_b), pairs_a, pairs_b)
        document = quarro.read_document(path)

    if args.middle:
        # The pixel landmarks can go to the engine as they are.
        middle = quarro.morph(image_a, image_b, LANDMARKS_A, LANDMARKS_B, t=0.5, units="pixels")
        quarro.write_image(args.middle, middle)

    frames = quarro.sequence(image_a, image_b, document["pairs_a"], document["pairs_b"], args.frames, bounce=True)
    count = quarro.write_animation(args.output, frames, fps=args.fps)
    print(f"wrote {args.output}: {count} frames of {image_a.shape[1]} x {image_a.shape[0]}")


if __name__ == "__main__":
    main()

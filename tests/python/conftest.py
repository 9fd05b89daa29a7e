"""What the module's tests share: random scenes at odd sizes and a runner for quarro-render."""
import os
import subprocess

import numpy as np
import pytest

import quarro


class Scene:
    """Two random pictures with smooth content and n random pairs, plus the files of them."""

    def __init__(self, seed, size_a=(319, 239), size_b=(201, 157), pairs=6, channels=3):
        rng = np.random.default_rng(seed)
        self.image_a = _picture(rng, size_a, channels)
        self.image_b = _picture(rng, size_b, channels)
        self.pairs_a = rng.uniform(0.05, 0.95, (pairs, 4))
        self.pairs_b = np.clip(self.pairs_a + rng.normal(0.0, 0.08, (pairs, 4)), -0.1, 1.1)

    def morph(self, **options):
        return quarro.morph(self.image_a, self.image_b, self.pairs_a, self.pairs_b, **options)

    def save(self, folder):
        """Writes both pictures and a document naming them; returns the document's path."""
        quarro.write_image(folder / "a.png", self.image_a)
        quarro.write_image(folder / "b.png", self.image_b)
        document = folder / "scene.mrf"
        quarro.write_document(document, str(folder / "a.png"), str(folder / "b.png"), self.pairs_a, self.pairs_b)
        return document


def _picture(rng, size, channels):
    width, height = size
    y, x = np.mgrid[0:height, 0:width]
    waves = [np.sin(x / rng.uniform(3, 30) + y / rng.uniform(3, 30) + rng.uniform(0, 6)) for _ in range(channels)]
    smooth = np.stack(waves, axis=-1) * 100 + 128
    return np.clip(smooth + rng.normal(0, 20, smooth.shape), 0, 255).astype(np.uint8)


@pytest.fixture
def render(tmp_path):
    """Runs the quarro-render the build made; returns its output files read back as arrays."""
    binary = os.environ.get("QUARRO_RENDER")
    if not binary:
        pytest.fail("QUARRO_RENDER must name the built quarro-render (ctest sets it)")

    def run(document, *options, frames=0, files=None):
        """files: the frame numbers written (default: 0 .. frames - 1)."""
        pattern = tmp_path / ("frame_%d.png" if frames else "frame.png")
        arguments = [binary, str(document), "-q", "-o", str(pattern), *map(str, options)]
        if frames:
            arguments += ["-n", str(frames)]
        done = subprocess.run(arguments, capture_output=True, text=True, timeout=60)
        assert done.returncode == 0, done.stderr
        if not frames:
            return quarro.read_image(pattern)
        written = sorted(int(path.stem.split("_")[1]) for path in tmp_path.glob("frame_*.png"))
        assert written == list(files if files is not None else range(frames))
        return [quarro.read_image(str(pattern) % i) for i in written]

    return run

"""Pairs in pixels (y down, as numpy indexes pictures) are the document's normalized pairs."""
import numpy as np
import pytest

import quarro
from conftest import Scene

# Picture A is 319 x 239 and picture B 201 x 157: each list is scaled by its own picture.
SCENE = Scene(seed=70, pairs=5)
PIXELS_A = np.array([[12, 30, 300, 41], [160.5, 0, 160.5, 238], [0, 239, 319, 0], [40, 200, 90, 210], [-5, 7, 330, 7]])
PIXELS_B = np.array([[20, 31, 180, 40], [100, 3, 101, 150], [0, 157, 201, 0], [30, 120, 60, 140], [-2, 9, 210, 9]])


def normalized(pixels, width, height):
    """The conversion written out: x over the width, y over the height and turned upward."""
    x0, y0, x1, y1 = pixels.T
    return np.stack([x0 / width, 1 - y0 / height, x1 / width, 1 - y1 / height], axis=1)


def test_pairs_from_pixels_is_the_normalized_form():
    for pixels, (width, height) in ((PIXELS_A, (319, 239)), (PIXELS_B, (201, 157))):
        converted = quarro.pairs_from_pixels(pixels, width, height)
        assert converted.dtype == np.float64 and converted.shape == pixels.shape
        assert np.array_equal(converted, normalized(pixels, width, height))
    corners = quarro.pairs_from_pixels([[0, 0, 100, 50]], 100, 50)
    assert corners.tolist() == [[0.0, 1.0, 1.0, 0.0]]  # top left to bottom right


@pytest.mark.parametrize("options", [dict(t=0.35), dict(warp=0.8, dissolve=0.1, size=(150, 90), threads=3)])
def test_pixel_pairs_give_the_frame_of_their_normalized_form(options):
    expected = quarro.morph(SCENE.image_a, SCENE.image_b, normalized(PIXELS_A, 319, 239),
                            normalized(PIXELS_B, 201, 157), **options)
    frame = quarro.morph(SCENE.image_a, SCENE.image_b, PIXELS_A, PIXELS_B, units="pixels", **options)
    assert np.array_equal(frame, expected)
    # The units matter: the same numbers read as normalized are another morph.
    assert not np.array_equal(frame, quarro.morph(SCENE.image_a, SCENE.image_b, PIXELS_A / 400, PIXELS_B / 400,
                                                  **options))


def test_sequence_takes_pixel_pairs_too():
    wanted = quarro.sequence(SCENE.image_a, SCENE.image_b, normalized(PIXELS_A, 319, 239),
                             normalized(PIXELS_B, 201, 157), 3, size=(60, 40))
    got = quarro.sequence(SCENE.image_a, SCENE.image_b, PIXELS_A.tolist(), PIXELS_B, 3, size=(60, 40), units="pixels")
    for frame, expected in zip(got, wanted):
        assert np.array_equal(frame, expected)


@pytest.mark.parametrize("call, error, message", [
    (lambda: SCENE.morph(units="pixel"), ValueError, 'units must be "normalized" or "pixels", not "pixel"'),
    (lambda: SCENE.morph(units=1), TypeError, 'units must be "normalized" or "pixels", not int'),
    (lambda: quarro.pairs_from_pixels(PIXELS_A, 0, 10), ValueError, "above 0"),
    (lambda: quarro.pairs_from_pixels(PIXELS_A[:, :3], 10, 10), ValueError, "(N, 4)"),
    (lambda: quarro.pairs_from_pixels("a", 10, 10), TypeError, "pairs must be an (N, 4) array of end points, not str"),
])
def test_wrong_units_and_sizes_are_refused(call, error, message):
    with pytest.raises(error) as raised:
        call()
    assert message in str(raised.value)

"""Arrays in any layout give the same frame; every bad argument is a ValueError that says why."""
import math

import numpy as np
import pytest

import quarro
from conftest import Scene

SCENE = Scene(seed=11, size_a=(61, 47), size_b=(53, 41), pairs=4, channels=4)


def _strided(image):
    """The same pixels as a view with negative row and column strides."""
    return np.ascontiguousarray(image[::-1, ::-1])[::-1, ::-1]


LAYOUTS = [
    ("rgba C order", lambda image: image),
    ("rgb only (alpha is not read)", lambda image: image[:, :, :3].copy()),
    ("rgb view of rgba", lambda image: image[:, :, :3]),
    ("Fortran order", np.asfortranarray),
    ("negative strides", _strided),
    ("window of a larger array", lambda image: np.pad(image, ((2, 3), (5, 1), (0, 0)))[2:-3, 5:-1]),
    ("unaligned bytes", lambda image: np.frombuffer(b"\0" + image.tobytes(), np.uint8, offset=1).reshape(image.shape)),
]


@pytest.mark.parametrize("name, layout", LAYOUTS, ids=[name for name, _ in LAYOUTS])
def test_any_layout_gives_the_same_frame(name, layout):
    expected = SCENE.morph(t=0.4)
    frame = quarro.morph(layout(SCENE.image_a), layout(SCENE.image_b), SCENE.pairs_a, SCENE.pairs_b, t=0.4)
    assert np.array_equal(frame, expected)


def test_pairs_as_float32_or_lists_are_narrowed_alike():
    expected = SCENE.morph(t=0.6)
    for pairs in (SCENE.pairs_a.astype(np.float32), SCENE.pairs_a.tolist(), np.asfortranarray(SCENE.pairs_a)):
        frame = quarro.morph(SCENE.image_a, SCENE.image_b, pairs, SCENE.pairs_b, t=0.6)
        assert np.array_equal(frame, expected)


def test_frames_are_new_writable_arrays():
    first = SCENE.morph()
    assert first.shape == (47, 61, 4) and first.flags.writeable and first.flags.c_contiguous
    assert (first[:, :, 3] == 255).all()
    first[:] = 0
    assert np.array_equal(SCENE.morph(), SCENE.morph()) and SCENE.morph().any()
    assert SCENE.morph(size=(20, 7)).shape == (7, 20, 4)


IMAGE = SCENE.image_a
PAIRS = SCENE.pairs_a
BAD = [
    # keyword changes of morph(), and a piece of the message
    (dict(image_a=IMAGE.astype(np.float32)), "dtype uint8"),
    (dict(image_b=IMAGE.astype(np.uint16)), "dtype uint8"),
    (dict(image_a=IMAGE[:, :, :2]), "(H, W) or (H, W, 1|3|4)"),
    (dict(image_a=IMAGE[None]), "(H, W) or (H, W, 1|3|4)"),
    (dict(image_a=IMAGE[:0]), "each side must be 1..65535"),
    (dict(pairs_a=PAIRS[:, :3]), "(N, 4)"),
    (dict(pairs_a=PAIRS.ravel()), "(N, 4)"),
    (dict(pairs_b=PAIRS.astype(complex)), "real numbers"),
    (dict(pairs_a=np.where(np.eye(4, dtype=bool), math.nan, PAIRS)), "finite"),
    (dict(pairs_b=PAIRS * 1e39), "finite"),
    (dict(pairs_b=PAIRS[:3]), "same number of rows"),
    (dict(t=1.5), "t must lie in [0, 1]"),
    (dict(warp=-0.01), "warp must lie in [0, 1]"),
    (dict(dissolve=math.nan), "dissolve must lie in [0, 1]"),
    (dict(size=(0, 10)), "each side must be 1..10000"),
    (dict(size=(10, 10001)), "each side must be 1..10000"),
    (dict(size=(10, 10, 10)), "size must be two whole numbers (width, height), not 3 items"),
    (dict(threads=0), "threads must be 1..256"),
    (dict(threads=257), "threads must be 1..256"),
    (dict(weights=(0.0, 2.0, 0.2)), "weight a must be greater than 0"),
    (dict(weights=(0.01, -1.0, 0.2)), "weight b must not be negative"),
    (dict(weights=(0.01, 2.0, 1e39)), "weight p is too large for single precision"),
    (dict(weights=(0.01, 2.0)), "three numbers"),
]


@pytest.mark.parametrize("change, message", BAD)
def test_bad_arguments_raise_value_error(change, message):
    arguments = dict(image_a=SCENE.image_a, image_b=SCENE.image_b, pairs_a=SCENE.pairs_a, pairs_b=SCENE.pairs_b)
    arguments.update(change)
    with pytest.raises(ValueError) as raised:
        quarro.morph(**arguments)
    assert message in str(raised.value)


@pytest.mark.parametrize("n", [0, -3, 1000001])
def test_sequence_refuses_a_count_out_of_range(n):
    with pytest.raises(ValueError, match=r"n must be 1\.\.1000000"):
        quarro.sequence(SCENE.image_a, SCENE.image_b, SCENE.pairs_a, SCENE.pairs_b, n)


BIG = np.zeros((1000, 1000))
MORPH = dict(image_a=IMAGE, image_b=IMAGE, pairs_a=PAIRS, pairs_b=PAIRS)
WRONG_TYPES = [
    # function, its arguments, and the whole message: the name and the type, never the value
    (quarro.morph, dict(MORPH, t=BIG), "t must be a real number, not numpy.ndarray"),
    (quarro.morph, dict(MORPH, t="0.5"), "t must be a real number, not str"),
    (quarro.morph, dict(MORPH, warp=True), "warp must be a real number, not bool"),
    (quarro.morph, dict(MORPH, image_a="a picture"), "image_a must be a uint8 array (H, W) or (H, W, 1|3|4), not str"),
    (quarro.morph, dict(MORPH, image_b=None), "image_b must be a uint8 array (H, W) or (H, W, 1|3|4), not None"),
    (quarro.morph, dict(MORPH, pairs_a={"x": 1}), "pairs_a must be an (N, 4) array of end points, not dict"),
    (quarro.morph, dict(MORPH, size=np.zeros(2)), "width must be a whole number, not numpy.float64"),
    (quarro.morph, dict(MORPH, size=(1.5, 2)), "width must be a whole number, not float"),
    (quarro.morph, dict(MORPH, size="64x48"), "size must be two whole numbers (width, height), not str"),
    (quarro.morph, dict(MORPH, threads=4.0), "threads must be a whole number, not float"),
    (quarro.morph, dict(MORPH, weights=0.01), "weights must be three numbers (a, b, p), not float"),
    (quarro.morph, dict(MORPH, weights=(0.01, "x", 0.2)), "weight b must be a real number, not str"),
    (quarro.sequence, dict(MORPH, n=BIG), "n must be a whole number, not numpy.ndarray"),
    (quarro.sequence, dict(MORPH, n=3, bounce="yes"), "bounce must be True or False, not str"),
    (quarro.sequence, dict(MORPH, n=3, frame_range="0:2"), "frame_range must be a pair (first, last), not str"),
    (quarro.sequence, dict(MORPH, n=3, frame_range=(0, 2.0)), "last frame must be a whole number, not float"),
    (quarro.read_image, dict(path=BIG), "path must be a path (str or os.PathLike), not numpy.ndarray"),
    (quarro.write_image, dict(path="x.png", array=[["a"]]), "array must be a uint8 array (H, W) or (H, W, 1|3|4), not list"),
    (quarro.write_animation, dict(path="x.gif", frames=[IMAGE], fps="25"), "fps must be a real number, not str"),
    (quarro.write_document, dict(path="x.mrf", image_a=3, image_b="b.png", pairs_a=PAIRS, pairs_b=PAIRS),
     "image_a must be a path (str or os.PathLike), not int"),
]


@pytest.mark.parametrize("call, arguments, message", WRONG_TYPES)
def test_wrong_types_raise_a_short_type_error(call, arguments, message):
    with pytest.raises(TypeError) as raised:
        call(**arguments)
    assert str(raised.value) == message


def test_numpy_scalars_and_integral_floats_are_numbers():
    expected = SCENE.morph(t=0.25, size=(30, 20), threads=2)
    frame = SCENE.morph(t=np.float32(0.25), size=(np.int64(30), np.uint16(20)), threads=np.int8(2),
                        weights=np.array([0.01, 2.0, 0.2]))
    assert np.array_equal(frame, expected)

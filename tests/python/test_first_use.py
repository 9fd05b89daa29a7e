"""What a new user meets first: short refusals of wrong keywords, pixel pairs caught, the
document's pictures found by the window's rule, one rule for grey pictures, empty pair lists and
float rates, a sequence that keeps its length, real types in help() and stored decimals."""
import inspect
import os
import pickle
import shutil
from fractions import Fraction

import numpy as np
import pytest

import quarro
from quarro import _quarro
from conftest import Scene

SCENE = Scene(seed=27, size_a=(67, 43), size_b=(59, 41), pairs=3)
ARRAYS = (SCENE.image_a, SCENE.image_b, SCENE.pairs_a, SCENE.pairs_b)
PIXEL_PAIRS = np.array([[12.0, 30.0, 50.0, 31.0], [20.0, 5.0, 22.0, 40.0]])


@pytest.mark.parametrize("function, args, keyword", [
    (quarro.sequence, ARRAYS, "frames"),
    (quarro.morph, ARRAYS, "fraction"),
    (quarro.write_animation, ("m.mp4", [SCENE.image_a]), "rate"),
    (quarro.write_document, ("d.mrf", "a.png", "b.png", SCENE.pairs_a, SCENE.pairs_b), "units"),
    (quarro.write_image, ("x.png", SCENE.image_a), "qualty"),
    (quarro.read_document, ("d.mrf",), "resolve"),
])
def test_a_wrong_keyword_is_one_short_line_naming_it_and_the_accepted_ones(function, args, keyword):
    with pytest.raises(TypeError) as raised:
        function(*args, **{keyword: 600})
    message = str(raised.value)
    assert "\n" not in message and len(message) < 300, message
    assert repr(keyword) in message
    for name in inspect.signature(function).parameters:
        assert name in message


def test_signatures_show_the_stubs_types_and_match_the_binding():
    assert pickle.loads(pickle.dumps(quarro.morph)) is quarro.morph  # for process pools
    assert inspect.signature(quarro.morph).parameters["t"].annotation is float
    assert inspect.signature(quarro.sequence).parameters["n"].annotation is int
    for name in ("morph", "sequence", "write_animation", "write_document", "read_document", "write_image",
                 "read_image", "pairs_from_pixels"):
        bound = getattr(_quarro, name).__doc__.split("\n", 1)[0]
        names = [part.split(":")[0].strip() for part in bound[bound.index("(") + 1:bound.rindex(") ->")].split(", ")
                 if ":" in part]
        assert names == [n for n in inspect.signature(getattr(quarro, name)).parameters], name


@pytest.mark.parametrize("call", [
    lambda pairs: quarro.morph(SCENE.image_a, SCENE.image_b, pairs, pairs),
    lambda pairs: next(quarro.sequence(SCENE.image_a, SCENE.image_b, pairs, pairs, 3)),
    lambda pairs: quarro.write_document("never.mrf", "a.png", "b.png", pairs, pairs),
])
def test_pairs_that_look_like_pixels_are_refused_with_the_fix(call):
    with pytest.raises(ValueError) as raised:
        call(PIXEL_PAIRS)
    assert 'units="pixels"' in str(raised.value) and "pairs_from_pixels" in str(raised.value)
    assert not os.path.exists("never.mrf")


def test_pixel_pairs_with_their_units_and_far_normalized_pairs_are_taken():
    in_pixels = quarro.morph(SCENE.image_a, SCENE.image_a, PIXEL_PAIRS, PIXEL_PAIRS + 3, units="pixels")
    normalized = quarro.pairs_from_pixels(PIXEL_PAIRS, 67, 43)
    moved = quarro.pairs_from_pixels(PIXEL_PAIRS + 3, 67, 43)
    assert np.array_equal(in_pixels, quarro.morph(SCENE.image_a, SCENE.image_a, normalized, moved))
    far = np.array([[0.5, 0.5, 0.6, 0.5], [-1.5, 2.5, 40.0, 9.0]])  # one end point inside is enough
    quarro.morph(SCENE.image_a, SCENE.image_b, far, far)


def test_read_document_gives_the_pictures_the_window_would_read(tmp_path, monkeypatch):
    document = SCENE.save(tmp_path)
    quarro.write_document(tmp_path / "rel.mrf", "a.png", "gone.png", SCENE.pairs_a, SCENE.pairs_b)
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    monkeypatch.chdir(elsewhere)
    read = quarro.read_document(tmp_path / "rel.mrf")
    assert (read["image_a"], read["image_a_path"], read["image_b_path"]) == ("a.png", str(tmp_path / "a.png"), None)
    assert quarro.read_document(document)["image_b_path"] == str(tmp_path / "b.png")
    quarro.write_image(elsewhere / "a.png", SCENE.image_b)  # a different a.png in the current folder
    with pytest.warns(UserWarning, match="a.png"):
        assert quarro.read_document(tmp_path / "rel.mrf")["image_a_path"] == str(tmp_path / "a.png")


def test_weights_and_fractions_read_back_as_the_decimals_stored(tmp_path):
    quarro.write_document(tmp_path / "d.mrf", "a.png", "b.png", SCENE.pairs_a, SCENE.pairs_b, warp=0.3,
                          dissolve=0.7, weights=(0.01, 1.7, 0.15))
    read = quarro.read_document(tmp_path / "d.mrf")
    assert (read["warp"], read["dissolve"], read["weights"]) == (0.3, 0.7, (0.01, 1.7, 0.15))


def test_one_rule_for_grey_pictures_and_empty_pair_lists():
    grey_a, grey_b = SCENE.image_a[:, :, 0], SCENE.image_b[:, :, 1]
    as_rgb = [np.repeat(grey[:, :, None], 3, axis=2) for grey in (grey_a, grey_b)]
    expected = quarro.morph(*as_rgb, SCENE.pairs_a, SCENE.pairs_b, t=0.3)
    assert np.array_equal(quarro.morph(grey_a, grey_b[:, :, None], SCENE.pairs_a, SCENE.pairs_b, t=0.3), expected)
    none = quarro.morph(SCENE.image_a, SCENE.image_b, np.zeros((0, 4)), np.zeros((0, 4)))
    for empty in ([], (), np.zeros(0)):
        assert np.array_equal(quarro.morph(SCENE.image_a, SCENE.image_b, empty, empty), none)


def test_a_sequence_keeps_its_length_and_renders_any_frame():
    frames = quarro.sequence(*ARRAYS, 5, frame_range=(1, 3))
    assert len(frames) == 3
    assert np.array_equal(frames[0], quarro.morph(*ARRAYS, t=0.25))
    assert np.array_equal(frames[-1], quarro.morph(*ARRAYS, t=0.75))
    assert len(list(frames)) == 3 and len(frames) == 3
    for wrong in (3, -4):
        with pytest.raises(IndexError):
            frames[wrong]


@pytest.mark.skipif(shutil.which("ffmpeg") is None, reason="ffmpeg is not installed")
def test_a_float_rate_is_the_fraction_it_stands_for(tmp_path):
    frames = [SCENE.image_a, SCENE.image_a[:, :, 0], SCENE.image_a[::-1]]  # a grey frame too
    quarro.write_animation(tmp_path / "float.gif", frames, fps=1 / 3)
    quarro.write_animation(tmp_path / "fraction.gif", frames, fps=Fraction(1, 3))
    assert (tmp_path / "float.gif").read_bytes() == (tmp_path / "fraction.gif").read_bytes()

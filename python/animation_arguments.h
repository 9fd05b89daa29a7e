// The controls of write_animation() (frame rate, quality, codec) as an animation's format,
// judged by the video library's rules (video/output_target.h) and refused in Python's words,
// each named by its keyword, with the renderer's ranges and defaults.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

#include "video/output_target.h"

namespace py = pybind11;

// The target of `path`, which must name an animation: a ValueError listing the animation
// extensions otherwise.
OutputTarget AnimationTarget(const std::string& path);

// The format of an animation written to `target` with these controls: fps an int, float or
// fractions.Fraction; quality an int or None; codec a codec name or None. A wrong type is a
// TypeError, a refused value a ValueError naming the keyword.
AnimationFormat AnimationArguments(const OutputTarget& target, const py::handle& fps, const py::handle& quality,
                                   const py::handle& codec);

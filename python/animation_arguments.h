// The controls of write_animation() (frame rate, quality, codec) judged by quarro-render's own
// option parser, so that Python and the renderer accept the same animations with the same
// defaults and refuse the rest with the same reasons.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

#include "cli/render_options.h"

namespace py = pybind11;

// The renderer's options for an animation written to `path` (an animation extension) with
// these controls: fps an int, float or fractions.Fraction; quality an int or None; codec a
// codec name or None. A wrong type is a TypeError, a refused value a ValueError with the
// parser's reason.
RenderOptions AnimationOptions(const std::string& path, const py::handle& fps, const py::handle& quality,
                               const py::handle& codec);

#include "python/animation_arguments.h"

#include <cmath>
#include <vector>

#include "python/frame_arguments.h"

namespace {

std::string RatioText(const py::handle& ratio) {
    return py::str(ratio.attr("numerator")).cast<std::string>() + "/" +
           py::str(ratio.attr("denominator")).cast<std::string>();
}

// The rate as the renderer's --fps takes it: "N/D" for an int or a fraction. A float is the
// ratio with a denominator up to 1001 that it is the nearest double of (1/3, 30000/1001), so a
// float and the Fraction it stands for give the same rate; else its shortest decimal.
std::string RateText(const py::handle& fps) {
    if (IsRationalNumber(fps)) return RatioText(fps);
    const double rate = RealArgument(fps, "fps");
    if (std::isfinite(rate) && rate > 0) {
        py::object ratio = py::module_::import("fractions").attr("Fraction")(rate).attr("limit_denominator")(1001);
        if (ratio.attr("__float__")().cast<double>() == rate) return RatioText(ratio);
    }
    return py::repr(py::float_(rate)).cast<std::string>();
}

}  // namespace

RenderOptions AnimationOptions(const std::string& path, const py::handle& fps, const py::handle& quality,
                               const py::handle& codec) {
    // The document is never opened: only the options are parsed.
    std::vector<std::string> args = {"animation.mrf", "-q", "-n", "2", "-o", path, "--fps", RateText(fps)};
    if (!quality.is_none()) args.insert(args.end(), {"--quality", std::to_string(WholeArgument(quality, "quality"))});
    if (!codec.is_none()) {
        if (!PyUnicode_Check(codec.ptr())) RaiseWrongType("codec", "a codec name (str)", codec);
        args.insert(args.end(), {"--codec", codec.cast<std::string>()});
    }
    RenderOptions options;
    std::string error;
    if (ParseRenderOptions(args, options, error) != ParseResult::Render) throw py::value_error(error);
    return options;
}

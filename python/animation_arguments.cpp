#include "python/animation_arguments.h"

#include <vector>

#include "python/frame_arguments.h"

namespace {

// The rate as the renderer's --fps takes it: "N/D" for an int or a fraction, the shortest
// decimal of a float (which the parser takes with up to three places).
std::string RateText(const py::handle& fps) {
    if (IsRationalNumber(fps)) {
        return py::str(fps.attr("numerator")).cast<std::string>() + "/" +
               py::str(fps.attr("denominator")).cast<std::string>();
    }
    return py::repr(py::float_(RealArgument(fps, "fps"))).cast<std::string>();
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

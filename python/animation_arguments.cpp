#include "python/animation_arguments.h"

#include <climits>
#include <cmath>
#include <sstream>

#include "python/frame_arguments.h"

namespace {

// The rate as a ratio of whole numbers: an int or a fraction as it is; a float as the ratio
// with a denominator up to 1001 that it is the nearest double of (1/3, 30000/1001, 29.97), so a
// float and the Fraction it stands for give the same rate. False for a float that stands for
// no such ratio, or terms beyond long long.
bool RateTerms(const py::handle& fps, long long& num, long long& den) {
    py::object ratio = py::reinterpret_borrow<py::object>(fps);
    if (!IsRationalNumber(fps)) {
        const double rate = RealArgument(fps, "fps");
        if (!std::isfinite(rate)) return false;
        ratio = py::module_::import("fractions").attr("Fraction")(rate).attr("limit_denominator")(1001);
        if (ratio.attr("__float__")().cast<double>() != rate) return false;
    }
    py::object numerator = ratio.attr("numerator"), denominator = ratio.attr("denominator");
    const py::int_ limit(LLONG_MAX);
    if (numerator.attr("__abs__")() > limit || denominator.attr("__abs__")() > limit) return false;
    num = numerator.cast<long long>();
    den = denominator.cast<long long>();
    return true;
}

}  // namespace

OutputTarget AnimationTarget(const std::string& path) {
    OutputTarget target;
    ClassifyOutput(path, "", true, target);
    if (target.kind == OutputKind::Animation) return target;
    std::istringstream words(AnimationExtensions(false));
    std::vector<std::string> extensions;
    for (std::string word; words >> word;) extensions.push_back(word);
    std::string list;
    for (size_t i = 0; i < extensions.size(); ++i) {
        list += (i == 0 ? "" : i + 1 == extensions.size() ? " or " : ", ") + extensions[i];
    }
    throw py::value_error("path must end in " + list + ", not name '" + path + "'");
}

AnimationFormat AnimationArguments(const OutputTarget& target, const py::handle& fps, const py::handle& quality,
                                   const py::handle& codec) {
    AnimationFormat format;
    long long num = 0, den = 1;
    if (!RateTerms(fps, num, den) || !ReduceFrameRate(num, den)) {
        throw py::value_error("fps " + py::str(fps).cast<std::string>() + " is not a rate in (0, " +
                              std::to_string(kMaxFrameRate) + "] frames a second that is a ratio N/D with N and D in 1.." +
                              std::to_string(kMaxRateTerm) + " (a float stands for the ratio with D up to 1001 nearest it)");
    }
    format.fpsNum = static_cast<int>(num);
    format.fpsDen = static_cast<int>(den);
    long long given = 0;
    if (!quality.is_none()) {
        given = WholeArgument(quality, "quality");
        // Beyond an int it is out of every range; the checks below say which, of the number given.
        format.quality = given > INT_MAX ? INT_MAX : given < INT_MIN + 1 ? INT_MIN + 1 : static_cast<int>(given);
    }
    if (!codec.is_none()) {
        if (!PyUnicode_Check(codec.ptr())) RaiseWrongType("codec", "a codec name (str)", codec);
        format.codec = codec.cast<std::string>();
    }
    std::string problem = AnimationFormatProblem(target, format, {"codec", "quality"});
    const std::string stated = "quality " + std::to_string(format.quality) + " ";
    if (format.quality != given && problem.compare(0, stated.size(), stated) == 0) {
        problem.replace(0, stated.size(), "quality " + std::to_string(given) + " ");
    }
    if (!problem.empty()) throw py::value_error(problem);
    return format;
}

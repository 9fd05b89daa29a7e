// Python values turned into a frame request: each argument is converted here and judged by the
// request rules of morph/frame_request, which the renderer applies to its options too. A value
// of the wrong type is a TypeError naming the argument and the type it got, never its contents
// (an array may print thousands of characters); a value out of range is a ValueError.
#pragma once

#include <pybind11/pybind11.h>

#include <optional>

#include "morph/frame_request.h"

namespace py = pybind11;

// Looks up what the conversions need from Python (the abstract number types); called once at
// import, so that no call takes a lazy guard while it holds the interpreter lock.
void InitFrameArguments();

// Raises TypeError "NAME must be WANTED, not TYPE".
[[noreturn]] void RaiseWrongType(const char* name, const char* wanted, const py::handle& got);

// A real number (int, float or a numpy scalar; not bool), or TypeError.
double RealArgument(const py::handle& value, const char* name);
// A whole number (int or a numpy integer; not bool), or TypeError; ValueError beyond `long long`.
long long WholeArgument(const py::handle& value, const char* name);
// True for an int, a fractions.Fraction or a numpy integer (not bool).
bool IsRationalNumber(const py::handle& value);
// True or False (numpy's bool too), or TypeError.
bool FlagArgument(const py::handle& value, const char* name);

// A fraction in [0, 1]; nullopt for None when `optional`.
std::optional<double> FractionArgument(const py::handle& value, const char* name, bool optional = false);

// The field weights (a, b, p) of a request from a sequence of three numbers.
void WeightsArgument(const py::handle& value, FrameRequest& request);
// The output size (width, height) of a request; None leaves image A's size.
void SizeArgument(const py::handle& value, FrameRequest& request);
// A worker count in 1..kMaxMorphThreads.
int ThreadsArgument(const py::handle& value);
// A sequence length in 1..kMaxFrames.
int FrameCountArgument(const py::handle& value, const char* name);

// The shortest decimal that narrows to `value`: 0.01 for 0.01f, as a document's numbers read back.
double ShortestDecimal(float value);

// The window's field-weight constants (a, b, p) as the shortest decimals that narrow to them,
// so that signatures show 0.01 for 0.01f and a caller passing that number gets the constant.
py::tuple WindowWeights();

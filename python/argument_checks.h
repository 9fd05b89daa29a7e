// The checks of the module's plain arguments (fractions, weights, output size, counts), with
// the renderer's limits. Each refusal is a ValueError that names the argument.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>

namespace py = pybind11;

struct FieldWeights {
    float a = 0.0f, b = 0.0f, p = 0.0f;
};

// `value` when it lies in [0, 1].
double CheckFraction(double value, const char* name);

// The three field-weight constants (a, b, p) narrowed to float: a above 0, b and p not negative.
FieldWeights WeightsFrom(const py::handle& object);

// The window's field-weight constants (a, b, p) as the shortest decimals that narrow to them,
// so that signatures show 0.01 for 0.01f and a caller passing that number gets the constant.
py::tuple WindowWeights();

// (width, height) from a pair of integers, each 1..kMaxOutputSide.
void SizeFrom(const py::handle& object, uint32_t& width, uint32_t& height);

// `value` when it lies in [low, high].
int CheckCount(long long value, long long low, long long high, const char* name);

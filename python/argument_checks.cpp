#include "python/argument_checks.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "morph/morph_settings.h"

namespace {

std::string Repr(const py::handle& object) { return py::repr(object).cast<std::string>(); }

std::string NumberText(double value) { return Repr(py::float_(value)); }

// The items of a tuple or list of exactly `count` elements.
py::sequence ItemsOf(const py::handle& object, size_t count, const char* name, const char* form) {
    if (!py::isinstance<py::sequence>(object) || py::isinstance<py::str>(object) || py::len(object) != count) {
        throw py::value_error(std::string(name) + " must be " + form + ", not " + Repr(object));
    }
    return py::reinterpret_borrow<py::sequence>(object);
}

double RealFrom(const py::handle& item, const char* name) {
    double value = PyFloat_AsDouble(item.ptr());
    if (value == -1.0 && PyErr_Occurred()) {
        PyErr_Clear();
        throw py::value_error(std::string(name) + " must be a number, not " + Repr(item));
    }
    return value;
}

double ShortestDecimal(float value) {
    char text[32];
    for (int digits = 1; digits <= 9; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
        double parsed = std::strtod(text, nullptr);
        if (static_cast<float>(parsed) == value) return parsed;
    }
    return value;
}

}  // namespace

double CheckFraction(double value, const char* name) {
    if (!(value >= 0.0 && value <= 1.0)) {
        throw py::value_error(std::string(name) + " must lie in [0, 1], not " + NumberText(value));
    }
    return value;
}

FieldWeights WeightsFrom(const py::handle& object) {
    py::sequence items = ItemsOf(object, 3, "weights", "three numbers (a, b, p)");
    const char* names[3] = {"weight a", "weight b", "weight p"};
    float narrowed[3];
    for (int i = 0; i < 3; ++i) {
        double value = RealFrom(items[static_cast<size_t>(i)], names[i]);
        narrowed[i] = static_cast<float>(value);
        // The field weight divides by a, and b and p are exponents of distance and length.
        bool ok = std::isfinite(narrowed[i]) && (i == 0 ? value > 0.0 : value >= 0.0);
        if (!ok) {
            throw py::value_error(std::string(names[i]) + (i == 0 ? " must be above 0" : " must not be negative") +
                                  " and finite in single precision, not " + NumberText(value));
        }
    }
    return FieldWeights{narrowed[0], narrowed[1], narrowed[2]};
}

py::tuple WindowWeights() {
    return py::make_tuple(ShortestDecimal(kFieldWeightA), ShortestDecimal(kFieldWeightB),
                          ShortestDecimal(kFieldWeightP));
}

void SizeFrom(const py::handle& object, uint32_t& width, uint32_t& height) {
    py::sequence items = ItemsOf(object, 2, "size", "(width, height)");
    long long sides[2];
    for (size_t i = 0; i < 2; ++i) {
        py::handle item = items[i];
        if (!PyIndex_Check(item.ptr()) || PyBool_Check(item.ptr())) {
            throw py::value_error("size must be two whole numbers (width, height), not " + Repr(object));
        }
        int overflow = 0;
        py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(item.ptr()));
        if (!index) throw py::error_already_set();
        sides[i] = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
        if (overflow != 0 || sides[i] < 1 || sides[i] > kMaxOutputSide) {
            throw py::value_error("size " + Repr(object) + " is out of range: each side must be 1.." +
                                  std::to_string(kMaxOutputSide));
        }
    }
    width = static_cast<uint32_t>(sides[0]);
    height = static_cast<uint32_t>(sides[1]);
}

int CheckCount(long long value, long long low, long long high, const char* name) {
    if (value < low || value > high) {
        throw py::value_error(std::string(name) + " must be " + std::to_string(low) + ".." + std::to_string(high) +
                              ", not " + std::to_string(value));
    }
    return static_cast<int>(value);
}

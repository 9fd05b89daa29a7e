#include "python/frame_arguments.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// numbers.Real, numbers.Rational and numbers.Integral: numpy registers its scalar types with
// them, and an array is none, so a whole array passed for a number is refused by its type.
PyObject* gRealType = nullptr;
PyObject* gRationalType = nullptr;
PyObject* gIntegralType = nullptr;

// "float", "numpy.ndarray", "list": what a message shows of a value.
std::string TypeName(const py::handle& value) {
    py::handle type = reinterpret_cast<PyObject*>(Py_TYPE(value.ptr()));
    std::string name = py::str(type.attr("__qualname__")).cast<std::string>();
    std::string module = py::str(type.attr("__module__")).cast<std::string>();
    return module == "builtins" ? name : module + "." + name;
}

bool IsInstance(const py::handle& value, PyObject* type) {
    int result = PyObject_IsInstance(value.ptr(), type);
    if (result < 0) throw py::error_already_set();
    return result == 1;
}

bool IsBool(const py::handle& value) {
    return PyBool_Check(value.ptr()) || TypeName(value) == "numpy.bool_";
}

std::string NumberText(double value) { return py::repr(py::float_(value)).cast<std::string>(); }

// The `count` items of a sequence that is not text: TypeError for another type, ValueError
// for another length.
py::sequence ItemsOf(const py::handle& value, size_t count, const char* name, const char* wanted) {
    if (!PySequence_Check(value.ptr()) || PyUnicode_Check(value.ptr()) || PyBytes_Check(value.ptr())) {
        RaiseWrongType(name, wanted, value);
    }
    const size_t length = py::len(value);
    if (length != count) {
        throw py::value_error(std::string(name) + " must be " + wanted + ", not " + std::to_string(length) + " items");
    }
    return py::reinterpret_borrow<py::sequence>(value);
}

}  // namespace

void InitFrameArguments() {
    py::module_ numbers = py::module_::import("numbers");
    gRealType = py::object(numbers.attr("Real")).release().ptr();
    gRationalType = py::object(numbers.attr("Rational")).release().ptr();
    gIntegralType = py::object(numbers.attr("Integral")).release().ptr();
}

void RaiseWrongType(const char* name, const char* wanted, const py::handle& got) {
    throw py::type_error(std::string(name) + " must be " + wanted + ", not " + (got.is_none() ? "None" : TypeName(got)));
}

double RealArgument(const py::handle& value, const char* name) {
    if (IsBool(value) || !IsInstance(value, gRealType)) RaiseWrongType(name, "a real number", value);
    double result = PyFloat_AsDouble(value.ptr());
    if (result == -1.0 && PyErr_Occurred()) throw py::error_already_set();
    return result;
}

long long WholeArgument(const py::handle& value, const char* name) {
    if (IsBool(value) || !IsInstance(value, gIntegralType)) RaiseWrongType(name, "a whole number", value);
    py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
    if (!index) throw py::error_already_set();
    int overflow = 0;
    long long result = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    if (overflow != 0) throw py::value_error(std::string(name) + " is far out of range");
    if (result == -1 && PyErr_Occurred()) throw py::error_already_set();
    return result;
}

bool IsRationalNumber(const py::handle& value) { return !IsBool(value) && IsInstance(value, gRationalType); }

bool FlagArgument(const py::handle& value, const char* name) {
    if (!IsBool(value)) RaiseWrongType(name, "True or False", value);
    return PyObject_IsTrue(value.ptr()) == 1;
}

std::optional<double> FractionArgument(const py::handle& value, const char* name, bool optional) {
    if (optional && value.is_none()) return std::nullopt;
    double fraction = RealArgument(value, name);
    if (!IsFraction(fraction)) {
        throw py::value_error(std::string(name) + " must lie in [0, 1], not " + NumberText(fraction));
    }
    return fraction;
}

void WeightsArgument(const py::handle& value, FrameRequest& request) {
    py::sequence items = ItemsOf(value, 3, "weights", "three numbers (a, b, p)");
    const char* names[3] = {"weight a", "weight b", "weight p"};
    const FieldWeight which[3] = {FieldWeight::A, FieldWeight::B, FieldWeight::P};
    float* targets[3] = {&request.a, &request.b, &request.p};
    for (size_t i = 0; i < 3; ++i) {
        double weight = RealArgument(items[i], names[i]);
        std::string problem = FieldWeightProblem(which[i], weight, *targets[i]);
        if (!problem.empty()) throw py::value_error(std::string(names[i]) + " " + problem + ", not " + NumberText(weight));
    }
}

void SizeArgument(const py::handle& value, FrameRequest& request) {
    if (value.is_none()) return;
    py::sequence items = ItemsOf(value, 2, "size", "two whole numbers (width, height)");
    long long sides[2];
    for (size_t i = 0; i < 2; ++i) {
        sides[i] = WholeArgument(items[i], i == 0 ? "width" : "height");
        if (!IsOutputSide(sides[i])) {
            throw py::value_error("size (" + std::to_string(sides[0]) + (i == 0 ? ", ...)" : ", " + std::to_string(sides[1]) + ")") +
                                  " is out of range: each side must be " + std::to_string(kMinOutputSide) + ".." +
                                  std::to_string(kMaxOutputSide));
        }
    }
    request.width = static_cast<int>(sides[0]);
    request.height = static_cast<int>(sides[1]);
}

int ThreadsArgument(const py::handle& value) {
    long long threads = WholeArgument(value, "threads");
    if (!IsThreadCount(threads)) {
        throw py::value_error("threads must be 1.." + std::to_string(kMaxMorphThreads) + ", not " + std::to_string(threads));
    }
    return static_cast<int>(threads);
}

int FrameCountArgument(const py::handle& value, const char* name) {
    long long frames = WholeArgument(value, name);
    if (!IsFrameCount(frames)) {
        throw py::value_error(std::string(name) + " must be 1.." + std::to_string(kMaxFrames) + ", not " +
                              std::to_string(frames));
    }
    return static_cast<int>(frames);
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

py::tuple WindowWeights() {
    return py::make_tuple(ShortestDecimal(kFieldWeightA), ShortestDecimal(kFieldWeightB),
                          ShortestDecimal(kFieldWeightP));
}

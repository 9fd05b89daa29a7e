#include "python/file_errors.h"

#include "python/frame_arguments.h"

std::string PathArgument(const py::handle& value, const char* name) {
    py::object text = py::reinterpret_steal<py::object>(PyOS_FSPath(value.ptr()));
    if (!text || !PyUnicode_Check(text.ptr())) {
        PyErr_Clear();
        RaiseWrongType(name, "a path (str or os.PathLike)", value);
    }
    std::string path = text.cast<std::string>();
    if (path.find('\0') != std::string::npos) throw py::value_error(std::string(name) + " holds a zero character");
    return path;
}

void RaiseFileError(int error, const std::string& message, const std::string& path) {
    if (error != 0) {
        py::object exception = py::reinterpret_borrow<py::object>(PyExc_OSError)(error, message, path);
        PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception.ptr())), exception.ptr());
    } else {
        PyErr_SetString(PyExc_OSError, message.c_str());
    }
    throw py::error_already_set();
}

// File paths from Python and the exceptions of failed file operations. A failure that has an
// error number becomes the OSError subclass Python gives that number (FileNotFoundError,
// PermissionError, IsADirectoryError, ...), so callers can catch what they can act on.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace py = pybind11;

// A path argument: str or os.PathLike (pathlib.Path); bytes and other types are a TypeError.
std::string PathArgument(const py::handle& value, const char* name);

// Raises OSError(error, message, path) when `error` is an error number, so that Python picks the
// subclass, and a plain OSError(message) when it is 0.
[[noreturn]] void RaiseFileError(int error, const std::string& message, const std::string& path);

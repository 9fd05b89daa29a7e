// The parts of the module `quarro`, each adding its functions to it at import.
#pragma once

#include <pybind11/pybind11.h>

namespace py = pybind11;

// morph(), sequence() and pairs_from_pixels(): frames of the engine as new arrays.
void AddMorphFunctions(py::module_& module);
// read_image(), write_image(), read_document() and write_document().
void AddFileFunctions(py::module_& module);
// write_animation().
void AddAnimationFunctions(py::module_& module);

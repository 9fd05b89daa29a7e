// Image files and morph documents for Python, through the program's own readers and writers.
// A file that cannot be read or written raises OSError with the path and the reason; the
// image library keeps global state, so its calls take turns (without the interpreter lock).
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "document/mrf_file.h"
#include "image/image_file.h"
#include "files/input_file.h"
#include "morph/morph_settings.h"
#include "python/argument_checks.h"
#include "python/array_convert.h"
#include "python/bindings.h"

namespace {

std::mutex gImageLibraryTurn;

// Raises OSError(errno, message, path) when the failure has an errno, so that Python picks the
// matching subclass (FileNotFoundError, PermissionError, ...), and OSError(message) otherwise.
[[noreturn]] void RaiseFileError(int error, const std::string& message, const std::string& path) {
    if (error != 0) {
        py::object exception = py::reinterpret_borrow<py::object>(PyExc_OSError)(error, message, path);
        PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception.ptr())), exception.ptr());
    } else {
        PyErr_SetString(PyExc_OSError, message.c_str());
    }
    throw py::error_already_set();
}

// Opens `path` for reading as the program opens its inputs (never blocking, regular files
// only) and returns the descriptor, or raises OSError.
int OpenForReading(const std::string& path, const char* what) {
    std::string reason;
    errno = 0;
    int fd = OpenInputFile(path, reason);
    if (fd >= 0) return fd;
    int error = errno;
    if (error != 0 && reason == std::strerror(error)) RaiseFileError(error, reason, path);
    RaiseFileError(0, std::string("cannot read ") + what + " '" + path + "': " + reason, path);
}

py::array ReadImage(const std::filesystem::path& file) {
    const std::string path = file.string();
    close(OpenForReading(path, "image"));
    auto image = std::make_unique<CPixelImage>();
    std::string reason;
    int result;
    {
        py::gil_scoped_release unlocked;
        std::lock_guard<std::mutex> turn(gImageLibraryTurn);
        result = ReadImageFile(path, *image, reason);
    }
    if (result != 0) RaiseFileError(0, "cannot read image '" + path + "': " + reason, path);
    return ArrayFromImage(std::move(image));
}

void WriteImage(const std::filesystem::path& file, const py::object& array) {
    const std::string path = file.string();
    CPixelImage image;
    ImageForWriting(array, "array", image);
    std::string reason;
    int result;
    {
        py::gil_scoped_release unlocked;
        std::lock_guard<std::mutex> turn(gImageLibraryTurn);
        result = WriteImageFile(path, image, reason);
    }
    if (result != 0) RaiseFileError(0, "cannot write image '" + path + "': " + reason, path);
}

py::dict ReadDocument(const std::filesystem::path& file) {
    const std::string path = file.string();
    close(OpenForReading(path, "morph document"));
    SegmentList segmentsA, segmentsB;
    MorphSettings document;
    document.segmentsA = &segmentsA;
    document.segmentsB = &segmentsB;
    std::string reason;
    if (ReadMorphFile(path, document, reason) != 0) {
        RaiseFileError(0, "cannot read morph document '" + path + "': " + reason, path);
    }
    py::dict result;
    result["image_a"] = document.imagePathA;
    result["image_b"] = document.imagePathB;
    result["pairs_a"] = SegmentsToArray(segmentsA);
    result["pairs_b"] = SegmentsToArray(segmentsB);
    result["warp"] = document.warpFrac;
    result["dissolve"] = document.dissoveFrac;
    result["weights"] = py::make_tuple(document.a, document.b, document.p);
    return result;
}

std::string PathField(const std::string& text, const char* name) {
    if (text.find('\0') != std::string::npos) throw py::value_error(std::string(name) + " holds a zero character");
    if (text.size() >= kMorphFieldLimit) {
        throw py::value_error(std::string(name) + " is longer than a document holds (" +
                              std::to_string(kMorphFieldLimit - 1) + " bytes)");
    }
    return text;
}

void WriteDocument(const std::filesystem::path& file, const std::string& imageA, const std::string& imageB,
                   const py::object& pairsA, const py::object& pairsB, double warp, double dissolve,
                   const py::object& weightValues) {
    const std::string path = file.string();
    // The writer takes the image paths from the images' names.
    CPixelImage namedA, namedB;
    namedA.fileName = PathField(imageA, "image_a");
    namedB.fileName = PathField(imageB, "image_b");
    SegmentList segmentsA = SegmentsFromArray(pairsA, "pairs_a");
    SegmentList segmentsB = SegmentsFromArray(pairsB, "pairs_b");
    if (segmentsA.size() != segmentsB.size()) {
        throw py::value_error("pairs_a and pairs_b must hold the same number of rows, not " +
                              std::to_string(segmentsA.size()) + " and " + std::to_string(segmentsB.size()));
    }
    if (segmentsA.size() > kMorphFieldLimit) {
        throw py::value_error("a document holds at most " + std::to_string(kMorphFieldLimit) + " pairs, not " +
                              std::to_string(segmentsA.size()));
    }
    FieldWeights weights = WeightsFrom(weightValues);
    MorphSettings document;
    document.imageA = &namedA;
    document.imageB = &namedB;
    document.segmentsA = &segmentsA;
    document.segmentsB = &segmentsB;
    document.warpFrac = static_cast<float>(CheckFraction(warp, "warp"));
    document.dissoveFrac = static_cast<float>(CheckFraction(dissolve, "dissolve"));
    document.a = weights.a;
    document.b = weights.b;
    document.p = weights.p;
    std::string reason;
    if (WriteMorphFile(path, document, reason) != 0) {
        RaiseFileError(0, "cannot write morph document '" + path + "': " + reason, path);
    }
}

}  // namespace

void AddFileFunctions(py::module_& module) {
    using namespace pybind11::literals;
    module.def("read_image", &ReadImage, "path"_a,
               "Reads a picture file as the program does: a new (H, W, 4) uint8 array, RGBA, top row first.");
    module.def("write_image", &WriteImage, "path"_a, "array"_a,
               "Writes an (H, W) or (H, W, 1|3|4) uint8 array; the format follows the file's extension.\n"
               "The file is replaced only once it is complete.");
    module.def("read_document", &ReadDocument, "path"_a,
               "Reads a .mrf morph document: a dict with image_a and image_b (the paths as stored),\n"
               "pairs_a and pairs_b ((N, 4) float32 end points), warp, dissolve and weights (a, b, p).");
    module.def("write_document", &WriteDocument, "path"_a, "image_a"_a, "image_b"_a, "pairs_a"_a, "pairs_b"_a,
               "warp"_a = 0.5, "dissolve"_a = 0.5, "weights"_a = WindowWeights(),
               "Writes a .mrf morph document naming the two pictures by path, with the pairs as\n"
               "(N, 4) arrays of normalized end points; the window saves warp and dissolve 0.5.");
}

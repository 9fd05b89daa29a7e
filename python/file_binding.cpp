// Image files and morph documents for Python, through the program's own readers and writers.
// A file that cannot be read or written raises OSError with the path and the reason, as the
// subclass its error number names. Reads and writes run without the interpreter lock and
// without taking turns; only the image library's rare formats take turns inside their writer.
#include <pybind11/stl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "document/image_path.h"
#include "document/mrf_file.h"
#include "image/decode_client.h"
#include "image/image_file.h"
#include "files/input_file.h"
#include "files/output_path.h"
#include "image/writable_formats.h"
#include "morph/morph_settings.h"
#include "python/array_convert.h"
#include "python/bindings.h"
#include "python/file_errors.h"
#include "python/frame_arguments.h"

namespace {

// Raises the OSError of a file the program could not open for reading, as OpenInputFile said
// why (`reason`, and `error`, its error number or 0).
[[noreturn]] void RaiseOpenError(const std::string& path, const char* what, int error, const std::string& reason) {
    if (error != 0 && reason == std::strerror(error)) RaiseFileError(error, reason, path);
    // A folder opens; it is refused by its type.
    struct stat info;
    error = stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? EISDIR : 0;
    RaiseFileError(error, std::string("cannot read ") + what + " '" + path + "': " + reason, path);
}

// Opens `path` for reading as the program opens its inputs (never blocking, regular files
// only) and returns the descriptor, or raises OSError.
int OpenForReading(const std::string& path, const char* what) {
    std::string reason;
    errno = 0;
    int fd = OpenInputFile(path, reason);
    if (fd < 0) RaiseOpenError(path, what, errno, reason);
    return fd;
}

// Checks that `path` can be saved to before anything is encoded; raises the OSError subclass
// of the refusal.
void CheckSavePath(const std::string& path) {
    std::string reason;
    errno = 0;
    if (CheckOutputPath(path, reason) != 0) RaiseFileError(errno, reason, path);
}

// The row of the table that writes a picture to `path`, once its folder and name are checked;
// the OSError of the refusal otherwise.
const WritableFormat& SaveFormat(const std::string& path) {
    CheckSavePath(path);
    std::string reason;
    const WritableFormat* format = WritableFormatOf(path, reason);
    if (format == nullptr) RaiseFileError(0, reason, path);
    return *format;
}

// A whole-number setting, None for the format's default; the range is the table's to judge.
int WholeSetting(const py::object& value, const char* name) {
    if (value.is_none()) return kSettingUnset;
    const long long number = WholeArgument(value, name);
    // Beyond an int, far beyond any range; kept clear of the unset mark (INT_MIN).
    const long long least = static_cast<long long>(kSettingUnset) + 1;
    const long long most = std::numeric_limits<int>::max();
    return static_cast<int>(number < least ? least : number > most ? most : number);
}

std::string TextSetting(const py::object& value, const char* name) {
    if (value.is_none()) return std::string();
    if (!py::isinstance<py::str>(value)) RaiseWrongType(name, "a string", value);
    const std::string text = value.cast<std::string>();
    if (text.empty()) throw py::value_error(std::string(name) + " is empty");
    return text;
}

// The settings of write_image's keywords, judged by the table's row for the path's format.
ImageWriteSettings WriteSettingsArguments(const WritableFormat& format, const py::object& quality,
                                          const py::object& level, const py::object& compression,
                                          const py::object& lossless, const py::object& subsampling) {
    ImageWriteSettings settings;
    settings.quality = WholeSetting(quality, "quality");
    settings.level = WholeSetting(level, "level");
    settings.compression = TextSetting(compression, "compression");
    settings.subsampling = TextSetting(subsampling, "subsampling");
    if (!lossless.is_none()) settings.lossless = FlagArgument(lossless, "lossless") ? 1 : 0;
    const std::string problem = WriteSettingsProblem(format, settings);
    if (!problem.empty()) throw py::value_error(problem);
    return settings;
}

// colour="srgb" converts a picture with a colour profile to sRGB, as the program shows it;
// colour="stored" gives its numbers as the file stores them. A profile that cannot be used is a
// UserWarning, and the picture comes as stored.
bool KeepStoredColour(const std::string& colourAsked) {
    if (colourAsked != "srgb" && colourAsked != "stored") {
        throw py::value_error("colour must be 'srgb' or 'stored', not '" + colourAsked + "'");
    }
    return colourAsked == "stored";
}

// The pictures read at once, each by a helper of its own, as arrays in their order; the first
// that could not be read raises.
py::list ReadImageList(std::vector<ImageFileRead>& reads) {
    {
        py::gil_scoped_release unlocked;
        ReadImageFiles(reads);
    }
    // A file that could not be opened is named before one that could not be decoded.
    for (const ImageFileRead& read : reads) {
        if (!read.openReason.empty()) RaiseOpenError(read.path, "image", read.openError, read.openReason);
    }
    for (const ImageFileRead& read : reads) {
        if (read.result != 0) RaiseFileError(0, "cannot read image '" + read.path + "': " + read.reason, read.path);
    }
    py::list arrays;
    for (ImageFileRead& read : reads) {
        if (read.colour.warning) {
            std::string text = "image '" + read.path + "': " + read.colour.note;
            if (PyErr_WarnEx(PyExc_UserWarning, text.c_str(), 1) != 0) throw py::error_already_set();
        }
        auto image = std::make_unique<CPixelImage>();
        image->Swap(read.image);
        arrays.append(ArrayFromImage(std::move(image)));
    }
    return arrays;
}

std::vector<ImageFileRead> ImageReads(const std::vector<py::object>& files, const char* argument, bool keepStored) {
    std::vector<ImageFileRead> reads(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        reads[i].path = PathArgument(files[i], argument);
        reads[i].colour.keepStored = keepStored;
    }
    return reads;
}

py::object ReadImage(const py::object& file, const std::string& colourAsked) {
    std::vector<ImageFileRead> reads = ImageReads({file}, "path", KeepStoredColour(colourAsked));
    return ReadImageList(reads)[0];
}

py::list ReadImages(const py::iterable& files, const std::string& colourAsked) {
    std::vector<py::object> paths;
    for (const py::handle& file : files) paths.push_back(py::reinterpret_borrow<py::object>(file));
    std::vector<ImageFileRead> reads = ImageReads(paths, "paths", KeepStoredColour(colourAsked));
    return ReadImageList(reads);
}

void WriteImage(const py::object& file, const py::object& array, const py::object& quality, const py::object& level,
                const py::object& compression, const py::object& lossless, const py::object& subsampling) {
    const std::string path = PathArgument(file, "path");
    const WritableFormat& format = SaveFormat(path);
    const ImageWriteSettings settings = WriteSettingsArguments(format, quality, level, compression, lossless, subsampling);
    CPixelImage image;
    const py::object pixelsOwner = ImageForWriting(array, "array", image);
    std::string reason;
    int result;
    {
        py::gil_scoped_release unlocked;
        std::vector<unsigned char> bytes;
        result = WriteImageFile(path, format, image, settings, bytes, reason);
    }
    if (result != 0) RaiseFileError(0, "cannot write image '" + path + "': " + reason, path);
}

py::dict ReadDocument(const py::object& file) {
    const std::string path = PathArgument(file, "path");
    const int fd = OpenForReading(path, "morph document");
    SegmentList segmentsA, segmentsB;
    MorphSettings document;
    document.segmentsA = &segmentsA;
    document.segmentsB = &segmentsB;
    std::string reason;
    const int status = ReadMorphDescriptor(fd, document, reason);
    close(fd);
    if (status != 0) {
        RaiseFileError(0, "cannot read morph document '" + path + "': " + reason, path);
    }
    py::dict result;
    result["image_a"] = document.imagePathA;
    result["image_b"] = document.imagePathB;
    // Where the window and the renderer would read each picture: beside the document first.
    const char* keys[2] = {"image_a_path", "image_b_path"};
    const std::string* stored[2] = {&document.imagePathA, &document.imagePathB};
    for (int i = 0; i < 2; ++i) {
        const DocumentImage found = LocateDocumentImage(*stored[i], path);
        result[keys[i]] = found.found ? py::object(py::str(found.path)) : py::object(py::none());
        if (found.found && !found.note.empty()) {
            const std::string warning = std::string(keys[i]) + " " + found.path + ": " + found.note;
            if (PyErr_WarnEx(PyExc_UserWarning, warning.c_str(), 1) != 0) throw py::error_already_set();
        }
    }
    result["pairs_a"] = SegmentsToArray(segmentsA);
    result["pairs_b"] = SegmentsToArray(segmentsB);
    // The decimals that were stored, not the single-precision numbers' binary noise.
    result["warp"] = ShortestDecimal(document.warpFrac);
    result["dissolve"] = ShortestDecimal(document.dissoveFrac);
    result["weights"] = py::make_tuple(ShortestDecimal(document.a), ShortestDecimal(document.b), ShortestDecimal(document.p));
    return result;
}

std::string PathField(const std::string& text, const char* name) {
    if (text.size() >= kMorphFieldLimit) {
        throw py::value_error(std::string(name) + " is longer than a document holds (" +
                              std::to_string(kMorphFieldLimit - 1) + " bytes)");
    }
    return text;
}

void WriteDocument(const py::object& file, const py::object& imageA, const py::object& imageB,
                   const py::object& pairsA, const py::object& pairsB, const py::object& warp,
                   const py::object& dissolve, const py::object& weights) {
    const std::string path = PathArgument(file, "path");
    // The writer takes the image paths from the images' names.
    CPixelImage namedA, namedB;
    namedA.fileName = PathField(PathArgument(imageA, "image_a"), "image_a");
    namedB.fileName = PathField(PathArgument(imageB, "image_b"), "image_b");
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
    FrameRequest request;
    WeightsArgument(weights, request);
    request.warp = *FractionArgument(warp, "warp");
    request.dissolve = *FractionArgument(dissolve, "dissolve");
    CheckSavePath(path);
    MorphSettings document;
    document.imageA = &namedA;
    document.imageB = &namedB;
    document.segmentsA = &segmentsA;
    document.segmentsB = &segmentsB;
    document.warpFrac = NarrowFraction(request.warp);
    document.dissoveFrac = NarrowFraction(request.dissolve);
    document.a = request.a;
    document.b = request.b;
    document.p = request.p;
    std::string reason;
    if (WriteMorphFile(path, document, reason) != 0) {
        RaiseFileError(0, "cannot write morph document '" + path + "': " + reason, path);
    }
}

}  // namespace

void AddFileFunctions(py::module_& module) {
    using namespace pybind11::literals;
    module.def("read_image", &ReadImage, "path"_a, "colour"_a = "srgb",
               "Reads a picture file as the program does: a new (H, W, 4) uint8 array, RGBA, top row first.\n"
               "colour='srgb' converts a picture with a colour profile to sRGB, as the window shows it;\n"
               "colour='stored' gives the numbers as the file stores them. A profile that cannot be used\n"
               "is a UserWarning, and the picture comes as stored.");
    module.def("read_images", &ReadImages, "paths"_a, "colour"_a = "srgb",
               "Reads several picture files at once, each in a decoding helper of its own: a list of\n"
               "arrays as read_image gives them, in the order of the paths. The first path that cannot\n"
               "be read raises its OSError.");
    std::string formats;
    size_t count = 0;
    const WritableFormat* rows = WritableFormats(count);
    for (size_t i = 0; i < count; ++i) {
        const std::string takes = WriteSettingsHelp(rows[i]);
        if (!takes.empty()) formats += std::string("\n  ") + rows[i].name + ": " + takes;
    }
    static const std::string writeDoc =
        "Writes an (H, W) or (H, W, 1|3|4) uint8 array; the format follows the file's extension\n"
        "(" + WritableExtensionList() + ").\n"
        "The file is replaced only once it is complete. The keywords are the format's settings:" + formats;
    module.def("write_image", &WriteImage, "path"_a, "array"_a, py::kw_only(), "quality"_a = py::none(),
               "level"_a = py::none(), "compression"_a = py::none(), "lossless"_a = py::none(),
               "subsampling"_a = py::none(), writeDoc.c_str());
    module.def("read_document", &ReadDocument, "path"_a,
               "Reads a .mrf morph document: a dict with image_a and image_b (the paths as stored),\n"
               "image_a_path and image_b_path (where the window and quarro-render read them: a relative\n"
               "path beside the document first, then from the current folder; None when neither holds\n"
               "it), pairs_a and pairs_b ((N, 4) float32 end points), warp, dissolve and weights (a, b, p).");
    module.def("write_document", &WriteDocument, "path"_a, "image_a"_a, "image_b"_a, "pairs_a"_a, "pairs_b"_a,
               "warp"_a = 0.5, "dissolve"_a = 0.5, "weights"_a = WindowWeights(),
               "Writes a .mrf morph document naming the two pictures by path, with the pairs as\n"
               "(N, 4) arrays of normalized end points; the window saves warp and dissolve 0.5.");
}

#include "python/array_convert.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "python/frame_arguments.h"

namespace {

// Beyond these an image no longer fits the engine's 32-bit pixel arithmetic comfortably.
const py::ssize_t kMaxImageSide = 65535;
const py::ssize_t kMaxImagePixels = py::ssize_t{1} << 28;

std::string ShapeText(const py::array& array) {
    std::string text = "(";
    for (py::ssize_t i = 0; i < array.ndim(); ++i) {
        text += (i > 0 ? ", " : "") + std::to_string(array.shape(i));
    }
    return text + (array.ndim() == 1 ? ",)" : ")");
}

std::string DtypeText(const py::array& array) { return py::str(array.dtype()).cast<std::string>(); }

// The object as an array of numbers: an array itself, or what numpy makes of a nested list.
// Anything else (text, None, objects numpy keeps as objects) is a TypeError.
py::array AsArray(const py::handle& object, const char* name, const char* wanted) {
    py::array array = py::array::ensure(object);
    if (!array) PyErr_Clear();
    if (!array || std::strchr("biufc", array.dtype().kind()) == nullptr ||
        (array.ndim() == 0 && !py::isinstance<py::array>(object))) {
        if (array && py::isinstance<py::array>(object)) {
            throw py::type_error(std::string(name) + " must be " + wanted + ", not an array of " + DtypeText(array));
        }
        RaiseWrongType(name, wanted, object);
    }
    return array;
}

bool HoldsBytes(const py::array& array) { return array.dtype().kind() == 'u' && array.itemsize() == 1; }

// Checks an image's dtype and size; the channel count is checked by the caller.
void CheckImageArray(const py::array& array, const char* name, const char* shapes) {
    if (!HoldsBytes(array)) {
        throw py::value_error(std::string(name) + " must have dtype uint8, not " + DtypeText(array));
    }
    const py::ssize_t height = array.shape(0), width = array.shape(1);
    if (height < 1 || width < 1 || height > kMaxImageSide || width > kMaxImageSide ||
        height * width > kMaxImagePixels) {
        throw py::value_error(std::string(name) + " is " + std::to_string(width) + " x " + std::to_string(height) +
                              " pixels; each side must be 1..65535 and the whole at most 2^28 pixels (" + shapes +
                              ")");
    }
}

// Copies the array's channels into `image` (already allocated), whatever the strides; a
// fourth byte the array does not have is set to 255.
void CopyPixels(const py::array& array, int channels, CPixelImage& image) {
    const auto* base = static_cast<const unsigned char*>(array.data());
    const py::ssize_t rowStep = array.strides(0), columnStep = array.strides(1);
    const py::ssize_t channelStep = array.ndim() == 3 ? array.strides(2) : 0;
    const int bpp = image.bytesPerPixel;
    unsigned char* out = image.pixels;
    for (int row = 0; row < image.height; ++row) {
        const unsigned char* line = base + row * rowStep;
        for (int column = 0; column < image.width; ++column, out += bpp) {
            const unsigned char* pixel = line + column * columnStep;
            for (int k = 0; k < channels; ++k) out[k] = pixel[k * channelStep];
            // A grey picture for the engine: the grey in red, green and blue.
            if (channels == 1 && bpp == 4) out[1] = out[2] = out[0];
            for (int k = channels == 1 && bpp == 4 ? 3 : channels; k < bpp; ++k) out[k] = 255;
        }
    }
}

void AllocateFor(const py::array& array, int bpp, const char* name, CPixelImage& image) {
    image.Allocate(static_cast<int>(array.shape(1)), static_cast<int>(array.shape(0)), bpp);
    if (image.pixels == nullptr) {
        PyErr_SetString(PyExc_MemoryError, (std::string("no memory for a copy of ") + name).c_str());
        throw py::error_already_set();
    }
    image.fileName = name;
}

}  // namespace

namespace {

// The one rule for picture arguments: grey (H, W) or (H, W, 1), RGB (H, W, 3) or RGBA (H, W, 4)
// uint8, read and written alike. Returns the array and its channel count.
py::array PictureArray(const py::handle& object, const char* name, int& channels) {
    py::array array = AsArray(object, name, "a uint8 array (H, W) or (H, W, 1|3|4)");
    const bool shapeOk = array.ndim() == 2 || (array.ndim() == 3 && (array.shape(2) == 1 || array.shape(2) == 3 ||
                                                                     array.shape(2) == 4));
    if (!shapeOk) {
        throw py::value_error(std::string(name) + " must be an (H, W) or (H, W, 1|3|4) array, not " +
                              ShapeText(array));
    }
    CheckImageArray(array, name, "(H, W) or (H, W, 1|3|4) uint8");
    channels = array.ndim() == 2 ? 1 : static_cast<int>(array.shape(2));
    return array;
}

}  // namespace

EngineImage::EngineImage(const py::handle& object, const char* name) {
    int channels = 0;
    py::array array = PictureArray(object, name, channels);
    const bool aligned = reinterpret_cast<std::uintptr_t>(array.data()) % alignof(std::max_align_t) == 0;
    if (channels == 4 && aligned && (array.flags() & py::array::c_style) != 0) {
        // The engine only reads its inputs, so the array's bytes serve as they are.
        image.Borrow(static_cast<unsigned char*>(const_cast<void*>(array.data())), static_cast<int>(array.shape(1)),
                     static_cast<int>(array.shape(0)), 4);
        image.fileName = name;
        borrowedFrom = array;
        return;
    }
    AllocateFor(array, 4, name, image);
    CopyPixels(array, channels, image);
}

EngineImage::~EngineImage() {
    image.Clear();  // lets a borrowed buffer go before the array it belongs to
}

py::object ImageForWriting(const py::handle& object, const char* name, CPixelImage& image) {
    int channels = 0;
    py::array array = PictureArray(object, name, channels);
    if ((array.flags() & py::array::c_style) != 0) {
        // The writers only read the pixels: a C-ordered array's bytes serve as they are.
        image.Borrow(static_cast<unsigned char*>(const_cast<void*>(array.data())), static_cast<int>(array.shape(1)),
                     static_cast<int>(array.shape(0)), channels);
        image.fileName = name;
        return std::move(array);
    }
    AllocateFor(array, channels, name, image);
    CopyPixels(array, channels, image);
    return py::none();
}

namespace {

// The pairs as C-ordered doubles, one (x0, y0, x1, y1) row per pair.
py::array_t<double> PairValues(const py::handle& object, const char* name) {
    py::array array = AsArray(object, name, "an (N, 4) array of end points");
    // No pairs, however spelt ([], (), an empty array of any shape), are (0, 4).
    if (array.size() == 0 && !(array.ndim() == 2 && array.shape(1) != 4)) return py::array_t<double>(std::vector<py::ssize_t>{0, 4});
    if (array.ndim() != 2 || array.shape(1) != 4) {
        throw py::value_error(std::string(name) + " must be an (N, 4) array of end points (x0, y0, x1, y1), not " +
                              ShapeText(array));
    }
    if (std::strchr("iuf", array.dtype().kind()) == nullptr) {
        throw py::value_error(std::string(name) + " must hold real numbers, not " + DtypeText(array));
    }
    auto values = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(array);
    if (!values) throw py::error_already_set();
    return values;
}

// A pixel position as the document stores it: x / width, and y turned upward, 1 - y / height.
void NormalizeRow(const double* pixels, double width, double height, double* out) {
    for (int k = 0; k < 4; k += 2) {
        out[k] = pixels[k] / width;
        out[k + 1] = 1.0 - pixels[k + 1] / height;
    }
}

std::string Decimal(double value) { return py::repr(py::float_(value)).cast<std::string>(); }

// Pairs meant in pixels but taken as normalized give a frame with no warp at all, without a
// word: refused when every end point lies well outside the picture (beyond -2..3 in x or y),
// which normalized pairs of a real morph never do and pixel pairs nearly always do.
void RefusePixelLookingPairs(const double* data, py::ssize_t count, const char* name) {
    const double low = -2.0, high = 3.0;
    for (py::ssize_t point = 0; point < count * 2; ++point) {
        const double x = data[point * 2], y = data[point * 2 + 1];
        if (x >= low && x <= high && y >= low && y <= high) return;
    }
    if (count == 0) return;
    throw py::value_error(std::string(name) + " look like pixels: every end point lies far outside the picture in "
                          "normalized units (the first is (" + Decimal(data[0]) + ", " + Decimal(data[1]) +
                          ")); give units=\"pixels\", or quarro.pairs_from_pixels(pairs, width, height) for a document");
}

}  // namespace

SegmentList SegmentsFromArray(const py::handle& object, const char* name, const PixelFrame* pixels) {
    py::array_t<double> values = PairValues(object, name);
    const py::ssize_t count = values.shape(0);
    const double* data = values.data();
    SegmentList segments;
    segments.reserve(static_cast<size_t>(count));
    for (py::ssize_t i = 0; i < count; ++i) {
        double row[4] = {data[i * 4], data[i * 4 + 1], data[i * 4 + 2], data[i * 4 + 3]};
        if (pixels != nullptr) NormalizeRow(&data[i * 4], pixels->width, pixels->height, row);
        float v[4];
        for (int k = 0; k < 4; ++k) {
            v[k] = static_cast<float>(row[k]);
            if (!std::isfinite(v[k])) {
                throw py::value_error(std::string(name) + "[" + std::to_string(i) + "] holds " +
                                      py::repr(py::float_(data[i * 4 + k])).cast<std::string>() +
                                      ", not a finite single-precision number");
            }
        }
        segments.emplace_back(Point(v[0], v[1]), Point(v[2], v[3]));
    }
    if (pixels == nullptr) RefusePixelLookingPairs(data, count, name);
    return segments;
}

py::array PairsFromPixels(const py::handle& pairs, const PixelFrame& pixels) {
    py::array_t<double> values = PairValues(pairs, "pairs");
    const py::ssize_t count = values.shape(0);
    py::array_t<double> result({count, py::ssize_t{4}});
    const double* in = values.data();
    double* out = result.mutable_data();
    for (py::ssize_t i = 0; i < count; ++i) NormalizeRow(in + i * 4, pixels.width, pixels.height, out + i * 4);
    return std::move(result);
}

py::array SegmentsToArray(const SegmentList& segments) {
    py::array_t<float> array({static_cast<py::ssize_t>(segments.size()), py::ssize_t{4}});
    float* out = array.mutable_data();
    for (const LineSegment& s : segments) {
        *out++ = s.P.x;
        *out++ = s.P.y;
        *out++ = s.Q.x;
        *out++ = s.Q.y;
    }
    return std::move(array);
}

py::array ArrayFromImage(std::unique_ptr<CPixelImage> image) {
    const py::ssize_t height = image->height, width = image->width, bpp = image->bytesPerPixel;
    unsigned char* pixels = image->pixels;
    py::capsule owner(image.release(), [](void* held) { delete static_cast<CPixelImage*>(held); });
    return py::array(py::dtype::of<uint8_t>(), {height, width, bpp}, {width * bpp, bpp, py::ssize_t{1}}, pixels,
                     owner);
}

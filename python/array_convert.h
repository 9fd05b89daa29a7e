// Numpy arrays to and from the core's types: pictures to RGBA images, (N, 4) pair arrays to
// segment lists and back, finished frames to arrays. Every refusal names the argument: a
// TypeError for what is no array of numbers, a ValueError for a wrong shape, dtype or value.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <memory>

#include "image/pixel_image.h"
#include "morph/segment_list.h"

namespace py = pybind11;

// A picture argument as the engine reads it: 4 bytes per pixel, top row first. The array's
// own bytes are used when they already are aligned, C-ordered (H, W, 4) uint8; any other
// layout and (H, W, 3) arrays are copied, RGB with alpha 255. Keeps a borrowed array alive.
class EngineImage {
public:
    EngineImage(const py::handle& object, const char* name);
    ~EngineImage();
    EngineImage(const EngineImage&) = delete;
    EngineImage& operator=(const EngineImage&) = delete;

    CPixelImage image;

private:
    py::object borrowedFrom;
};

// An (H, W), (H, W, 1), (H, W, 3) or (H, W, 4) uint8 array as an image of its own channel
// count, for writing to a file: a C-ordered array's buffer borrowed, any other copied. Returns
// what must stay alive while `image` is used (the array, or None for a copy).
py::object ImageForWriting(const py::handle& object, const char* name, CPixelImage& image);

// The pixel size of the picture that pairs given in pixels lie on.
struct PixelFrame {
    double width = 0, height = 0;
};

// The segments of an (N, 4) array of reals, one (x0, y0, x1, y1) row per segment, each value
// narrowed to float; non-finite values (also after narrowing) are refused. With `pixels` the
// rows are pixel positions (x right, y down, as numpy indexes [y, x]) and are normalized first.
SegmentList SegmentsFromArray(const py::handle& object, const char* name, const PixelFrame* pixels = nullptr);

// The normalized (N, 4) float64 end points of pairs given in pixels of a picture of that size:
// (x / width, 1 - y / height), the numbers SegmentsFromArray narrows for pixel pairs.
py::array PairsFromPixels(const py::handle& pairs, const PixelFrame& pixels);

// The (N, 4) float32 array of a list's end points, as a document stores them.
py::array SegmentsToArray(const SegmentList& segments);

// A new (H, W, C) uint8 array that takes over the image's buffer without copying it.
py::array ArrayFromImage(std::unique_ptr<CPixelImage> image);

// TGA files (run-length coded) through stb_image_write (Debian's libstb): the rows are handed
// over in the channels the file gets, and its bytes are gathered in memory.
#include <stb/stb_image_write.h>

#include <new>

#include "image/image_writers.h"

namespace {

struct Gathered {
    std::vector<unsigned char>* bytes;
    bool failed = false;
};

void Gather(void* context, void* data, int size) {
    Gathered* into = static_cast<Gathered*>(context);
    if (into->failed || size <= 0) return;
    const unsigned char* from = static_cast<const unsigned char*>(data);
    try {
        into->bytes->insert(into->bytes->end(), from, from + size);
    } catch (const std::bad_alloc&) {
        into->failed = true;
    }
}

using StbWrite = int (*)(stbi_write_func*, void*, int, int, int, const void*);

int Encode(StbWrite write, const char* name, const CPixelImage& image, int channels, std::vector<unsigned char>& bytes,
           std::string& reason) {
    bytes.clear();
    std::vector<unsigned char> converted;
    const unsigned char* pixels = image.pixels;
    const size_t rowBytes = static_cast<size_t>(image.width) * static_cast<size_t>(channels);
    try {
        bytes.reserve(rowBytes * static_cast<size_t>(image.height) + 1024);
        if (channels != image.bytesPerPixel) converted.resize(rowBytes * static_cast<size_t>(image.height));
    } catch (const std::bad_alloc&) {
        reason = "out of memory";
        return -1;
    }
    if (channels != image.bytesPerPixel) {
        for (int y = 0; y < image.height; ++y) ConvertRow(image, y, channels, converted.data() + rowBytes * y);
        pixels = converted.data();
    }
    Gathered into{&bytes};
    if (write(Gather, &into, image.width, image.height, channels, pixels) == 0 || into.failed || bytes.empty()) {
        reason = into.failed ? "out of memory while encoding the image" : std::string("the ") + name + " writer failed";
        bytes.clear();
        return -1;
    }
    return 0;
}

}  // namespace

int EncodeTga(const CPixelImage& image, int channels, std::vector<unsigned char>& bytes, std::string& reason) {
    return Encode(stbi_write_tga_to_func, "TGA", image, channels, bytes, reason);
}

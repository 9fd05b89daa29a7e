#include "image/png_encoder.h"

#include <spng.h>

#include <cstdlib>
#include <memory>

#include "files/file_name.h"
#include "files/replace_file.h"

namespace {

struct ContextDeleter {
    void operator()(spng_ctx* context) const { spng_ctx_free(context); }
};

bool IsOpaque(const CPixelImage& image) {
    const unsigned char* alpha = image.pixels + 3;
    const unsigned char* end = image.pixels + image.ByteCount();
    for (; alpha < end; alpha += 4) {
        if (*alpha != 255) return false;
    }
    return true;
}

// Hands the rows to the encoder one at a time, as RGB when `opaque`; 0 or an encoder error.
int EncodeRows(spng_ctx* ctx, const CPixelImage& image, bool opaque) {
    const size_t width = static_cast<size_t>(image.width);
    std::vector<unsigned char> row(width * 3);
    int error = spng_encode_image(ctx, nullptr, 0, SPNG_FMT_PNG, SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE);
    for (int y = 0; y < image.height && error == 0; ++y) {
        const unsigned char* from = image.pixels + static_cast<size_t>(y) * width * 4;
        if (!opaque) {
            error = spng_encode_row(ctx, from, width * 4);
        } else {
            for (size_t x = 0; x < width; ++x) {
                row[x * 3] = from[x * 4];
                row[x * 3 + 1] = from[x * 4 + 1];
                row[x * 3 + 2] = from[x * 4 + 2];
            }
            error = spng_encode_row(ctx, row.data(), row.size());
        }
    }
    return error == SPNG_EOI ? 0 : error;  // the last row ends the image
}

int Refuse(std::string& reason, const std::string& why) {
    reason = why;
    return -1;
}

}  // namespace

bool IsPngPath(const std::string& path) {
    return LowerFileExtension(path) == ".png";
}

int EncodePng(const CPixelImage& image, int level, std::vector<unsigned char>& png, std::string& reason) {
    if (image.IsEmpty() || image.width <= 0 || image.height <= 0) return Refuse(reason, "the image is empty");
    if (image.bytesPerPixel != 4) return Refuse(reason, "the image is not 4-byte RGBA");
    if (level < 0 || level > 9) return Refuse(reason, "the PNG level is not in 0..9");

    std::unique_ptr<spng_ctx, ContextDeleter> context(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!context) return Refuse(reason, "out of memory");
    spng_ctx* ctx = context.get();

    const bool opaque = IsOpaque(image);
    spng_ihdr header = {};
    header.width = static_cast<uint32_t>(image.width);
    header.height = static_cast<uint32_t>(image.height);
    header.bit_depth = 8;
    header.color_type = opaque ? SPNG_COLOR_TYPE_TRUECOLOR : SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;

    int error = spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    if (error == 0) error = spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, level);
    if (error == 0) error = spng_set_option(ctx, SPNG_FILTER_CHOICE, level == 0 ? SPNG_FILTER_CHOICE_NONE : SPNG_FILTER_CHOICE_UP);
    if (error == 0) error = spng_set_ihdr(ctx, &header);
    if (error == 0) error = EncodeRows(ctx, image, opaque);
    if (error != 0) return Refuse(reason, std::string("PNG encoder: ") + spng_strerror(error));

    size_t size = 0;
    void* buffer = spng_get_png_buffer(ctx, &size, &error);
    if (buffer == nullptr) return Refuse(reason, std::string("PNG encoder: ") + spng_strerror(error));
    const unsigned char* bytes = static_cast<const unsigned char*>(buffer);
    png.assign(bytes, bytes + size);
    std::free(buffer);  // the buffer is the caller's, from the default allocator
    return 0;
}

int WritePngFile(const std::string& path, const CPixelImage& image, int level, std::string& reason) {
    std::vector<unsigned char> png;
    if (EncodePng(image, level, png, reason) != 0) return -1;
    return ReplaceFileWithBytes(path, png.data(), png.size(), reason);
}

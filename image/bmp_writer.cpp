// BMP files, written by the program itself: rows bottom first, 24-bit BGR with the 40-byte
// header, or for a picture with transparency 32-bit BGRA with the 108-byte header whose masks
// say where the alpha is. (stb_image_write's per-pixel writer took eight times as long.)
#include <cstring>
#include <new>

#include "image/image_writers.h"

namespace {

void Put16(unsigned char*& at, unsigned value) {
    at[0] = static_cast<unsigned char>(value);
    at[1] = static_cast<unsigned char>(value >> 8);
    at += 2;
}

void Put32(unsigned char*& at, unsigned long value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
    at += 4;
}

}  // namespace

int EncodeBmp(const CPixelImage& image, int channels, std::vector<unsigned char>& bytes, std::string& reason,
              bool* opaque) {
    const bool alpha = channels == 4;
    const size_t width = static_cast<size_t>(image.width), height = static_cast<size_t>(image.height);
    const size_t pixelBytes = alpha ? 4 : 3;
    const size_t stride = (width * pixelBytes + 3) & ~static_cast<size_t>(3);
    const size_t headerBytes = 14 + (alpha ? 108 : 40);
    const size_t total = headerBytes + stride * height;
    if (total > 0xFFFFFFFFu) {
        reason = "a BMP file holds at most 4 GB";
        return -1;
    }
    try {
        bytes.resize(total);  // a buffer kept from the last frame is not cleared again
    } catch (const std::bad_alloc&) {
        reason = "out of memory";
        return -1;
    }
    std::memset(bytes.data(), 0, headerBytes);
    unsigned char* at = bytes.data();
    *at++ = 'B';
    *at++ = 'M';
    Put32(at, total);
    Put32(at, 0);
    Put32(at, headerBytes);
    Put32(at, headerBytes - 14);
    Put32(at, width);
    Put32(at, height);  // positive: the bottom row comes first
    Put16(at, 1);
    Put16(at, static_cast<unsigned>(pixelBytes * 8));
    Put32(at, alpha ? 3 : 0);  // BI_BITFIELDS with its masks, or BI_RGB
    Put32(at, stride * height);
    Put32(at, 2835);  // 72 dots an inch
    Put32(at, 2835);
    Put32(at, 0);
    Put32(at, 0);
    if (alpha) {
        Put32(at, 0x00FF0000);  // red, green, blue, alpha masks of a little-endian BGRA pixel
        Put32(at, 0x0000FF00);
        Put32(at, 0x000000FF);
        Put32(at, 0xFF000000);
        Put32(at, 0x73524742);  // 'sRGB'; the end points and gamma after it stay zero
    }
    const int from = image.bytesPerPixel;
    for (size_t y = 0; y < height; ++y) {
        const unsigned char* row = image.pixels + (height - 1 - y) * width * static_cast<size_t>(from);
        unsigned char* out = bytes.data() + headerBytes + y * stride;
        std::memset(out + width * pixelBytes, 0, stride - width * pixelBytes);
        if (from == 1) {
            for (size_t x = 0; x < width; ++x, out += 3) out[0] = out[1] = out[2] = row[x];
        } else if (alpha) {
            for (size_t x = 0; x < width; ++x, row += 4, out += 4) {
                out[0] = row[2];
                out[1] = row[1];
                out[2] = row[0];
                out[3] = row[3];
            }
        } else if (from == 4) {
            if (PackRgbaRow(row, width, true, out) != 0xFF && opaque != nullptr) {
                *opaque = false;
                return 0;
            }
        } else {
            for (size_t x = 0; x < width; ++x, row += from, out += 3) {
                out[0] = row[2];
                out[1] = row[1];
                out[2] = row[0];
            }
        }
    }
    return 0;
}

// BMP through stb_image (Debian's libstb) for the kinds the general image library refuses or
// gets wrong: every header but the 40-byte one (V4/V5 and the rest are refused, OS/2 files come
// back with red and blue swapped), and 16- and 32-bit pixels (five-bit channels are widened
// short of full white, the alpha of 32-bit pixels is dropped). Plain 40-byte 1- to 24-bit
// files stay with the image library, which reads them right.
#include <stb/stb_image.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "decoder/decode_limits.h"
#include "decoder/format_decoders.h"

namespace {

constexpr uint32_t kCoreHeader = 12;  // OS/2 1.x: 16-bit sizes
constexpr uint32_t kInfoHeader = 40;
constexpr uint32_t kRle8 = 1, kRle4 = 2, kJpegInside = 4, kPngInside = 5;

uint32_t Little(const unsigned char* p, int bytes) {
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | p[i];
    return value;
}

struct BmpHeader {
    uint32_t pixelOffset = 0, headerSize = 0, compression = 0;
    int64_t width = 0, height = 0;
    int bitsPerPixel = 0;
};

bool ReadHeader(const unsigned char* data, size_t size, BmpHeader& header) {
    if (size < 26 || data[0] != 'B' || data[1] != 'M') return false;
    header.pixelOffset = Little(data + 10, 4);
    header.headerSize = Little(data + 14, 4);
    if (header.headerSize == kCoreHeader) {
        header.width = Little(data + 18, 2);
        header.height = Little(data + 20, 2);
        header.bitsPerPixel = static_cast<int>(Little(data + 24, 2));
        return true;
    }
    if (header.headerSize < kInfoHeader || size < 14 + kInfoHeader) return false;
    header.width = static_cast<int32_t>(Little(data + 18, 4));
    header.height = static_cast<int32_t>(Little(data + 22, 4));
    header.bitsPerPixel = static_cast<int>(Little(data + 28, 2));
    header.compression = Little(data + 30, 4);
    return true;
}

}  // namespace

bool LooksLikeBmp(const unsigned char* data, size_t size) {
    BmpHeader header;
    if (!ReadHeader(data, size, header)) return false;
    return header.headerSize != kInfoHeader || header.bitsPerPixel == 16 || header.bitsPerPixel == 32;
}

int DecodeBmp(const unsigned char* data, size_t size, DecodedImage& out, std::string& reason) {
    BmpHeader header;
    ReadHeader(data, size, header);
    int64_t height = header.height < 0 ? -header.height : header.height;  // negative: rows stored top first
    if (!WithinDecodeLimits(header.width, height, "BMP", reason)) return -1;
    if (header.compression == kRle8 || header.compression == kRle4 || header.compression == kJpegInside ||
        header.compression == kPngInside) {
        reason = "the BMP file is compressed (" +
                 std::string(header.compression == kJpegInside ? "JPEG" : header.compression == kPngInside ? "PNG" : "RLE") +
                 ") with a " + std::to_string(header.headerSize) + "-byte header, which this program does not read";
        return -1;
    }
    // Uncompressed rows are padded to four bytes; a file too short for them is refused before
    // anything the size of the picture is allocated.
    uint64_t rowBytes = (static_cast<uint64_t>(header.width) * header.bitsPerPixel + 31) / 32 * 4;
    if (header.pixelOffset > size || rowBytes * static_cast<uint64_t>(height) > size - header.pixelOffset) {
        reason = "the BMP data ends early";
        return -1;
    }
    if (size > static_cast<size_t>(INT_MAX)) {
        reason = "the BMP file is larger than this program reads";
        return -1;
    }
    int width = 0, rows = 0, channels = 0;
    unsigned char* pixels = stbi_load_from_memory(data, static_cast<int>(size), &width, &rows, &channels, 4);
    if (pixels == nullptr) {
        const char* why = stbi_failure_reason();
        reason = std::string("the BMP file could not be decoded (") + (why != nullptr ? why : "unknown fault") + ")";
        return -1;
    }
    if (width != header.width || rows != height) {
        stbi_image_free(pixels);
        reason = "the BMP file's picture does not match its header";
        return -1;
    }
    AllocateDecoded(width, rows, out);
    std::memcpy(out.rgba.data(), pixels, out.rgba.size());
    stbi_image_free(pixels);
    return 1;
}

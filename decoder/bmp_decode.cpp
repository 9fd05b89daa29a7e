// BMP through stb_image (Debian's libstb) for the kinds the general image library refuses or
// gets wrong: every header but the 40-byte one (V4/V5 and the rest are refused, OS/2 files come
// back with red and blue swapped), and 16- and 32-bit pixels (five-bit channels are widened
// short of full white, the alpha of 32-bit pixels is dropped). Plain 40-byte 1- to 24-bit
// files stay with the image library, which reads them right. stb_image reads no run-length
// compressed BMP, so those (with the newer headers) are expanded here.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "decoder/decode_limits.h"
#include "decoder/format_decoders.h"
#include "decoder/stb_library.h"
#include "image/byte_reader.h"

namespace {

constexpr uint32_t kCoreHeader = 12;  // OS/2 1.x: 16-bit sizes
constexpr uint32_t kInfoHeader = 40;
constexpr uint32_t kRle8 = 1, kRle4 = 2, kJpegInside = 4, kPngInside = 5;

struct BmpHeader {
    uint32_t pixelOffset = 0, headerSize = 0, compression = 0, colorsUsed = 0;
    int64_t width = 0, height = 0;
    int bitsPerPixel = 0;
};

bool ReadHeader(const unsigned char* data, size_t size, BmpHeader& header) {
    ByteReader b(data, size);
    long long offset, headerSize, w, h, bits, compression = 0, colours = 0;
    if (!b.Matches(0, "BM", 2) || !b.U32(10, false, offset) || !b.U32(14, false, headerSize)) return false;
    bool core = headerSize == kCoreHeader;
    if (!core && headerSize < kInfoHeader) return false;
    bool read = core ? b.U16(18, false, w) && b.U16(20, false, h) && b.U16(24, false, bits)
                     : b.I32(18, false, w) && b.I32(22, false, h) && b.U16(28, false, bits) &&
                           b.U32(30, false, compression) && b.U32(46, false, colours);
    if (!read) return false;
    header.pixelOffset = static_cast<uint32_t>(offset);
    header.headerSize = static_cast<uint32_t>(headerSize);
    header.width = w;
    header.height = h;
    header.bitsPerPixel = static_cast<int>(bits);
    header.compression = static_cast<uint32_t>(compression);
    header.colorsUsed = static_cast<uint32_t>(colours);
    return true;
}

// The palette as RGBA: entries of four bytes (blue, green, red, unused) after the headers.
std::vector<uint32_t> ReadPalette(const unsigned char* data, size_t size, const BmpHeader& header) {
    size_t start = 14 + static_cast<size_t>(header.headerSize);
    size_t end = std::min<size_t>(header.pixelOffset, size);
    size_t count = header.colorsUsed != 0 ? header.colorsUsed : size_t{1} << header.bitsPerPixel;
    count = std::min<size_t>(count, 256);
    std::vector<uint32_t> palette;
    for (size_t i = 0; i < count && start + i * 4 + 4 <= end; ++i) {
        const unsigned char* entry = data + start + i * 4;
        palette.push_back(uint32_t{entry[2]} | uint32_t{entry[1]} << 8 | uint32_t{entry[0]} << 16 | 0xFF000000u);
    }
    return palette;
}

// RLE8 and RLE4 pictures, rows bottom first. Pixels the runs skip (with a jump or an early
// end) stay transparent, and colours beyond the palette are black.
int DecodeRle(const unsigned char* data, size_t size, const BmpHeader& header, DecodedImage& out,
              std::string& reason) {
    bool four = header.compression == kRle4;
    if (header.bitsPerPixel != (four ? 4 : 8) || header.height < 0) {
        reason = "the BMP file's run-length compression does not fit its pixel size";
        return -1;
    }
    std::vector<uint32_t> palette = ReadPalette(data, size, header);
    if (header.pixelOffset >= size) {
        reason = "the BMP data ends early";
        return -1;
    }
    int width = static_cast<int>(header.width), height = static_cast<int>(header.height);
    AllocateDecoded(width, height, out);
    auto put = [&](int64_t x, int64_t y, unsigned index) {
        if (x < 0 || x >= width || y < 0 || y >= height) return;
        uint32_t colour = index < palette.size() ? palette[index] : 0xFF000000u;
        unsigned char* p = &out.Pixels()[(static_cast<size_t>(height - 1 - y) * width + static_cast<size_t>(x)) * 4];
        for (int c = 0; c < 4; ++c) p[c] = static_cast<unsigned char>(colour >> (8 * c));
    };
    const unsigned char* at = data + header.pixelOffset;
    const unsigned char* end = data + size;
    int64_t x = 0, y = 0;
    while (y < height) {
        if (end - at < 2) {
            reason = "the BMP data ends early";
            return -1;
        }
        unsigned count = at[0], value = at[1];
        at += 2;
        if (count > 0) {  // a run of one colour, or of two alternating ones in RLE4
            for (unsigned i = 0; i < count; ++i, ++x) put(x, y, four ? (i % 2 == 0 ? value >> 4 : value & 15) : value);
        } else if (value == 0) {  // end of the row
            x = 0;
            ++y;
        } else if (value == 1) {  // end of the picture
            break;
        } else if (value == 2) {  // a jump right and up
            if (end - at < 2) {
                reason = "the BMP data ends early";
                return -1;
            }
            x += at[0];
            y += at[1];
            at += 2;
        } else {  // `value` pixels stored one by one, padded to a whole 16-bit word
            size_t bytes = four ? (value + 1) / 2 : value;
            size_t padded = (bytes + 1) / 2 * 2;
            if (static_cast<size_t>(end - at) < padded) {
                reason = "the BMP data ends early";
                return -1;
            }
            for (unsigned i = 0; i < value; ++i, ++x) put(x, y, four ? (i % 2 == 0 ? at[i / 2] >> 4 : at[i / 2] & 15) : at[i]);
            at += padded;
        }
    }
    return 1;
}

}  // namespace

int DecodeBmp(const unsigned char* data, size_t size, const ImageHeader&, DecodedImage& out, std::string& reason) {
    BmpHeader header;
    if (!ReadHeader(data, size, header)) return 0;
    // The image library sets aside the whole palette a header claims before reading it: a claim
    // the file cannot hold is refused before that.
    if (header.bitsPerPixel <= 8 && 14 + uint64_t{header.headerSize} + uint64_t{header.colorsUsed} * 4 > size) {
        reason = "the BMP header claims a palette of " + std::to_string(header.colorsUsed) + " colours, more than the file holds";
        return -1;
    }
    bool ours = header.headerSize != kInfoHeader || header.bitsPerPixel == 16 || header.bitsPerPixel == 32;
    if (!ours) return 0;
    int64_t height = header.height < 0 ? -header.height : header.height;  // negative: rows stored top first
    if (!WithinDecodeLimits(header.width, height, "BMP", reason)) return -1;
    if (header.compression == kJpegInside || header.compression == kPngInside) {
        reason = std::string("the BMP file holds a ") + (header.compression == kJpegInside ? "JPEG" : "PNG") +
                 " picture, which this program does not read from inside a BMP";
        return -1;
    }
    if (header.compression == kRle8 || header.compression == kRle4) {
        return DecodeRle(data, size, header, out, reason);
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
    const StbLibrary* stb = LoadStbLibrary(reason);
    if (stb == nullptr) return -1;
    int width = 0, rows = 0, channels = 0;
    unsigned char* pixels = stb->load_from_memory(data, static_cast<int>(size), &width, &rows, &channels, 4);
    if (pixels == nullptr) {
        const char* why = stb->failure_reason();
        reason = std::string("the BMP file could not be decoded (") + (why != nullptr ? why : "unknown fault") + ")";
        return -1;
    }
    if (width != header.width || rows != height) {
        stb->image_free(pixels);
        reason = "the BMP file's picture does not match its header";
        return -1;
    }
    AllocateDecoded(width, rows, out);
    std::memcpy(out.Pixels(), pixels, out.PixelBytes());
    stb->image_free(pixels);
    return 1;
}

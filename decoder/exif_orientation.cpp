// The EXIF orientation of JPEG (APP1 Exif) and TIFF files, found with a bounded walk of the
// bytes, and the turn or mirror it asks for. Any bytes at all are safe here: every read is
// checked against the end of the data before it is made.
#include <cstdint>
#include <cstring>
#include <vector>

#include "decoder/exif_orientation.h"
#include "image/byte_reader.h"
#include "image/jpeg_markers.h"

namespace {

constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kTypeShort = 3;

// The Orientation value of the first image directory of TIFF-structured bytes (a TIFF file or
// the body of an Exif block), classic or BigTIFF; 0 when there is none or it is not readable.
int TiffOrientation(const ByteReader& tiff) {
    bool be = tiff.Matches(0, "MM", 2);
    if (!be && !tiff.Matches(0, "II", 2)) return 0;
    long long version, directory, entries;
    if (!tiff.U16(2, be, version) || (version != 42 && version != 43)) return 0;
    bool big = version == 43;
    uint64_t countSize = big ? 8 : 2, entrySize = big ? 20 : 12, countField = big ? 8 : 4;
    if (!(big ? tiff.U64(8, be, directory) : tiff.U32(4, be, directory))) return 0;
    uint64_t start = static_cast<uint64_t>(directory);
    if (!(big ? tiff.U64(start, be, entries) : tiff.U16(start, be, entries))) return 0;
    for (long long i = 0; i < entries; ++i) {
        uint64_t entry = start + countSize + static_cast<uint64_t>(i) * entrySize;
        long long tag, type, count, value;
        if (!tiff.Has(entry, entrySize) || !tiff.U16(entry, be, tag)) return 0;
        if (tag != kOrientationTag) continue;
        if (!tiff.U16(entry + 2, be, type) || !(big ? tiff.U64(entry + 4, be, count) : tiff.U32(entry + 4, be, count))) {
            return 0;
        }
        if (type != kTypeShort || count < 1 || !tiff.U16(entry + 4 + countField, be, value)) return 0;
        return value >= 1 && value <= 8 ? static_cast<int>(value) : 0;
    }
    return 0;
}

// The Orientation of a JPEG's first APP1 Exif block before the first scan; 0 when there is none.
int JpegOrientation(const ByteReader& bytes) {
    if (!bytes.Matches(0, "\xff\xd8", 2)) return 0;
    uint64_t at = 2;
    JpegSegment segment;
    while (NextJpegSegment(bytes, at, segment)) {
        if (segment.code == 0xDA || segment.code == 0xD9) return 0;
        if (segment.code == 0xE1 && bytes.Matches(segment.body, "Exif\0\0", 6) && segment.bodySize >= 6) {
            return TiffOrientation(bytes.Slice(segment.body + 6, segment.bodySize - 6));
        }
    }
    return 0;
}

}  // namespace

void ApplyExifOrientation(const unsigned char* data, size_t size, DecodedImage& out) {
    if (data == nullptr) return;
    ByteReader bytes(data, size);
    int orientation = JpegOrientation(bytes);
    if (orientation == 0) orientation = TiffOrientation(bytes);
    if (orientation <= 1) return;
    if (out.width <= 0 || out.height <= 0) return;
    size_t w = static_cast<size_t>(out.width), h = static_cast<size_t>(out.height);
    if (out.PixelBytes() / 4 / w != h || out.PixelBytes() != w * h * 4) return;

    bool swap = orientation >= 5;
    size_t outW = swap ? h : w, outH = swap ? w : h;
    // The turn reads from a copy and writes back into the pixels' own memory, which may be the
    // caller's and must stay where it is.
    unsigned char* pixels = out.Pixels();
    std::vector<unsigned char> stored(pixels, pixels + out.PixelBytes());
    for (size_t y = 0; y < outH; ++y) {
        for (size_t x = 0; x < outW; ++x) {
            size_t sx = x, sy = y;
            switch (orientation) {
                case 2: sx = w - 1 - x; break;                         // mirrored left to right
                case 3: sx = w - 1 - x; sy = h - 1 - y; break;         // turned half round
                case 4: sy = h - 1 - y; break;                         // mirrored top to bottom
                case 5: sx = y; sy = x; break;                         // mirrored about the main diagonal
                case 6: sx = y; sy = h - 1 - x; break;                 // to be turned a quarter clockwise
                case 7: sx = w - 1 - y; sy = h - 1 - x; break;         // mirrored about the other diagonal
                case 8: sx = w - 1 - y; sy = x; break;                 // to be turned a quarter anticlockwise
            }
            std::memcpy(&pixels[(y * outW + x) * 4], &stored[(sy * w + sx) * 4], 4);
        }
    }
    out.width = static_cast<int>(outW);
    out.height = static_cast<int>(outH);
}

// The EXIF orientation of JPEG (APP1 Exif) and TIFF files, found with a bounded walk of the
// bytes, and the turn or mirror it asks for. Any bytes at all are safe here: every read is
// checked against the end of the data before it is made.
#include <cstdint>
#include <cstring>

#include "decoder/extra_decode.h"

namespace {

constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kTypeShort = 3;

struct TiffReader {
    const unsigned char* data;
    size_t size;
    bool bigEndian;

    bool Read(size_t offset, size_t length, uint64_t& value) const {
        if (offset > size || length > size - offset) return false;
        value = 0;
        for (size_t i = 0; i < length; ++i) {
            unsigned char byte = bigEndian ? data[offset + i] : data[offset + length - 1 - i];
            value = (value << 8) | byte;
        }
        return true;
    }
};

// The Orientation value of the first image directory of TIFF-structured bytes (a TIFF file or
// the body of an Exif block), classic or BigTIFF; 0 when there is none or it is not readable.
int TiffOrientation(const unsigned char* data, size_t size) {
    if (size < 8) return 0;
    TiffReader tiff{data, size, false};
    if (std::memcmp(data, "MM", 2) == 0) {
        tiff.bigEndian = true;
    } else if (std::memcmp(data, "II", 2) != 0) {
        return 0;
    }
    uint64_t version = 0, directory = 0, entries = 0;
    tiff.Read(2, 2, version);
    bool big = version == 43;
    if (version != 42 && !big) return 0;
    size_t countSize = big ? 8 : 2;
    size_t entrySize = big ? 20 : 12;
    size_t countField = big ? 8 : 4;
    if (!tiff.Read(big ? 8 : 4, big ? 8 : 4, directory)) return 0;
    if (!tiff.Read(directory, countSize, entries)) return 0;
    for (uint64_t i = 0; i < entries; ++i) {
        size_t entry = directory + countSize + i * entrySize;  // no wrap: Read bounds each step
        if (entry < directory || entry > size) return 0;
        uint64_t tag = 0, type = 0, count = 0, value = 0;
        if (!tiff.Read(entry, 2, tag)) return 0;
        if (tag != kOrientationTag) continue;
        if (!tiff.Read(entry + 2, 2, type) || !tiff.Read(entry + 4, countField, count)) return 0;
        if (type != kTypeShort || count < 1) return 0;
        if (!tiff.Read(entry + 4 + countField, 2, value)) return 0;
        return value >= 1 && value <= 8 ? static_cast<int>(value) : 0;
    }
    return 0;
}

// The Orientation of a JPEG's first APP1 Exif block, found by walking the markers up to the
// start of the scan; 0 when there is none.
int JpegOrientation(const unsigned char* data, size_t size) {
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return 0;
    size_t at = 2;
    while (at + 4 <= size) {
        if (data[at] != 0xFF) return 0;
        unsigned char marker = data[at + 1];
        if (marker == 0xFF) {  // fill byte before a marker
            ++at;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // markers without a length
            at += 2;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) return 0;  // the scan starts: no Exif before it
        size_t length = (static_cast<size_t>(data[at + 2]) << 8) | data[at + 3];
        if (length < 2 || length > size - at - 2) return 0;
        const unsigned char* body = data + at + 4;
        size_t bodySize = length - 2;
        if (marker == 0xE1 && bodySize >= 6 && std::memcmp(body, "Exif\0\0", 6) == 0) {
            return TiffOrientation(body + 6, bodySize - 6);
        }
        at += 2 + length;
    }
    return 0;
}

}  // namespace

void ApplyExifOrientation(const unsigned char* data, size_t size, DecodedImage& out) {
    if (data == nullptr) return;
    int orientation = JpegOrientation(data, size);
    if (orientation == 0) orientation = TiffOrientation(data, size);
    if (orientation <= 1) return;
    if (out.width <= 0 || out.height <= 0) return;
    size_t w = static_cast<size_t>(out.width), h = static_cast<size_t>(out.height);
    if (out.rgba.size() / 4 / w != h || out.rgba.size() != w * h * 4) return;

    bool swap = orientation >= 5;
    size_t outW = swap ? h : w, outH = swap ? w : h;
    std::vector<unsigned char> turned(out.rgba.size());
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
            std::memcpy(&turned[(y * outW + x) * 4], &out.rgba[(sy * w + sx) * 4], 4);
        }
    }
    out.width = static_cast<int>(outW);
    out.height = static_cast<int>(outH);
    out.rgba.swap(turned);
}

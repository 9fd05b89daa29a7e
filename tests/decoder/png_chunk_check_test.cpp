// The CRCs of a PNG's chunks, checked apart from the decoder: damaged image data is refused
// as such, in a small picture and in one whose data is checked on another thread; a damaged
// ancillary chunk before the image data is still skipped by the library.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/decode_bytes.h"

namespace {

std::string Be32(uint32_t v) { return {char(v >> 24), char(v >> 16 & 0xFF), char(v >> 8 & 0xFF), char(v & 0xFF)}; }

std::string Chunk(const std::string& type, const std::string& body) {
    std::string typed = type + body;
    return Be32(static_cast<uint32_t>(body.size())) + typed +
           Be32(static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size()))));
}

// An 8-bit RGB PNG of noise (so that it barely compresses), its image data in 64 KB chunks,
// with a text chunk before them; `samples` gets its RGB bytes.
std::string NoisePng(int width, int height, std::vector<unsigned char>& samples) {
    std::mt19937 random(7);
    std::string raw;
    samples.clear();
    for (int y = 0; y < height; ++y) {
        raw += '\0';
        for (int i = 0; i < width * 3; ++i) {
            unsigned char v = static_cast<unsigned char>(random());
            raw += static_cast<char>(v);
            samples.push_back(v);
        }
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(packedSize, '\0');
    compress2(reinterpret_cast<Bytef*>(&packed[0]), &packedSize, reinterpret_cast<const Bytef*>(raw.data()),
              static_cast<uLong>(raw.size()), 1);
    packed.resize(packedSize);
    std::string png = std::string("\x89PNG\r\n\x1a\n", 8) +
                      Chunk("IHDR", Be32(width) + Be32(height) + std::string("\x08\x02\0\0\0", 5)) +
                      Chunk("tEXt", std::string("Comment\0noise", 13));
    for (size_t at = 0; at < packed.size(); at += 65536) png += Chunk("IDAT", packed.substr(at, 65536));
    return png + Chunk("IEND", "");
}

// Flips a bit of the CRC of the `nth` chunk of `type` (counting from 0; -1 the last).
std::string DamageCrc(std::string png, const std::string& type, int nth) {
    std::vector<size_t> found;
    for (size_t at = 8; at + 12 <= png.size();) {
        size_t length = static_cast<unsigned char>(png[at]) << 24 | static_cast<unsigned char>(png[at + 1]) << 16 |
                        static_cast<unsigned char>(png[at + 2]) << 8 | static_cast<unsigned char>(png[at + 3]);
        if (png.compare(at + 4, 4, type) == 0) found.push_back(at + 8 + length);
        at += 12 + length;
    }
    size_t crc = found.at(nth < 0 ? found.size() - 1 : static_cast<size_t>(nth));
    png[crc] = static_cast<char>(png[crc] ^ 1);
    return png;
}

TEST(PngChunkCheck, DamagedImageDataIsRefusedAndADamagedTextChunkSkipped) {
    struct Case {
        const char* label;
        int width, height;
        const char* damaged;  // chunk type, or null
        int nth;
        const char* reason;  // null: decodes to the samples
    };
    const Case cases[] = {
        {"intact, data checked on another thread", 1100, 1000, nullptr, 0, nullptr},
        {"last data chunk, checked on another thread", 1100, 1000, "IDAT", -1, "the PNG file is damaged: invalid chunk checksum"},
        {"first data chunk of a small picture", 40, 30, "IDAT", 0, "the PNG file is damaged: invalid chunk checksum"},
        {"text chunk before the data", 1100, 1000, "tEXt", 0, nullptr},
        {"header chunk", 40, 30, "IHDR", 0, "the PNG file is damaged"},
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> samples;
        std::string png = NoisePng(c.width, c.height, samples);
        if (c.damaged != nullptr) png = DamageCrc(png, c.damaged, c.nth);
        DecodedImage out;
        std::string reason;
        int status = DecodeWhole(png, "noise.png", out, reason);
        if (c.reason != nullptr) {
            EXPECT_EQ(status, -1) << c.label;
            EXPECT_EQ(reason.rfind(c.reason, 0), 0u) << c.label << ": " << reason;
            continue;
        }
        ASSERT_EQ(status, 0) << c.label << ": " << reason;
        ASSERT_EQ(out.width, c.width) << c.label;
        const unsigned char* pixels = out.Pixels();
        for (size_t i = 0; i < samples.size() / 3; ++i) {
            ASSERT_EQ(0, std::memcmp(pixels + 4 * i, &samples[3 * i], 3)) << c.label << " pixel " << i;
            ASSERT_EQ(pixels[4 * i + 3], 255) << c.label << " pixel " << i;
        }
    }
}

}  // namespace

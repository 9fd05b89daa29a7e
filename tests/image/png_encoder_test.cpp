// The frame PNG writer: what other decoders read back, the colour type it picks, its
// refusals, that its pixels equal the image library's save of the same frame, and that its
// bytes do not depend on the threads that deflated its bands.
#include "image/png_encoder.h"

#include <gtest/gtest.h>
#include <png.h>
#include <spng.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "image/image_file.h"
#include "support/png_codec.h"
#include "support/temp_folder.h"

namespace {

// Random bytes at an odd size, so that any flip, shift or channel swap shows; opaque, or with
// one translucent pixel.
CPixelImage MakeFrame(int width, int height, bool opaque, unsigned seed) {
    CPixelImage image;
    image.Allocate(width, height, 4);
    std::mt19937 random(seed);
    for (size_t i = 0; i < image.ByteCount(); ++i) image.pixels[i] = static_cast<unsigned char>(random());
    for (size_t i = 3; i < image.ByteCount(); i += 4) image.pixels[i] = 255;
    if (!opaque) image.pixels[image.ByteCount() / 8 * 4 + 3] = 17;  // one translucent pixel is enough
    return image;
}

bool SameRgba(const PngPicture& picture, const CPixelImage& image) {
    return picture.width == image.width && picture.height == image.height &&
           std::equal(picture.rgba.begin(), picture.rgba.end(), image.pixels);
}

// The colour type byte of a PNG's header chunk.
int ColourType(const std::string& bytes) { return bytes.size() > 25 ? static_cast<unsigned char>(bytes[25]) : -1; }

TEST(PngEncoder, EveryLevelDecodesToTheSamePixelsWithAlphaOnlyWhenNeeded) {
    TempFolder folder;
    for (bool opaque : {true, false}) {
        CPixelImage frame = MakeFrame(319, 239, opaque, opaque ? 3 : 4);
        for (int level : {0, 1, 6, 9}) {
            std::string path = folder.File("f" + std::to_string(level) + ".png");
            std::string reason;
            ASSERT_EQ(0, WritePngFile(path, frame, level, reason)) << reason;
            PngPicture decoded;
            ASSERT_TRUE(DecodePng(path, decoded)) << level;
            EXPECT_TRUE(SameRgba(decoded, frame)) << "opaque " << opaque << " level " << level;
            EXPECT_EQ(opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGBA, ColourType(ReadWholeFile(path)));
            // Right after the header: a one-byte sRGB chunk, perceptual intent.
            EXPECT_EQ(ReadWholeFile(path).substr(33, 9), std::string("\0\0\0\1sRGB\0", 9));
        }
    }
}

TEST(PngEncoder, HigherLevelsCompressASmoothFrameFurther) {
    CPixelImage frame;
    frame.Allocate(319, 239, 4);
    for (int y = 0; y < 239; ++y) {
        for (int x = 0; x < 319; ++x) {
            unsigned char* p = frame.pixels + (y * 319 + x) * 4;
            p[0] = static_cast<unsigned char>(x);
            p[1] = static_cast<unsigned char>(y);
            p[2] = static_cast<unsigned char>((x * y) >> 6);
            p[3] = 255;
        }
    }
    std::vector<unsigned char> stored, fast, best;
    std::string reason;
    ASSERT_EQ(0, EncodePng(frame, 0, stored, reason));
    ASSERT_EQ(0, EncodePng(frame, kDefaultPngLevel, fast, reason));
    ASSERT_EQ(0, EncodePng(frame, 9, best, reason));
    EXPECT_GT(stored.size(), 319u * 239u * 3u);  // level 0 stores the rows
    EXPECT_LT(fast.size(), stored.size() / 4);
    EXPECT_LE(best.size(), fast.size());
}

// The window saves through the image library, the renderer through this writer: the files
// may differ in bytes but never in pixels.
TEST(PngEncoder, PixelsEqualTheImageLibrarysSaveOfTheSameFrame) {
    TempFolder folder;
    for (bool opaque : {true, false}) {
        CPixelImage frame = MakeFrame(97, 61, opaque, 11);
        std::string reason;
        ASSERT_EQ(0, WritePngFile(folder.File("fast.png"), frame, kDefaultPngLevel, reason)) << reason;
        ASSERT_EQ(0, WriteImageFile(folder.File("library.png"), frame));
        CPixelImage fast, library;
        ASSERT_EQ(0, ReadImageFile(folder.File("fast.png"), fast));
        ASSERT_EQ(0, ReadImageFile(folder.File("library.png"), library));
        ASSERT_EQ(library.ByteCount(), fast.ByteCount());
        EXPECT_TRUE(std::equal(fast.pixels, fast.pixels + fast.ByteCount(), library.pixels)) << opaque;
        EXPECT_TRUE(std::equal(fast.pixels, fast.pixels + fast.ByteCount(), frame.pixels)) << opaque;
    }
}

// True when every chunk's CRC holds and the IDAT chunks together hold one zlib stream that
// inflates, its Adler-32 checked, to exactly `rawBytes` bytes (decoders stop at the last row
// and may never look at the stream's end).
bool WholeStream(const std::vector<unsigned char>& png, size_t rawBytes) {
    std::vector<unsigned char> stream;
    for (size_t at = 8; at + 12 <= png.size();) {
        uint32_t length = static_cast<uint32_t>(png[at] << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3]);
        if (at + 12 + length > png.size()) return false;
        const unsigned char* tail = &png[at + 8 + length];
        uint32_t crc = static_cast<uint32_t>(tail[0] << 24 | tail[1] << 16 | tail[2] << 8 | tail[3]);
        if (crc32(0, &png[at + 4], length + 4) != crc) return false;
        if (std::equal(&png[at + 4], &png[at + 8], "IDAT")) stream.insert(stream.end(), &png[at + 8], tail);
        at += 12 + length;
    }
    std::vector<unsigned char> raw(rawBytes + 1);
    uLongf size = raw.size();
    return uncompress(raw.data(), &size, stream.data(), stream.size()) == Z_OK && size == rawBytes;
}

// Odd sizes whose filtered rows span several bands, and one of a single row.
TEST(PngEncoder, BytesAreTheSameOnAnyNumberOfThreads) {
    struct Case {
        int width, height;
        bool opaque;
        int level;
    };
    const Case cases[] = {{1031, 767, true, 1}, {1031, 767, false, 1}, {613, 1201, true, 0}, {701, 403, true, 6},
                          {4099, 1, false, 1}};
    for (const Case& c : cases) {
        CPixelImage frame = MakeFrame(c.width, c.height, c.opaque, static_cast<unsigned>(c.width + c.level));
        std::vector<unsigned char> first;
        std::string reason;
        ASSERT_EQ(0, EncodePng(frame, c.level, 1, first, reason)) << reason;
        for (int threads : {2, 3, 8}) {
            std::vector<unsigned char> other;
            ASSERT_EQ(0, EncodePng(frame, c.level, threads, other, reason)) << reason;
            EXPECT_TRUE(other == first) << c.width << " x " << c.height << " on " << threads << " threads";
        }
        EXPECT_TRUE(WholeStream(first, (static_cast<size_t>(c.width) * (c.opaque ? 3 : 4) + 1) * c.height))
            << c.width << " x " << c.height;
        TempFolder folder;
        std::string path = folder.File("banded.png");
        WriteWholeFile(path, std::string(first.begin(), first.end()));
        PngPicture decoded;
        ASSERT_TRUE(DecodePng(path, decoded)) << c.width << " x " << c.height;
        EXPECT_TRUE(SameRgba(decoded, frame)) << c.width << " x " << c.height;
    }
    EXPECT_GT(PngBandCount(1031 * 3 + 1, 767), 2);
    EXPECT_EQ(1, PngBandCount(4099 * 4 + 1, 1));
}

// RGBA from libspng in this process; true when it read the file.
bool ReadWithLibspng(const std::string& path, std::vector<unsigned char>& rgba) {
    std::string bytes = ReadWholeFile(path);
    std::unique_ptr<spng_ctx, void (*)(spng_ctx*)> ctx(spng_ctx_new(0), spng_ctx_free);
    size_t size = 0;
    if (spng_set_png_buffer(ctx.get(), bytes.data(), bytes.size()) != 0 ||
        spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &size) != 0) {
        return false;
    }
    rgba.resize(size);
    return spng_decode_image(ctx.get(), rgba.data(), size, SPNG_FMT_RGBA8, 0) == 0;
}

// RGBA from a command that prints it; true when the command ran and succeeded.
bool ReadWithCommand(const std::string& command, std::vector<unsigned char>& rgba) {
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return false;
    char buffer[1 << 16];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) rgba.insert(rgba.end(), buffer, buffer + n);
    return pclose(pipe) == 0;
}

bool HasCommand(const std::string& test) { return std::system((test + " >/dev/null 2>&1").c_str()) == 0; }

// Three decoders of other makers read a banded file (many bands, a translucent pixel, one
// opaque) back to the very pixels written.
TEST(PngEncoder, OtherDecodersReadTheBandedFileBack) {
    struct Reader {
        const char* name;
        const char* available;  // a shell test; the reader is skipped when it fails
        std::function<bool(const std::string&, std::vector<unsigned char>&)> read;
    };
    const std::string pillow = "/usr/bin/python3 -c 'import sys; from PIL import Image; "
                               "sys.stdout.buffer.write(Image.open(sys.argv[1]).convert(\"RGBA\").tobytes())' ";
    const Reader readers[] = {
        {"libspng", "true", ReadWithLibspng},
        {"ImageMagick", "command -v convert",
         [](const std::string& path, std::vector<unsigned char>& rgba) {
             return ReadWithCommand("convert -regard-warnings '" + path + "' -depth 8 rgba:-", rgba);
         }},
        {"Pillow", "/usr/bin/python3 -c 'import PIL'",
         [&pillow](const std::string& path, std::vector<unsigned char>& rgba) {
             return ReadWithCommand(pillow + "'" + path + "'", rgba);
         }},
    };
    TempFolder folder;
    for (bool opaque : {true, false}) {
        CPixelImage frame = MakeFrame(1283, 721, opaque, 23);
        std::string path = folder.File(opaque ? "opaque.png" : "alpha.png"), reason;
        ASSERT_EQ(0, WritePngFile(path, frame, kDefaultPngLevel, reason)) << reason;
        for (const Reader& reader : readers) {
            if (!HasCommand(reader.available)) {
                std::printf("%s is not installed: not read back with it\n", reader.name);
                continue;
            }
            std::vector<unsigned char> rgba;
            ASSERT_TRUE(reader.read(path, rgba)) << reader.name;
            EXPECT_TRUE(rgba.size() == frame.ByteCount() && std::equal(rgba.begin(), rgba.end(), frame.pixels))
                << reader.name << ", opaque " << opaque;
        }
    }
}

TEST(PngEncoder, RefusesWhatItCannotWriteAndLeavesNoFile) {
    TempFolder folder;
    CPixelImage empty, rgb, frame = MakeFrame(9, 7, true, 1);
    rgb.Allocate(9, 7, 3);
    struct Case {
        const CPixelImage* image;
        int level;
        std::string path;
    };
    const Case cases[] = {{&empty, 1, folder.File("a.png")},
                          {&rgb, 1, folder.File("b.png")},
                          {&frame, 10, folder.File("c.png")},
                          {&frame, -1, folder.File("d.png")},
                          {&frame, 1, folder.File("missing/e.png")}};
    for (const Case& c : cases) {
        std::string reason;
        EXPECT_EQ(-1, WritePngFile(c.path, *c.image, c.level, reason)) << c.path;
        EXPECT_FALSE(reason.empty()) << c.path;
    }
    EXPECT_TRUE(folder.Entries().empty());
}

}  // namespace

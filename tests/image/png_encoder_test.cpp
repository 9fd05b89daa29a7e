// The frame PNG writer: what another decoder reads back, the colour type it picks, its
// refusals, and that its pixels equal the image library's save of the same frame.
#include "image/png_encoder.h"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
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

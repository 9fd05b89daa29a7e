// The decoders of the everyday formats (PNG, JPEG, TIFF) through the helper's entry, against
// ImageMagick's decode of the same file, over the layouts writers use: bit depths, palettes,
// grey, alpha, interlace, 16-bit samples, compressions, byte orders. GIF has its own suite and
// the EXIF orientations theirs.
#include <gtest/gtest.h>

#include "decoder/magick_support.h"
#include "support/decode_bytes.h"
#include "support/temp_folder.h"

namespace {

struct Layout {
    const char* name;     // output file name; an "FMT:" prefix picks ImageMagick's writer
    const char* options;  // ImageMagick options between the pattern and the output
    bool alpha;           // whether the pattern has varying alpha
    int tolerance;        // largest channel difference allowed against ImageMagick's decode
};

void PrintTo(const Layout& layout, std::ostream* os) { *os << layout.name; }

class FormatMatrix : public ::testing::TestWithParam<Layout> {};

TEST_P(FormatMatrix, DecodesAsImageMagickDoes) {
    const Layout& layout = GetParam();
    if (FindTool("convert").empty()) GTEST_SKIP() << "needs ImageMagick's convert (scripts/deps.sh)";
    TempFolder folder;
    std::string name = layout.name, writer;
    if (name.find(':') != std::string::npos) {
        writer = name.substr(0, name.find(':') + 1);
        name.erase(0, writer.size());
    }
    std::string path = folder.File(name);
    // Odd sizes, so that no row or block boundary lines up by chance.
    ASSERT_TRUE(MagickWrite(TestPattern(203, 117, layout.alpha), layout.options, writer + path)) << "ImageMagick failed";
    DecodedImage expected, decoded;
    ASSERT_TRUE(MagickDecode(path, false, expected));
    std::string reason;
    ASSERT_EQ(DecodeWhole(ReadWholeFile(path), path, decoded, reason), 0) << reason;
    EXPECT_EQ(decoded.width, 203);
    EXPECT_EQ(decoded.height, 117);
    EXPECT_LE(LargestDifference(decoded, expected), layout.tolerance);
}

std::string TestName(const ::testing::TestParamInfo<Layout>& info) {
    std::string name = info.param.name;
    for (char& c : name) {
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Png, FormatMatrix, ::testing::Values(
    Layout{"PNG24:rgb8.png", "", false, 0},
    Layout{"PNG32:rgba8.png", "", true, 0},
    Layout{"grey8.png", "-colorspace Gray -define png:color-type=0 -depth 8", false, 0},
    Layout{"grey1.png", "-colorspace Gray -threshold 50% -define png:color-type=0 -define png:bit-depth=1", false, 0},
    Layout{"grey2.png", "-colorspace Gray -depth 2 -define png:color-type=0 -define png:bit-depth=2", false, 0},
    Layout{"grey4.png", "-colorspace Gray -depth 4 -define png:color-type=0 -define png:bit-depth=4", false, 0},
    Layout{"grey_alpha.png", "-colorspace Gray -define png:color-type=4", true, 0},
    Layout{"PNG8:palette.png", "-colors 200", false, 0},
    Layout{"PNG8:palette_trns.png", "-colors 200", true, 0},
    Layout{"palette4.png", "-colors 16 -define png:color-type=3 -define png:bit-depth=4", false, 0},
    // 16-bit samples: the high byte here, rounded by ImageMagick.
    Layout{"PNG48:rgb16.png", "-depth 16", false, 1},
    Layout{"PNG64:rgba16.png", "-depth 16", true, 1},
    Layout{"grey16.png", "-colorspace Gray -depth 16 -define png:color-type=0", false, 1},
    Layout{"PNG24:interlaced.png", "-interlace PNG", false, 0},
    Layout{"PNG64:interlaced_rgba16.png", "-interlace PNG -depth 16", true, 1},
    Layout{"PNG8:interlaced_palette.png", "-interlace PNG -colors 60", true, 0}),
    TestName);

INSTANTIATE_TEST_SUITE_P(Jpeg, FormatMatrix, ::testing::Values(
    Layout{"q90_420.jpg", "-quality 90 -sampling-factor 2x2", false, 1},
    Layout{"q95_444.jpg", "-quality 95 -sampling-factor 1x1", false, 1},
    Layout{"q80_422.jpg", "-quality 80 -sampling-factor 2x1", false, 1},
    Layout{"progressive.jpg", "-quality 90 -interlace JPEG", false, 1},
    Layout{"grey.jpg", "-colorspace Gray -quality 90", false, 1},
    Layout{"arithmetic.jpg", "-quality 90 -define jpeg:arithmetic-coding=true", false, 1},
    Layout{"restarts.jpg", "-quality 90 -define jpeg:restart-interval=3", false, 1},
    Layout{"cmyk.jpg", "-colorspace CMYK -quality 95", false, 1}),
    TestName);

INSTANTIATE_TEST_SUITE_P(Tiff, FormatMatrix, ::testing::Values(
    Layout{"rgb.tif", "-alpha off", false, 0},
    Layout{"rgb_lzw.tif", "-alpha off -compress lzw", false, 0},
    Layout{"rgb_zip_planes.tif", "-alpha off -compress zip -interlace plane", false, 0},
    Layout{"rgb_big_endian.tif", "-alpha off -endian MSB", false, 0},
    Layout{"rgb_tiled.tif", "-alpha off -define tiff:tile-geometry=32x32", false, 0},
    Layout{"TIFF64:bigtiff.tif", "-alpha off", false, 0},
    Layout{"grey.tif", "-colorspace Gray", false, 0},
    Layout{"bilevel.tif", "-monochrome -compress group4", false, 0},
    Layout{"palette.tif", "-type palette -colors 100", false, 1},  // 16-bit palette entries, rounded there
    Layout{"rgb16.tif", "-alpha off -depth 16", false, 1},
    Layout{"rgba_straight.tif", "-define tiff:alpha=unassociated", true, 0}),
    TestName);

}  // namespace

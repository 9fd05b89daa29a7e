// The formats' own decoders against ImageMagick's decode of the same file, for the everyday
// formats' common layouts and each case the general image library refused or got wrong, and
// their refusals of what they cannot read.
#include <gtest/gtest.h>

#include <cstring>

#include "decoder/decode_image.h"
#include "decoder/magick_support.h"
#include "support/decode_bytes.h"
#include "image/image_file.h"
#include "support/temp_folder.h"

namespace {

int Decode(const std::string& bytes, DecodedImage& out, std::string& reason) { return DecodeOwn(bytes, out, reason); }

// The largest channel difference between the extra decoder's picture of the file at `path`
// and ImageMagick's, or -1 after a failure when either refuses it.
int DifferenceFromMagick(const std::string& path) {
    DecodedImage expected, decoded;
    std::string reason;
    if (!MagickDecode(path, false, expected)) {
        ADD_FAILURE() << "ImageMagick could not decode " << path;
        return -1;
    }
    if (Decode(ReadWholeFile(path), decoded, reason) != 1) {
        ADD_FAILURE() << path << ": " << reason;
        return -1;
    }
    return LargestDifference(decoded, expected);
}

struct MadeFile {
    const char* name;       // output file name; its extension or prefix picks ImageMagick's writer
    const char* options;    // ImageMagick options between the pattern and the output
    bool alpha;             // whether the pattern has varying alpha
    int tolerance;          // largest channel difference allowed against ImageMagick's decode
};

void PrintTo(const MadeFile& made, std::ostream* os) { *os << made.name; }

class ExtraAgainstMagick : public ::testing::TestWithParam<MadeFile> {};

TEST_P(ExtraAgainstMagick, DecodesAsImageMagickDoes) {
    const MadeFile& made = GetParam();
    if (FindTool("convert").empty()) GTEST_SKIP() << "needs ImageMagick's convert (scripts/deps.sh)";
    TempFolder folder;
    std::string name = made.name, writer;  // "BMP2:os2.bmp": ImageMagick's writer, then the file name
    if (name.find(':') != std::string::npos) {
        writer = name.substr(0, name.find(':') + 1);
        name.erase(0, writer.size());
    }
    std::string path = folder.File(name);
    ASSERT_TRUE(MagickWrite(TestPattern(319, 239, made.alpha), made.options, writer + path)) << "ImageMagick failed";
    DecodedImage expected, decoded;
    ASSERT_TRUE(MagickDecode(path, false, expected));
    std::string reason;
    ASSERT_EQ(Decode(ReadWholeFile(path), decoded, reason), 1) << reason;
    EXPECT_EQ(decoded.width, 319);
    EXPECT_EQ(decoded.height, 239);
    EXPECT_LE(LargestDifference(decoded, expected), made.tolerance);
    // The helper's entry reaches the same decoder past its header checks.
    DecodedImage whole;
    std::string bytes = ReadWholeFile(path);
    ASSERT_EQ(DecodeWhole(bytes, path, whole, reason), 0)
        << reason;
    EXPECT_EQ(LargestDifference(whole, decoded), 0);
    // So does the confined helper, which must have loaded the format's libraries before its filter.
    CPixelImage helped;
    ASSERT_EQ(ReadImageFile(path, helped, reason), 0) << reason;
    ASSERT_TRUE(helped.width == whole.width && helped.height == whole.height && helped.bytesPerPixel == 4);
    EXPECT_EQ(std::memcmp(helped.pixels, whole.Pixels(), whole.PixelBytes()), 0);
}

std::string MadeFileName(const ::testing::TestParamInfo<MadeFile>& info) {
    std::string name = info.param.name;
    for (char& c : name) {
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Formats, ExtraAgainstMagick, ::testing::Values(
    MadeFile{"lossless.webp", "-define webp:lossless=true", true, 0},
    MadeFile{"lossy.webp", "-quality 90", false, 0},
    MadeFile{"animated.webp", "-define webp:lossless=true \\( +clone -negate \\) -loop 0", true, 0},  // first frame
    MadeFile{"palette.gif", "", false, 0},
    MadeFile{"v5.bmp", "", false, 0},                      // ImageMagick's default: a 124-byte header
    MadeFile{"v5_alpha.bmp", "", true, 0},                 // V5, 32-bit with an alpha mask
    MadeFile{"v5_565.bmp", "-define bmp:subtype=RGB565", false, 0},
    MadeFile{"v5_palette.bmp", "-type palette -colors 16", false, 0},
    MadeFile{"v5_rle8.bmp", "-colors 200 -compress RLE", false, 0},
    MadeFile{"BMP2:os2.bmp", "", false, 0},                // 12-byte header, three-byte palette entries
    MadeFile{"BMP3:v3_alpha.bmp", "-define bmp3:alpha=true", true, 0},  // 40-byte header, 32-bit
    // ImageMagick turns the same decoded YCbCr into RGB with its own rounding.
    MadeFile{"photo.heic", "-quality 90", false, 2},
    MadeFile{"alpha.heic", "-quality 90", true, 2},
    MadeFile{"photo.avif", "-quality 90", false, 2},
    MadeFile{"alpha.avif", "-quality 90", true, 2},
    MadeFile{"ycck.jpg", "-colorspace CMYK -quality 95", false, 1},  // ImageMagick writes Adobe YCCK
    MadeFile{"straight.tif", "-define tiff:alpha=unassociated", true, 0},
    MadeFile{"straight_lzw_planes.tif", "-define tiff:alpha=unassociated -compress lzw -interlace plane", true, 0},
    MadeFile{"straight_16bit.tif", "-define tiff:alpha=unassociated -depth 16", true, 1},
    MadeFile{"straight_grey.tif", "-define tiff:alpha=unassociated -colorspace Gray", true, 0}),
    MadeFileName);

// The everyday formats over the layouts writers use: bit depths, palettes, grey, alpha,
// interlace, 16-bit samples, compressions, byte orders. GIF has its own suite, the EXIF
// orientations theirs.
INSTANTIATE_TEST_SUITE_P(Png, ExtraAgainstMagick, ::testing::Values(
    MadeFile{"PNG24:rgb8.png", "", false, 0},
    MadeFile{"PNG32:rgba8.png", "", true, 0},
    MadeFile{"grey8.png", "-colorspace Gray -define png:color-type=0 -depth 8", false, 0},
    MadeFile{"grey1.png", "-colorspace Gray -threshold 50% -define png:color-type=0 -define png:bit-depth=1", false, 0},
    MadeFile{"grey2.png", "-colorspace Gray -depth 2 -define png:color-type=0 -define png:bit-depth=2", false, 0},
    MadeFile{"grey4.png", "-colorspace Gray -depth 4 -define png:color-type=0 -define png:bit-depth=4", false, 0},
    MadeFile{"grey_alpha.png", "-colorspace Gray -define png:color-type=4", true, 0},
    MadeFile{"PNG8:palette.png", "-colors 200", false, 0},
    MadeFile{"PNG8:palette_trns.png", "-colors 200", true, 0},
    MadeFile{"palette4.png", "-colors 16 -define png:color-type=3 -define png:bit-depth=4", false, 0},
    // 16-bit samples: the high byte here, rounded by ImageMagick.
    MadeFile{"PNG48:rgb16.png", "-depth 16", false, 1},
    MadeFile{"PNG64:rgba16.png", "-depth 16", true, 1},
    MadeFile{"grey16.png", "-colorspace Gray -depth 16 -define png:color-type=0", false, 1},
    MadeFile{"PNG24:interlaced.png", "-interlace PNG", false, 0},
    MadeFile{"PNG64:interlaced_rgba16.png", "-interlace PNG -depth 16", true, 1},
    MadeFile{"PNG8:interlaced_palette.png", "-interlace PNG -colors 60", true, 0}),
    MadeFileName);

INSTANTIATE_TEST_SUITE_P(Jpeg, ExtraAgainstMagick, ::testing::Values(
    MadeFile{"q90_420.jpg", "-quality 90 -sampling-factor 2x2", false, 1},
    MadeFile{"q95_444.jpg", "-quality 95 -sampling-factor 1x1", false, 1},
    MadeFile{"q80_422.jpg", "-quality 80 -sampling-factor 2x1", false, 1},
    MadeFile{"progressive.jpg", "-quality 90 -interlace JPEG", false, 1},
    MadeFile{"grey.jpg", "-colorspace Gray -quality 90", false, 1},
    MadeFile{"arithmetic.jpg", "-quality 90 -define jpeg:arithmetic-coding=true", false, 1},
    MadeFile{"restarts.jpg", "-quality 90 -define jpeg:restart-interval=3", false, 1},
    MadeFile{"cmyk.jpg", "-colorspace CMYK -quality 95", false, 1}),
    MadeFileName);

INSTANTIATE_TEST_SUITE_P(Tiff, ExtraAgainstMagick, ::testing::Values(
    MadeFile{"rgb.tif", "-alpha off", false, 0},
    MadeFile{"rgb_lzw.tif", "-alpha off -compress lzw", false, 0},
    MadeFile{"rgb_zip_planes.tif", "-alpha off -compress zip -interlace plane", false, 0},
    MadeFile{"rgb_big_endian.tif", "-alpha off -endian MSB", false, 0},
    MadeFile{"rgb_tiled.tif", "-alpha off -define tiff:tile-geometry=32x32", false, 0},
    MadeFile{"TIFF64:bigtiff.tif", "-alpha off", false, 0},
    MadeFile{"grey.tif", "-colorspace Gray", false, 0},
    MadeFile{"bilevel.tif", "-monochrome -compress group4", false, 0},
    MadeFile{"palette.tif", "-type palette -colors 100", false, 1},  // 16-bit palette entries, rounded there
    MadeFile{"rgb16.tif", "-alpha off -depth 16", false, 1},
    MadeFile{"rgba_straight.tif", "-define tiff:alpha=unassociated", true, 0}),
    MadeFileName);


// The same file with the Adobe marker's transform set to 0 is plain inverted CMYK: the inks go
// to RGB without the YCC step, as ImageMagick reads it.
TEST(ExtraCmyk, AdobeCmykWithoutTransformReadsAsImageMagickDoes) {
    if (FindTool("convert").empty()) GTEST_SKIP() << "needs ImageMagick's convert (scripts/deps.sh)";
    TempFolder folder;
    ASSERT_TRUE(MagickWrite(TestPattern(319, 239, false), "-colorspace CMYK -quality 95", folder.File("ycck.jpg")));
    std::string bytes = ReadWholeFile(folder.File("ycck.jpg"));
    ASSERT_EQ(bytes.compare(2, 11, "\xFF\xEE\x00\x0E" "Adobe\x00\x64", 11), 0) << "the Adobe marker leads";
    ASSERT_EQ(bytes[17], 2) << "transform 2: YCCK";
    bytes[17] = 0;
    WriteWholeFile(folder.File("cmyk.jpg"), bytes);
    int difference = DifferenceFromMagick(folder.File("cmyk.jpg"));
    EXPECT_GE(difference, 0);
    EXPECT_LE(difference, 1);
}

// ImageMagick writes no RLE4, so this 5 x 3 one is made by hand: runs of two alternating
// colours, pixels stored one by one (odd count, padded), end of row and end of picture.
TEST(ExtraBmp, Rle4WithV5HeaderReadsAsImageMagickDoes) {
    if (FindTool("convert").empty()) GTEST_SKIP() << "needs ImageMagick's convert (scripts/deps.sh)";
    std::string pixels = std::string("\x05\x12\x00\x00", 4) +            // bottom row: 1 2 1 2 1
                         std::string("\x00\x05\x34\x56\x70\x00\x00\x00", 8) +  // 3 4 5 6 7, padded
                         std::string("\x03\x88\x02\x9A\x00\x01", 6);         // 8 8 8 9 A, end
    std::string bmp(14 + 124 + 16 * 4, '\0');
    auto put32 = [&](size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) bmp[at + i] = static_cast<char>(value >> (8 * i));
    };
    bmp[0] = 'B';
    bmp[1] = 'M';
    put32(2, static_cast<uint32_t>(bmp.size() + pixels.size()));
    put32(10, static_cast<uint32_t>(bmp.size()));
    put32(14, 124);
    put32(18, 5);
    put32(22, 3);
    put32(26, 1 | 4 << 16);  // one plane, 4 bits per pixel
    put32(30, 2);            // RLE4
    put32(34, static_cast<uint32_t>(pixels.size()));
    put32(46, 16);
    for (uint32_t i = 0; i < 16; ++i) put32(14 + 124 + i * 4, (i * 16) | (255 - i * 16) << 8 | (i * 7) << 16);
    bmp += pixels;
    TempFolder folder;
    WriteWholeFile(folder.File("rle4.bmp"), bmp);
    EXPECT_EQ(DifferenceFromMagick(folder.File("rle4.bmp")), 0);
}

// Bytes that are an extra decoder's case but cannot be decoded fail with their own reason, and
// `out` holds no picture; bytes of other formats are left to the image library, `out` untouched.
TEST(ExtraRefusals, EachFailureSaysWhy) {
    if (FindTool("convert").empty()) GTEST_SKIP() << "needs ImageMagick's convert (scripts/deps.sh)";
    TempFolder folder;
    ASSERT_TRUE(MagickWrite(TestPattern(64, 48, true), "-define webp:lossless=true", folder.File("a.webp")));
    std::string webp = ReadWholeFile(folder.File("a.webp"));
    ASSERT_TRUE(MagickWrite(TestPattern(64, 48, true), "", folder.File("v5.bmp")));
    ASSERT_TRUE(MagickWrite(TestPattern(64, 48, false), "", "BMP3:" + folder.File("v3.bmp")));
    std::string v5 = ReadWholeFile(folder.File("v5.bmp")), v3 = ReadWholeFile(folder.File("v3.bmp"));
    ASSERT_TRUE(MagickWrite(TestPattern(64, 48, false), "", folder.File("a.heic")));
    std::string heic = ReadWholeFile(folder.File("a.heic"));
    ASSERT_TRUE(MagickWrite(TestPattern(64, 48, false), "-colorspace CMYK", folder.File("cmyk.jpg")));
    ASSERT_TRUE(MagickWrite(TestPattern(64, 48, false), "", folder.File("rgb.jpg")));
    std::string cmyk = ReadWholeFile(folder.File("cmyk.jpg")), rgbJpeg = ReadWholeFile(folder.File("rgb.jpg"));
    ASSERT_TRUE(MagickWrite(TestPattern(64, 48, true), "-define tiff:alpha=unassociated", folder.File("a.tif")));
    ASSERT_TRUE(MagickWrite(TestPattern(64, 48, false), "-alpha off", folder.File("rgb.tif")));
    std::string tiff = ReadWholeFile(folder.File("a.tif")), rgbTiff = ReadWholeFile(folder.File("rgb.tif"));
    std::string wideBmp = v5, manyBmp = v5;  // width at byte 18, height at 22, little-endian
    wideBmp.replace(18, 4, std::string("\x70\x11\x01\x00", 4));
    manyBmp.replace(18, 8, std::string("\x01\x40\x00\x00\x00\x40\x00\x00", 8));
    struct Case {
        const char* what;
        std::string bytes;
        int status;
        const char* reason;
    } cases[] = {
        {"WebP cut in half", webp.substr(0, webp.size() / 2), -1, "WebP"},
        {"WebP cut in the header", webp.substr(0, 16), -1, "the WebP data ends early"},
        {"HEIC cut in half", heic.substr(0, heic.size() / 2), -1, "the HEIC data ends early"},
        {"BMP V5 cut short", v5.substr(0, v5.size() - 100), -1, "the BMP data ends early"},
        {"BMP wider than the limit", wideBmp, -1, "the BMP image claims 70000 x 48 pixels, more than this program reads"},
        {"BMP of 2^28 + 1 pixels", manyBmp, -1, "the BMP image claims 16385 x 16384 pixels"},
        {"BMP V3 of 24 bits, for the image library", v3, 0, ""},
        {"CMYK JPEG cut short", cmyk.substr(0, cmyk.size() - 400), -1, "the JPEG data ends early"},
        {"JPEG cut short", rgbJpeg.substr(0, rgbJpeg.size() - 300), -1, "the JPEG data ends early"},
        {"TIFF cut in its directory", tiff.substr(0, tiff.size() - 100), -1, "the TIFF data ends early"},
        {"TIFF cut in its pixels", rgbTiff.substr(0, 200), -1, "the TIFF"},
        {"plain text", "hello, this is no picture", 0, ""},
        {"PNG signature alone", "\x89PNG\r\n\x1a\n", -1, "the PNG"},
    };
    for (const Case& c : cases) {
        DecodedImage out = TestPattern(3, 2, false);
        std::string reason;
        EXPECT_EQ(Decode(c.bytes, out, reason), c.status) << c.what;
        EXPECT_NE(reason.find(c.reason), std::string::npos) << c.what << ": " << reason;
        if (c.status == 0) {
            EXPECT_TRUE(reason.empty()) << c.what;
        }
        EXPECT_EQ(out.width, c.status == 0 ? 3 : 0) << c.what;
    }
}

// Of libjpeg's warnings, stray bytes between markers (which cameras leave) are no damage; scan
// data that stops early or breaks its Huffman codes ends the decode as a refusal.
TEST(JpegWarnings, OnlyDamageToTheScanRefuses) {
    if (FindTool("convert").empty()) GTEST_SKIP() << "needs ImageMagick's convert (scripts/deps.sh)";
    TempFolder folder;
    ASSERT_TRUE(MagickWrite(TestPattern(203, 117, false), "-quality 90", folder.File("a.jpg")));
    std::string jpeg = ReadWholeFile(folder.File("a.jpg"));
    ASSERT_EQ(jpeg.compare(jpeg.size() - 2, 2, "\xFF\xD9"), 0);
    std::string stray = jpeg, cut = jpeg, broken = jpeg;
    stray.insert(stray.size() - 2, "junk");
    cut.erase(cut.size() / 2, cut.size() / 4);  // half-way to three quarters: into the scan
    size_t scan = jpeg.find("\xFF\xDA");
    ASSERT_NE(scan, std::string::npos);
    // All ones in the scan: longer than any Huffman code of the file.
    std::fill(broken.begin() + static_cast<long>(scan + 40), broken.begin() + static_cast<long>(scan + 400), '\xFF');
    for (size_t i = scan + 41; i < scan + 400; i += 2) broken[i] = 0;  // stuffed, so no marker
    struct Case {
        const char* what;
        const std::string& bytes;
        int status;
        const char* reason;
    } cases[] = {
        {"stray bytes before the end marker", stray, 1, ""},
        {"scan cut short", cut, -1, "the JPEG data ends early"},
        {"scan with impossible codes", broken, -1, "the JPEG data "},  // damaged, or seen to end there
    };
    for (const Case& c : cases) {
        DecodedImage out;
        std::string reason;
        EXPECT_EQ(DecodeOwn(c.bytes, out, reason), c.status) << c.what << ": " << reason;
        EXPECT_NE(reason.find(c.reason), std::string::npos) << c.what << ": " << reason;
    }
}

// Files the fuzzer found slow or harmful, each refused early with its own reason.
TEST(ExtraFindings, EachIsRefusedBeforeItCosts) {
    struct Finding {
        const char* file;
        const char* reason;
    } findings[] = {
        // 253 megapixels claimed; the scan stops at a marker after a few bytes.
        {"cmyk-jpeg-4352x58112-scan-cut-at-marker.jpg", "the JPEG data ends early"},
        // An overlay whose canvas dwarfs its picture: libheif would allocate gigabytes for it.
        {"heic-overlay-canvas-beyond-its-picture.heic", "canvas is far larger than its picture claims"},
        // An animation's canvas is allocated whole by libwebp before the first frame.
        {"webp-animation-canvas-14221087-wide.webp", "the WebP image claims 14221087 x 256 pixels"},
    };
    for (const Finding& finding : findings) {
        DecodedImage out;
        std::string reason;
        EXPECT_EQ(Decode(ReadWholeFile(std::string(QUARRO_DECODER_FINDINGS) + "/" + finding.file), out, reason), -1)
            << finding.file;
        EXPECT_NE(reason.find(finding.reason), std::string::npos) << finding.file << ": " << reason;
    }
}

}  // namespace

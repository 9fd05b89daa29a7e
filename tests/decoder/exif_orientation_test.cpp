// EXIF orientation against ImageMagick's -auto-orient: the pixels as stored (ImageMagick's
// decode without turning) turned by ApplyExifOrientation, and the helper's whole decode of the
// file, must equal ImageMagick's turned ones.
#include <gtest/gtest.h>

#include "decoder/decode_image.h"
#include "decoder/magick_support.h"
#include "decoder/exif_orientation.h"
#include "support/decode_bytes.h"
#include "support/temp_folder.h"

namespace {

class ExifOrientation : public ::testing::TestWithParam<const char*> {};

TEST_P(ExifOrientation, AllEightValuesTurnAsImageMagickDoes) {
    std::string exiftool = FindTool("exiftool");
    if (FindTool("convert").empty() || exiftool.empty()) GTEST_SKIP() << "needs convert and exiftool (scripts/deps.sh)";
    TempFolder folder;
    std::string source = folder.File(std::string("pattern.") + GetParam());
    ASSERT_TRUE(MagickWrite(TestPattern(31, 17, false), "-alpha off -quality 95", source));
    // One run of exiftool tags eight copies: its start-up is most of the test's time.
    std::string tagging = exiftool;
    for (int orientation = 1; orientation <= 8; ++orientation) {
        std::string file = folder.File(std::to_string(orientation) + "." + GetParam());
        ASSERT_TRUE(RunQuiet("cp '" + source + "' '" + file + "'"));
        tagging += (orientation > 1 ? " -execute" : "") + std::string(" -n -Orientation=") +
                   std::to_string(orientation) + " -overwrite_original '" + file + "'";
    }
    ASSERT_TRUE(RunQuiet(tagging));
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE("orientation " + std::to_string(orientation));
        std::string file = folder.File(std::to_string(orientation) + "." + GetParam());
        DecodedImage stored, expected;
        ASSERT_TRUE(MagickDecode(file, false, stored));
        ASSERT_TRUE(MagickDecode(file, true, expected));
        std::string bytes = ReadWholeFile(file);
        // The format's own decoder hands back stored order.
        DecodedImage own;
        std::string reason;
        ASSERT_EQ(DecodeOwn(bytes, own, reason), 1) << reason;
        EXPECT_EQ(LargestDifference(own, stored), 0) << "stored order";
        // The helper's whole decode (extra or image library, then the turn) sees it upright.
        DecodedImage whole;
        ASSERT_EQ(DecodeWhole(bytes, file, whole, reason), 0)
            << reason;
        EXPECT_EQ(LargestDifference(whole, expected), 0) << "decoded by the helper's entry";
        ApplyExifOrientation(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), stored);
        EXPECT_EQ(stored.width, expected.width);
        EXPECT_EQ(stored.height, expected.height);
        EXPECT_EQ(LargestDifference(stored, expected), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(JpegAndTiff, ExifOrientation, ::testing::Values("jpg", "tif"));

// Every prefix of a JPEG whose Exif block says "turn clockwise" is safe to read; prefixes that
// end before the tag leave the picture alone, the whole header turns it.
TEST(ExifOrientationBytes, CutShortHeadersAreSafe) {
    const unsigned char header[] = {
        0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x22, 'E', 'x', 'i', 'f', 0, 0,   // SOI, APP1 of 34 bytes
        'M', 'M', 0x00, 0x2A, 0x00, 0x00, 0x00, 0x08,                   // big-endian TIFF, IFD at 8
        0x00, 0x01,                                                     // one entry
        0x01, 0x12, 0x00, 0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x06, 0x00, 0x00,  // Orientation = 6
        0x00, 0x00, 0x00, 0x00, 0xFF, 0xDA};
    for (size_t size = 0; size <= sizeof header; ++size) {
        DecodedImage picture = TestPattern(5, 3, true);
        ApplyExifOrientation(header, size, picture);
        bool whole = size >= 38;  // the Exif block, whose length the walk trusts only in full, ends at byte 38
        EXPECT_EQ(picture.width, whole ? 3 : 5) << "prefix of " << size << " bytes";
    }
    DecodedImage mismatched = TestPattern(5, 3, true);
    mismatched.rgba.pop_back();
    ApplyExifOrientation(header, sizeof header, mismatched);
    EXPECT_EQ(mismatched.width, 5) << "pixels that do not fit the size are left alone";
}

}  // namespace

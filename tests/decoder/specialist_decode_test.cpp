// The specialist decoders against ImageMagick's decode of the same file, for each case the
// general image library refuses or gets wrong, and their refusals of what they cannot read.
#include <gtest/gtest.h>

#include "decoder/magick_support.h"
#include "decoder/specialist_decode.h"
#include "image/temp_folder.h"

namespace {

int Decode(const std::string& bytes, DecodedImage& out, std::string& reason) {
    return DecodeSpecialist(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out, reason);
}

struct MadeFile {
    const char* name;       // output file name; its extension or prefix picks ImageMagick's writer
    const char* options;    // ImageMagick options between the pattern and the output
    bool alpha;             // whether the pattern has varying alpha
    int tolerance;          // largest channel difference allowed against ImageMagick's decode
};

class SpecialistAgainstMagick : public ::testing::TestWithParam<MadeFile> {};

TEST_P(SpecialistAgainstMagick, DecodesAsImageMagickDoes) {
    const MadeFile& made = GetParam();
    if (FindTool("convert").empty()) GTEST_SKIP() << "needs ImageMagick's convert (scripts/deps.sh)";
    TempFolder folder;
    std::string file = folder.File(made.name);
    ASSERT_TRUE(MagickWrite(TestPattern(319, 239, made.alpha), made.options, file)) << "ImageMagick could not write it";
    std::string path = file.substr(file.find(':') == std::string::npos ? 0 : file.find(':') + 1);
    DecodedImage expected, decoded;
    ASSERT_TRUE(MagickDecode(path, false, expected));
    std::string reason;
    ASSERT_EQ(Decode(ReadWholeFile(path), decoded, reason), 1) << reason;
    EXPECT_EQ(decoded.width, 319);
    EXPECT_EQ(decoded.height, 239);
    EXPECT_LE(LargestDifference(decoded, expected), made.tolerance);
}

INSTANTIATE_TEST_SUITE_P(Formats, SpecialistAgainstMagick, ::testing::Values(
    MadeFile{"lossless.webp", "-define webp:lossless=true", true, 0},
    MadeFile{"lossy.webp", "-quality 90", false, 0}),
    [](const ::testing::TestParamInfo<MadeFile>& info) {
        std::string name = info.param.name;
        for (char& c : name) if (!isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    });

// Bytes that are a specialist case but cannot be decoded fail with their own reason, and
// `out` keeps what it had; bytes of other formats are left to the image library.
TEST(SpecialistRefusals, EachFailureSaysWhy) {
    if (FindTool("convert").empty()) GTEST_SKIP() << "needs ImageMagick's convert (scripts/deps.sh)";
    TempFolder folder;
    ASSERT_TRUE(MagickWrite(TestPattern(64, 48, true), "-define webp:lossless=true", folder.File("a.webp")));
    std::string webp = ReadWholeFile(folder.File("a.webp"));
    struct Case {
        const char* what;
        std::string bytes;
        int status;
        const char* reason;
    } cases[] = {
        {"WebP cut in half", webp.substr(0, webp.size() / 2), -1, "WebP"},
        {"WebP cut in the header", webp.substr(0, 16), -1, "the WebP data ends early"},
        {"plain text", "hello, this is no picture", 0, ""},
        {"PNG signature", "\x89PNG\r\n\x1a\n", 0, ""},
    };
    for (const Case& c : cases) {
        DecodedImage out = TestPattern(3, 2, false);
        std::string reason;
        EXPECT_EQ(Decode(c.bytes, out, reason), c.status) << c.what;
        EXPECT_NE(reason.find(c.reason), std::string::npos) << c.what << ": " << reason;
        if (c.status == 0) {
            EXPECT_TRUE(reason.empty()) << c.what;
        }
        EXPECT_EQ(out.width, 3) << c.what << ": a failure leaves the target as it was";
    }
}

}  // namespace

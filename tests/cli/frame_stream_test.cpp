// The streams of -o -: the BT.709 limited-range conversion of the y4m stream against the
// published values, its 4:2:0 averaging at odd edges, the layout of each stream, and a reader
// that goes away.
#include "cli/frame_stream.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

namespace {

CPixelImage Filled(int width, int height, unsigned char r, unsigned char g, unsigned char b) {
    CPixelImage image;
    image.Allocate(width, height, 4);
    for (int i = 0; i < width * height; ++i) {
        unsigned char* p = image.pixels + i * 4;
        p[0] = r, p[1] = g, p[2] = b, p[3] = 255;
    }
    return image;
}

struct Colour {
    unsigned char r, g, b;
    int y, cb, cr;
};

// The BT.709 8-bit limited-range codes of the primaries, secondaries, white and black.
class Bt709 : public testing::TestWithParam<Colour> {};

TEST_P(Bt709, MatchesThePublishedCodes) {
    const Colour& c = GetParam();
    std::vector<unsigned char> planes;
    RgbaToYuv420(Filled(2, 2, c.r, c.g, c.b), planes);
    ASSERT_EQ(6u, planes.size());
    EXPECT_EQ(c.y, planes[0]);
    EXPECT_EQ(c.y, planes[3]);
    EXPECT_EQ(c.cb, planes[4]);
    EXPECT_EQ(c.cr, planes[5]);
}

INSTANTIATE_TEST_SUITE_P(Colours, Bt709,
                         testing::Values(Colour{0, 0, 0, 16, 128, 128}, Colour{255, 255, 255, 235, 128, 128},
                                         Colour{255, 0, 0, 63, 102, 240}, Colour{0, 255, 0, 173, 42, 26},
                                         Colour{0, 0, 255, 32, 240, 118}, Colour{255, 255, 0, 219, 16, 138},
                                         Colour{0, 255, 255, 188, 154, 16}, Colour{255, 0, 255, 78, 214, 230}));

// 3 x 3: chroma is 2 x 2, the blocks at the right and bottom edges hold 2 or 1 pixels and
// take the mean of those alone (as a replicated edge would; a black pad would dilute them).
TEST(RgbaToYuv420, OddSidesAverageThePixelsThereAre) {
    CPixelImage image = Filled(3, 3, 0, 0, 0);
    auto paint = [&image](int x, int y) {
        unsigned char* p = image.pixels + (y * 3 + x) * 4;
        p[0] = 255, p[1] = 255, p[2] = 255;
    };
    paint(2, 0);  // the right-hand block: (2,0) white, (2,1) black
    paint(2, 2);  // the corner block: white alone
    paint(0, 2);  // the bottom block: (0,2) white, (1,2) black
    std::vector<unsigned char> planes;
    RgbaToYuv420(image, planes);
    ASSERT_EQ(9u + 2 * 4, planes.size());
    EXPECT_EQ(235, planes[2]);
    EXPECT_EQ(16, planes[4]);
    // Grey or white carry no colour, whatever the mix.
    for (size_t i = 9; i < planes.size(); ++i) EXPECT_EQ(128, planes[i]) << i;

    // A red pixel in the corner block is all its chroma; in a full block it is a quarter.
    image = Filled(3, 3, 0, 0, 0);
    image.pixels[(2 * 3 + 2) * 4] = 255;
    image.pixels[0] = 255;
    RgbaToYuv420(image, planes);
    EXPECT_EQ(240, planes[9 + 4 + 3]);       // Cr of the corner block: pure red
    EXPECT_EQ(128 + 28, planes[9 + 4 + 0]);  // Cr of the first block: (240 - 128) / 4 above grey
}

// What a reader of the stream sees: the bytes written to a pipe.
std::string Streamed(StreamFormat format, const std::vector<CPixelImage>& frames) {
    int ends[2];
    EXPECT_EQ(0, pipe(ends));
    CFrameStream stream(ends[1], format, 30000, 1001, 1);
    std::string reason;
    for (const CPixelImage& frame : frames) EXPECT_EQ(0, stream.WriteFrame(frame, reason)) << reason;
    EXPECT_EQ(static_cast<int>(frames.size()), stream.FramesWritten());
    close(ends[1]);
    std::string bytes;
    char buffer[4096];
    for (ssize_t got; (got = read(ends[0], buffer, sizeof buffer)) > 0;) bytes.append(buffer, static_cast<size_t>(got));
    close(ends[0]);
    return bytes;
}

TEST(FrameStream, PpmFramesFollowOneAnother) {
    const std::string bytes = Streamed(StreamFormat::Ppm, {Filled(3, 1, 1, 2, 3), Filled(1, 2, 9, 8, 7)});
    EXPECT_EQ(std::string("P6\n3 1\n255\n\1\2\3\1\2\3\1\2\3") + "P6\n1 2\n255\n\x09\x08\x07\x09\x08\x07", bytes);
}

TEST(FrameStream, Y4mHasOneHeaderAndAFrameMarkEach) {
    const std::string bytes = Streamed(StreamFormat::Y4m, {Filled(3, 3, 0, 0, 0), Filled(3, 3, 255, 255, 255)});
    const std::string header = "YUV4MPEG2 W3 H3 F30000:1001 Ip A1:1 C420jpeg XYSCSS=420JPEG XCOLORRANGE=LIMITED\n";
    ASSERT_EQ(header.size() + 2 * (6 + 9 + 8), bytes.size());
    EXPECT_EQ(header, bytes.substr(0, header.size()));
    EXPECT_EQ("FRAME\n", bytes.substr(header.size(), 6));
    EXPECT_EQ(std::string(9, '\x10') + std::string(8, '\x80'), bytes.substr(header.size() + 6, 17));
    EXPECT_EQ("FRAME\n", bytes.substr(header.size() + 23, 6));
    EXPECT_EQ(std::string(9, '\xeb'), bytes.substr(header.size() + 29, 9));
}

TEST(FrameStream, PngFramesAreWholeFilesBackToBack) {
    const std::string bytes = Streamed(StreamFormat::Png, {Filled(5, 4, 1, 2, 3), Filled(5, 4, 4, 5, 6)});
    const std::string signature = "\x89PNG\r\n\x1a\n";
    const size_t second = bytes.find(signature, 1);
    EXPECT_EQ(0u, bytes.find(signature));
    ASSERT_NE(std::string::npos, second);
    EXPECT_EQ(second - 12, bytes.rfind("IEND", second) - 4);  // the first file ends where the second starts
}

TEST(FrameStream, AReaderThatLeavesIsAReason) {
    struct sigaction ignore = {}, previous = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous);
    int ends[2];
    ASSERT_EQ(0, pipe(ends));
    close(ends[0]);
    CFrameStream stream(ends[1], StreamFormat::Ppm, 25, 1, 1);
    std::string reason;
    EXPECT_EQ(-1, stream.WriteFrame(Filled(4, 4, 0, 0, 0), reason));
    EXPECT_EQ("the program reading the standard output stopped after 0 frames", reason);
    close(ends[1]);
    sigaction(SIGPIPE, &previous, nullptr);
}

}  // namespace

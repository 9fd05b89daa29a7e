#include "image/pixel_image.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstring>
#include <limits>

#include "image/sample_bilinear.h"

namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

void Set(CPixelImage& im, int c, int r, unsigned char R, unsigned char G, unsigned char B) {
    unsigned char* p = im.pixels + 4 * (r * im.width + c);
    p[0] = R, p[1] = G, p[2] = B, p[3] = 77;
}

TEST(PixelImage, NewAndClearedImagesAreEmpty) {
    CPixelImage im;
    EXPECT_EQ(im.width, 0);
    EXPECT_EQ(im.height, 0);
    EXPECT_EQ(im.bytesPerPixel, 0);
    EXPECT_EQ(im.pixels, nullptr);
    EXPECT_EQ(im.fileName, "undefined");
    im.Clear();
    EXPECT_TRUE(im.IsEmpty());
    im.Allocate(5, 4, 4);
    im.fileName = "x.png";
    im.Clear();
    EXPECT_TRUE(im.IsEmpty());
    EXPECT_EQ(im.width, 0);
    EXPECT_EQ(im.fileName, "undefined");
}

TEST(PixelImage, AllocateSizesTheBufferAndForgetsTheName) {
    CPixelImage im;
    im.Allocate(10, 10, 4);
    im.fileName = "loaded.png";
    im.Allocate(3, 2, 4);
    EXPECT_EQ(im.ByteCount(), 24u);
    EXPECT_NE(im.pixels, nullptr);
    EXPECT_EQ(im.fileName, "undefined");
}

TEST(PixelImage, AssignmentCopiesPixelsButNotTheName) {
    CPixelImage a;
    a.Allocate(3, 2, 4);
    for (size_t i = 0; i < a.ByteCount(); ++i) a.pixels[i] = static_cast<unsigned char>(i * 9);
    a.fileName = "a.png";
    CPixelImage b;
    b = a;
    EXPECT_EQ(b.width, 3);
    EXPECT_EQ(b.height, 2);
    EXPECT_NE(b.pixels, a.pixels);
    EXPECT_EQ(std::memcmp(a.pixels, b.pixels, 24), 0);
    EXPECT_EQ(b.fileName, "undefined");
    unsigned char* before = a.pixels;
    a = a;  // self-assignment changes nothing
    EXPECT_EQ(a.pixels, before);
    EXPECT_EQ(a.fileName, "a.png");
    CPixelImage c(a);
    EXPECT_EQ(std::memcmp(a.pixels, c.pixels, 24), 0);
}

bool Mapped(void* place, size_t bytes) { return msync(place, bytes, MS_ASYNC) == 0; }

// A mapped buffer is unmapped by whichever image holds it when it lets it go, after a swap too;
// a buffer from new[] swapped the other way is freed as such (the sanitizers check that).
TEST(PixelImage, AdoptedMappingIsUnmappedByItsHolder) {
    const size_t bytes = 4096;
    void* place = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(place, MAP_FAILED);
    CPixelImage mapped, allocated;
    mapped.AdoptMapping(static_cast<unsigned char*>(place), bytes, 16, 8, 4);
    mapped.fileName = "m.png";
    allocated.Allocate(2, 2, 4);
    mapped.Swap(allocated);
    EXPECT_EQ(allocated.pixels, place);
    EXPECT_EQ(allocated.width, 16);
    EXPECT_EQ(allocated.fileName, "m.png");
    EXPECT_EQ(mapped.ByteCount(), 16u);
    mapped.Clear();
    EXPECT_TRUE(Mapped(place, bytes));
    allocated.Allocate(1, 1, 4);
    EXPECT_FALSE(Mapped(place, bytes));
}

TEST(PixelImage, GetPixelReportsOutOfRangePositions) {
    CPixelImage im;
    im.Allocate(4, 3, 4);
    std::memset(im.pixels, 9, im.ByteCount());
    const int cases[3][2] = {{-1, 0}, {4, 0}, {0, 3}};
    const char* messages[3] = {"ERROR: pixel [-1,0] is out of range.\n", "ERROR: pixel [4,0] is out of range.\n",
                               "ERROR: pixel [0,3] is out of range.\n"};
    for (int i = 0; i < 3; ++i) {
        CaptureStderr();
        PixelValue v = im.GetPixel(cases[i][0], cases[i][1]);
        EXPECT_EQ(GetCapturedStderr(), messages[i]);
        EXPECT_EQ(v.r + v.g + v.b + v.a, 0);
    }
}

TEST(PixelImage, GetPixelByBytesPerPixel) {
    CPixelImage grey;
    grey.Allocate(2, 2, 1);
    std::memset(grey.pixels, 200, 4);
    PixelValue g = grey.GetPixel(1, 1);
    EXPECT_EQ(g.r, 200);
    EXPECT_EQ(g.g, 200);
    EXPECT_EQ(g.b, 200);
    EXPECT_EQ(g.a, 200);  // alpha takes the grey value too

    CPixelImage rgb;
    rgb.Allocate(2, 1, 3);
    const unsigned char bytes[6] = {1, 2, 3, 4, 5, 6};
    std::memcpy(rgb.pixels, bytes, 6);
    PixelValue c = rgb.GetPixel(1, 0);
    EXPECT_EQ(c.r, 4);
    EXPECT_EQ(c.g, 5);
    EXPECT_EQ(c.b, 6);
    EXPECT_EQ(c.a, 255);

    CPixelImage rgba;
    rgba.Allocate(2, 1, 4);
    const unsigned char four[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::memcpy(rgba.pixels, four, 8);
    PixelValue d = rgba.GetPixel(1, 0);
    EXPECT_EQ(d.a, 8);

    CPixelImage two;
    two.Allocate(2, 2, 2);
    CaptureStderr();
    PixelValue z = two.GetPixel(0, 0);
    EXPECT_EQ(GetCapturedStderr(), "ERROR: invalid bit depth in GetPixel()\n");
    EXPECT_EQ(z.r + z.g + z.b + z.a, 0);
}

class SampleBilinearTest : public ::testing::Test {
protected:
    void SetUp() override {
        im.Allocate(4, 4, 4);
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) Set(im, c, r, static_cast<unsigned char>(10 * c + r), static_cast<unsigned char>(40 * r), 0);
    }
    CPixelImage im;
    unsigned char out[4] = {0, 0, 0, 123};
};

TEST_F(SampleBilinearTest, IntegerPositionsReturnThePixel) {
    SampleBilinear(im, 1.0f, 2.0f, out);
    EXPECT_EQ(out[0], 12);
    EXPECT_EQ(out[1], 80);
    EXPECT_EQ(out[3], 123);  // alpha is the caller's
}

TEST_F(SampleBilinearTest, HalfwayBlendsAndRoundsTiesToEven) {
    Set(im, 1, 2, 5, 7, 0);
    Set(im, 2, 2, 10, 0, 0);
    SampleBilinear(im, 1.5f, 2.0f, out);
    EXPECT_EQ(out[0], 8);  // 7.5 rounds to 8
    EXPECT_EQ(out[1], 4);  // 3.5 rounds to 4
    Set(im, 1, 2, 2, 0, 0);
    Set(im, 2, 2, 3, 5, 0);
    SampleBilinear(im, 1.5f, 2.0f, out);
    EXPECT_EQ(out[0], 2);  // 2.5 rounds to 2
    EXPECT_EQ(out[1], 2);  // 2.5 rounds to 2
}

TEST_F(SampleBilinearTest, PositionsBeyondTheEdgesClampWithoutBlending) {
    SampleBilinear(im, -0.5f, 1.0f, out);
    EXPECT_EQ(out[0], 1);  // column 0, row 1
    for (float x : {3.0f, 10.0f, 1e30f}) {
        SampleBilinear(im, x, 1.0f, out);
        EXPECT_EQ(out[0], 21) << x;  // column W - 2 = 2, not the last column
    }
    SampleBilinear(im, 1.0f, 3.0f, out);
    EXPECT_EQ(out[1], 80);  // row H - 2
    SampleBilinear(im, 2.5f, 2.5f, out);
    EXPECT_EQ(out[0], 28);  // 27.5 -> 28: the last column and row do take part inside
}

TEST_F(SampleBilinearTest, NonFinitePositionsStayInsideTheBuffer) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    SampleBilinear(im, nan, nan, out);
    EXPECT_EQ(out[0], 0);
    SampleBilinear(im, inf, -inf, out);
    EXPECT_EQ(out[0], 20);
}

TEST(SampleBilinearThin, SinglePixelImageReturnsThatPixelEverywhere) {
    CPixelImage one;
    one.Allocate(1, 1, 4);
    Set(one, 0, 0, 9, 8, 7);
    unsigned char out[4] = {0, 0, 0, 0};
    for (float p : {-3.0f, 0.0f, 0.4f, 5.0f}) {
        SampleBilinear(one, p, p, out);
        EXPECT_EQ(out[0], 9);
        EXPECT_EQ(out[2], 7);
    }
}

}  // namespace

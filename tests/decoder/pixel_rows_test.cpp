// Rows handed to the pixels: in place, or into a shared memory file in batches (by a second
// thread for large pictures), RGB rows widened to RGBA; and a memory file that refuses them.
#include "decoder/pixel_rows.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "decoder/decode_limits.h"

namespace {

unsigned char Sample(int x, int y, int channel) { return static_cast<unsigned char>(x * 7 + y * 13 + channel * 61); }

// Makes every row of `out` through PixelRows, `step` rows at a time, and returns the status.
int MakeRows(DecodedImage& out, int bytesPerPixel, int step, std::string& reason) {
    PixelRows rows(out, bytesPerPixel);
    for (int y = 0; y < out.height;) {
        int count = std::min(step, rows.Room());
        unsigned char* at = rows.Next();
        for (int r = 0; r < count; ++r) {
            for (int x = 0; x < out.width; ++x) {
                for (int c = 0; c < bytesPerPixel; ++c) *at++ = Sample(x, y + r, c);
            }
        }
        if (rows.Made(count, reason) != 0) return -1;
        y += count;
    }
    return 0;
}

struct Case {
    int width, height, bytesPerPixel, step;
    bool shared;
};

class PixelRowsTest : public ::testing::TestWithParam<Case> {};

TEST_P(PixelRowsTest, EveryRowArrivesWidenedWhereItBelongs) {
    const Case c = GetParam();
    size_t bytes = static_cast<size_t>(c.width) * c.height * 4;
    int memory = memfd_create("pixels", MFD_CLOEXEC);
    ASSERT_GE(memory, 0);
    ASSERT_EQ(ftruncate(memory, static_cast<off_t>(bytes)), 0);
    void* place = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, memory, 0);
    ASSERT_NE(place, MAP_FAILED);
    DecodedImage out;
    if (c.shared) {
        out.place = static_cast<unsigned char*>(place);
        out.placeBytes = bytes;
        out.placeFile = memory;
    }
    ASSERT_NE(ReservePixels(c.width, c.height, out), nullptr);
    std::string reason;
    ASSERT_EQ(MakeRows(out, c.bytesPerPixel, c.step, reason), 0) << reason;
    const unsigned char* pixels = out.Pixels();
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
            const unsigned char* p = pixels + (static_cast<size_t>(y) * c.width + x) * 4;
            for (int ch = 0; ch < 4; ++ch) {
                unsigned char expected = ch == 3 && c.bytesPerPixel == 3 ? 255 : Sample(x, y, ch);
                ASSERT_EQ(p[ch], expected) << "pixel " << x << "," << y << " channel " << ch;
            }
        }
    }
    munmap(place, bytes);
    close(memory);
}

INSTANTIATE_TEST_SUITE_P(Layouts, PixelRowsTest,
                         ::testing::Values(Case{37, 23, 4, 1, false}, Case{37, 23, 3, 2, false},
                                           Case{37, 23, 4, 8, true}, Case{1031, 45, 3, 5, true},
                                           // past the size at which a second thread hands the rows over
                                           Case{1100, 1000, 4, 8, true}, Case{1100, 1000, 3, 1, true}));

TEST(PixelRows, MemoryThatRefusesTheRowsIsAReason) {
    for (int height : {10, 1000}) {  // without and with the second thread
        const int width = 1100;
        size_t bytes = static_cast<size_t>(width) * height * 4;
        int memory = memfd_create("pixels", MFD_CLOEXEC);
        ASSERT_EQ(ftruncate(memory, static_cast<off_t>(bytes)), 0);
        void* place = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, memory, 0);
        int readOnly = open(("/proc/self/fd/" + std::to_string(memory)).c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(readOnly, 0);
        DecodedImage out;
        out.place = static_cast<unsigned char*>(place);
        out.placeBytes = bytes;
        out.placeFile = readOnly;
        ASSERT_NE(ReservePixels(width, height, out), nullptr);
        std::string reason;
        EXPECT_EQ(MakeRows(out, 3, 8, reason), -1);
        EXPECT_NE(reason.find("could not write the pixels"), std::string::npos) << reason;
        munmap(place, bytes);
        close(readOnly);
        close(memory);
    }
}

}  // namespace

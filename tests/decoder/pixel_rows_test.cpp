// Rows handed to the pixels: in place, or into a shared memory file in batches (by a second
// thread for large pictures), RGB rows widened to RGBA, converted by a colour conversion that
// thread prepares while the first rows are made; and a memory file that refuses them.
#include "decoder/pixel_rows.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "decoder/colour_convert.h"
#include "decoder/decode_limits.h"
#include "support/display_p3.h"

namespace {

unsigned char Sample(int x, int y, int channel) { return static_cast<unsigned char>(x * 7 + y * 13 + channel * 61); }

// Makes every row of `out` through PixelRows, `step` rows at a time, and returns the status;
// `made` counts the rows as they are made, `prepare` gives the rows' conversion.
int MakeRows(DecodedImage& out, int bytesPerPixel, int step, std::string& reason,
             std::function<const ColourConversion*()> prepare = nullptr, std::atomic<int>* made = nullptr) {
    PixelRows rows(out, bytesPerPixel);
    if (prepare) rows.ConvertOnTheWay(prepare);
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
        if (made != nullptr) *made = y;
    }
    return 0;
}

// A memory file of `bytes` for the pixels, mapped; closed and unmapped as it ends.
struct PixelFile {
    explicit PixelFile(size_t size) : bytes(size) {
        fd = memfd_create("pixels", MFD_CLOEXEC);
        if (fd >= 0 && ftruncate(fd, static_cast<off_t>(bytes)) == 0) {
            place = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        }
    }
    ~PixelFile() {
        if (place != MAP_FAILED) munmap(place, bytes);
        if (fd >= 0) close(fd);
    }
    size_t bytes;
    int fd = -1;
    void* place = MAP_FAILED;
};

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

// The conversion is prepared on the rows' thread while the decoder goes on: rows made before it
// is ready wait for it rather than pass unconverted, and the decoder is not held up meanwhile.
TEST(PixelRows, RowsMadeWhileTheConversionIsPreparedAreConvertedToo) {
    std::string profile = DisplayP3Profile();
    ASSERT_FALSE(profile.empty());
    ColourDescription p3 = ProfileDescription(reinterpret_cast<const unsigned char*>(profile.data()), profile.size(),
                                              "the test's profile");
    // width x height, bytes per pixel made: small (no thread) and large, RGBA and RGB.
    for (Case c : {Case{37, 23, 4, 8, true}, Case{1100, 1000, 4, 8, true}, Case{1100, 1000, 3, 5, true}}) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height) + ", " +
                     std::to_string(c.bytesPerPixel) + " bytes");
        PixelFile file(static_cast<size_t>(c.width) * c.height * 4);
        ASSERT_NE(file.place, MAP_FAILED);
        DecodedImage out;
        out.place = static_cast<unsigned char*>(file.place);
        out.placeBytes = file.bytes;
        out.placeFile = file.fd;
        ASSERT_NE(ReservePixels(c.width, c.height, out), nullptr);
        ColourConversion conversion;
        std::atomic<int> made{0};
        const std::thread::id maker = std::this_thread::get_id();
        auto prepare = [&]() -> const ColourConversion* {
            // On a thread of its own, it waits until half the rows are made, far more than two batches.
            while (std::this_thread::get_id() != maker && made < c.height / 2) std::this_thread::yield();
            return conversion.Prepare(p3, ColourSamples::kRgba8, false, out) ? &conversion : nullptr;
        };
        std::string reason;
        ASSERT_EQ(MakeRows(out, c.bytesPerPixel, c.step, reason, prepare, &made), 0) << reason;
        EXPECT_EQ(out.colourNote, "converted to sRGB from the test's profile \"Display P3\"");

        std::vector<unsigned char> expected(file.bytes);
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.width; ++x) {
                for (int ch = 0; ch < 4; ++ch) {
                    expected[(static_cast<size_t>(y) * c.width + x) * 4 + ch] =
                        ch == 3 && c.bytesPerPixel == 3 ? 255 : Sample(x, y, ch);
                }
            }
        }
        conversion.Convert(expected.data(), expected.data(), expected.size() / 4);
        const unsigned char* pixels = out.Pixels();
        size_t differing = 0;
        for (size_t i = 0; i < expected.size(); ++i) differing += pixels[i] != expected[i];
        EXPECT_EQ(differing, 0u);
        // The samples are not all grey: the conversion changed them.
        std::vector<unsigned char> stored(4);
        for (int ch = 0; ch < 4; ++ch) stored[ch] = ch == 3 && c.bytesPerPixel == 3 ? 255 : Sample(5, 3, ch);
        EXPECT_NE(std::vector<unsigned char>(pixels + (3 * c.width + 5) * 4, pixels + (3 * c.width + 5) * 4 + 4), stored);
    }
}

}  // namespace

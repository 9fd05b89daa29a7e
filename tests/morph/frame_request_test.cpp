#include "morph/frame_request.h"

#include <gtest/gtest.h>

#include <cmath>

#include "morph/morph_settings.h"

TEST(FrameRequest, SequenceFractionsRunEvenlyFromZeroToOne) {
    struct Case {
        int index, frames;
        double fraction;
    } cases[] = {{0, 1, 0.0}, {0, 5, 0.0}, {1, 5, 0.25}, {2, 5, 0.5}, {4, 5, 1.0}, {1, 3, 0.5}, {2, 3, 1.0}};
    for (const Case& c : cases) {
        EXPECT_EQ(c.fraction, SequenceFraction(c.index, c.frames)) << c.index << "/" << c.frames;
    }
    EXPECT_EQ(1.0 / 3.0, SequenceFraction(1, 4));
    EXPECT_EQ(static_cast<float>(1.0 / 3.0), NarrowFraction(SequenceFraction(1, 4)));
}

TEST(OutputSize, RequestSizeIsTruncatedAndClamped) {
    EXPECT_EQ(ClampOutputSide(0.0), 1);
    EXPECT_EQ(ClampOutputSide(-5.0), 1);
    EXPECT_EQ(ClampOutputSide(std::nan("")), 1);
    EXPECT_EQ(ClampOutputSide(1.9), 1);
    EXPECT_EQ(ClampOutputSide(319.99), 319);
    EXPECT_EQ(ClampOutputSide(10000.0), 10000);
    EXPECT_EQ(ClampOutputSide(10000.5), 10000);
    EXPECT_EQ(ClampOutputSide(1e30), 10000);
}

TEST(FrameRequest, DefaultOutputSideIsTheImageSideWithinTheLimits) {
    struct Case {
        int side;
        uint32_t expected;
    } cases[] = {{319, 319}, {1, 1}, {0, 1}, {-5, 1}, {kMaxOutputSide, kMaxOutputSide},
                 {kMaxOutputSide + 1, kMaxOutputSide}};
    for (const Case& c : cases) EXPECT_EQ(c.expected, DefaultOutputSide(c.side)) << c.side;
}

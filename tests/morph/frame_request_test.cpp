#include "morph/frame_request.h"

#include <gtest/gtest.h>

#include <cmath>

#include "image/pixel_image.h"
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

TEST(FrameRequest, FieldWeightsKeepTheRulesOfTheWarp) {
    struct Case {
        FieldWeight which;
        double value;
        const char* problem;  // "" when accepted
    } cases[] = {
        {FieldWeight::A, 0.01, ""},
        {FieldWeight::A, 0.0, "must be greater than 0"},
        {FieldWeight::A, -1.0, "must be greater than 0"},
        {FieldWeight::A, std::nan(""), "must be greater than 0"},
        {FieldWeight::B, 0.0, ""},
        {FieldWeight::B, -0.5, "must not be negative"},
        {FieldWeight::P, std::nan(""), "must not be negative"},
        {FieldWeight::P, 1e39, "is too large for single precision"},
        {FieldWeight::A, 3.4e38, ""},
    };
    for (const Case& c : cases) {
        float narrowed = -7.0f;
        EXPECT_EQ(c.problem, FieldWeightProblem(c.which, c.value, narrowed)) << c.value;
        EXPECT_EQ(*c.problem == '\0' ? static_cast<float>(c.value) : -7.0f, narrowed) << c.value;
    }
}

TEST(FrameRequest, RangesLieWithinTheRun) {
    struct Case {
        int first, last, frames;
        bool bounce, accepted;
    } cases[] = {
        {0, 4, 5, false, true},  {4, 4, 5, false, true},  {0, 5, 5, false, false}, {3, 2, 5, false, false},
        {-1, 2, 5, false, false}, {5, 7, 5, true, true},  {0, 8, 5, true, false},  {0, 0, 1, true, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.accepted, FrameRangeProblem(c.first, c.last, c.frames, c.bounce).empty())
            << c.first << ":" << c.last << " of " << c.frames << (c.bounce ? " bounced" : "");
    }
    EXPECT_EQ(8, RunLength(5, true));
    EXPECT_EQ(1, RunLength(1, true));
}

TEST(FrameRequest, BounceRetracesTheWayThere) {
    const int source[8] = {0, 1, 2, 3, 4, 3, 2, 1};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(SequenceFraction(source[i], 5), RunFraction(i, 5, true)) << i;
    EXPECT_EQ(1.0, RunFraction(4, 5, false));
}

TEST(FrameRequest, CountsAndSidesHaveTheirLimits) {
    EXPECT_TRUE(IsFrameCount(1) && IsFrameCount(kMaxFrames));
    EXPECT_FALSE(IsFrameCount(0) || IsFrameCount(kMaxFrames + 1LL));
    EXPECT_TRUE(IsThreadCount(1) && IsThreadCount(kMaxMorphThreads));
    EXPECT_FALSE(IsThreadCount(0) || IsThreadCount(kMaxMorphThreads + 1LL));
    EXPECT_TRUE(IsOutputSide(kMinOutputSide) && IsOutputSide(kMaxOutputSide));
    EXPECT_FALSE(IsOutputSide(kMinOutputSide - 1LL) || IsOutputSide(kMaxOutputSide + 1LL));
    EXPECT_TRUE(IsFraction(0.0) && IsFraction(1.0));
    EXPECT_FALSE(IsFraction(-0.001) || IsFraction(1.001) || IsFraction(std::nan("")));
}

TEST(FrameRequest, SettingsTakeTheRequestOrImageASize) {
    CPixelImage imageA;
    imageA.width = 319;
    imageA.height = 12000;
    FrameRequest request;
    request.warp = 0.1;
    request.dissolve = 1.0 / 3.0;
    request.b = 1.5f;
    MorphSettings settings;
    ApplyFrameRequest(request, imageA, settings);
    EXPECT_EQ(static_cast<float>(0.1), settings.warpFrac);
    EXPECT_EQ(static_cast<float>(1.0 / 3.0), settings.dissoveFrac);
    EXPECT_EQ(1.5f, settings.b);
    EXPECT_EQ(319u, settings.outputWidth);
    EXPECT_EQ(static_cast<uint32_t>(kMaxOutputSide), settings.outputHeight);
    request.width = 17;
    request.height = 5;
    ApplyFrameRequest(request, imageA, settings);
    EXPECT_EQ(17u, settings.outputWidth);
    EXPECT_EQ(5u, settings.outputHeight);
}

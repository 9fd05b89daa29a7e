#include "cli/render_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

ParseResult Parse(std::vector<std::string> args, RenderOptions& options, std::string* error = nullptr) {
    std::string message;
    ParseResult result = ParseRenderOptions(args, options, message);
    if (error != nullptr) *error = message;
    return result;
}

TEST(RenderOptions, DefaultsAreTheWindowsSettings) {
    RenderOptions o;
    ASSERT_EQ(ParseResult::Render, Parse({"scene.mrf", "-o", "out.png"}, o));
    EXPECT_EQ("scene.mrf", o.documentPath);
    EXPECT_EQ("out.png", o.outputPath);
    EXPECT_EQ(0.5, o.fraction);
    EXPECT_EQ(4, o.threads);
    EXPECT_EQ(0.01f, o.a);
    EXPECT_EQ(2.0f, o.b);
    EXPECT_EQ(0.2f, o.p);
    EXPECT_FALSE(o.hasSize);
    EXPECT_FALSE(o.hasWarp);
    EXPECT_FALSE(o.hasDissolve);
    EXPECT_EQ(0, o.frames);
    EXPECT_FALSE(o.quiet);
}

TEST(RenderOptions, AcceptsShortLongAndInlineForms) {
    RenderOptions o;
    ASSERT_EQ(ParseResult::Render, Parse({"-t0.25", "--size=319x239", "-j", "3", "--output=x.bmp", "-q", "d.mrf",
                                          "-a", "0.5", "-b1", "--image-a", "A.png", "--image-b=B.png", "-p", "0"},
                                         o));
    EXPECT_EQ(0.25, o.fraction);
    EXPECT_TRUE(o.hasSize);
    EXPECT_EQ(319, o.width);
    EXPECT_EQ(239, o.height);
    EXPECT_EQ(3, o.threads);
    EXPECT_EQ("x.bmp", o.outputPath);
    EXPECT_TRUE(o.quiet);
    EXPECT_EQ(0.5f, o.a);
    EXPECT_EQ(1.0f, o.b);
    EXPECT_EQ(0.0f, o.p);
    EXPECT_EQ("A.png", o.imageA);
    EXPECT_EQ("B.png", o.imageB);
    ASSERT_EQ(ParseResult::Render, Parse({"--fraction", "1", "--warp", "0", "--dissolve=0.75", "-o", "o.png", "--",
                                          "-odd-name.mrf"},
                                         o));
    EXPECT_EQ("-odd-name.mrf", o.documentPath);
    EXPECT_TRUE(o.hasWarp);
    EXPECT_EQ(0.0, o.warp);
    EXPECT_EQ(0.75, o.dissolve);
}

TEST(RenderOptions, HelpAndVersionWinOverEverythingElse) {
    RenderOptions o;
    EXPECT_EQ(ParseResult::Help, Parse({"-h"}, o));
    EXPECT_EQ(ParseResult::Help, Parse({"bogus", "--help"}, o));
    EXPECT_EQ(ParseResult::Version, Parse({"--version"}, o));
}

// The option scanner keeps its place between calls; a parse abandoned inside a group of short
// options must not leak into the next one.
TEST(RenderOptions, EachParseStartsAfresh) {
    RenderOptions o;
    ASSERT_EQ(ParseResult::UsageError, Parse({"d.mrf", "-qt", "0.5", "-o", "o.png"}, o));
    ASSERT_EQ(ParseResult::Render, Parse({"-j2", "d.mrf", "-o", "o.png"}, o));
    EXPECT_EQ(2, o.threads);
    EXPECT_FALSE(o.quiet);
    EXPECT_EQ("d.mrf", o.documentPath);
}

class RenderOptionsRefuses : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(RenderOptionsRefuses, WithAUsageError) {
    RenderOptions o;
    std::string error;
    EXPECT_EQ(ParseResult::UsageError, Parse(GetParam(), o, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(std::string::npos, error.find('\n'));
}

INSTANTIATE_TEST_SUITE_P(
    OutOfRangeAndMalformed, RenderOptionsRefuses,
    testing::Values(std::vector<std::string>{}, std::vector<std::string>{"d.mrf"},
                    std::vector<std::string>{"d.mrf", "e.mrf", "-o", "o.png"},
                    std::vector<std::string>{"d.mrf", "-o"}, std::vector<std::string>{"d.mrf", "-o", ""},
                    std::vector<std::string>{"d.mrf", "-o", "o.png", "--bogus"},
                    std::vector<std::string>{"d.mrf", "-o", "o.png", "-t", "1.5"},
                    std::vector<std::string>{"d.mrf", "-o", "o.png", "-t", "-0.1"},
                    std::vector<std::string>{"d.mrf", "-o", "o.png", "-t", "nan"},
                    std::vector<std::string>{"d.mrf", "-o", "o.png", "-t", "0.5x"},
                    std::vector<std::string>{"d.mrf", "-o", "o.png", "--warp", "2"},
                    std::vector<std::string>{"d.mrf", "-o", "o.png", "--dissolve", "inf"},
                    std::vector<std::string>{"d.mrf", "-o", "o.png", "-s", "0x10"},
                    std::vector<std::string>{"d.mrf", "-o", "o.png", "-s", "10001x5"},
                    std::vector<std::string>{"d.mrf", "-o", "o.png", "-s", "12"},
                    std::vector<std::string>{"d.mrf", "-o", "o.png", "-s", "12x"},
                    std::vector<std::string>{"d.mrf", "-o", "o.png", "-s", "-3x4"},
                    std::vector<std::string>{"d.mrf", "-o", "o.png", "-s", "3x4x5"},
                    std::vector<std::string>{"d.mrf", "-o", "o.png", "-j", "0"},
                    std::vector<std::string>{"d.mrf", "-o", "o.png", "-j", "257"},
                    std::vector<std::string>{"d.mrf", "-o", "o.png", "-j", "two"},
                    std::vector<std::string>{"d.mrf", "-o", "o.png", "-a", "0"},
                    std::vector<std::string>{"d.mrf", "-o", "o.png", "-b", "-1"},
                    std::vector<std::string>{"d.mrf", "-o", "o.png", "-p", "1e60"},
                    std::vector<std::string>{"d.mrf", "-o", "o.png", "-qq"},
                    std::vector<std::string>{"d.mrf", "-o", "o.png", "--quiet=1"},
                    std::vector<std::string>{"d.mrf", "-o", "o.png", "--frac", "0.3"},
                    std::vector<std::string>{"d.mrf", "-o", "f%d.png", "-n", "0"},
                    std::vector<std::string>{"d.mrf", "-o", "f%d.png", "-n", "-2"},
                    std::vector<std::string>{"d.mrf", "-o", "f.png", "-n", "3"},
                    std::vector<std::string>{"d.mrf", "-o", "f%d_%d.png", "-n", "3"},
                    std::vector<std::string>{"d.mrf", "-o", "f%s.png", "-n", "3"},
                    std::vector<std::string>{"d.mrf", "-o", "f%d.png", "-n", "3", "-t", "0.5"},
                    std::vector<std::string>{"d.mrf", "-o", "o.png", "--frame-range", "0:1"},
                    std::vector<std::string>{"d.mrf", "-o", "f%d.png", "-n", "3", "--frame-range", "2:1"},
                    std::vector<std::string>{"d.mrf", "-o", "f%d.png", "-n", "3", "--frame-range", "0:3"},
                    std::vector<std::string>{"d.mrf", "-o", "f%d.png", "-n", "3", "--frame-range", "1"},
                    std::vector<std::string>{"d.mrf", "-o", "f%d.png", "-n", "3", "--bounce", "--frame-range", "0:4"},
                    std::vector<std::string>{"d.mrf", "-o", "o.png", "--bounce"},
                    std::vector<std::string>{"d.mrf", "-o", "m.mp4"},
                    std::vector<std::string>{"d.mrf", "-o", "m.gif", "-n", "3", "--frame-range", "0:1"},
                    std::vector<std::string>{"d.mrf", "-o", "f%d.png", "-n", "3", "--fps", "25"},
                    std::vector<std::string>{"d.mrf", "-o", "m.webm", "-n", "3", "--fps", "0"},
                    std::vector<std::string>{"d.mrf", "-o", "m.webm", "-n", "3", "--fps", "1001"},
                    std::vector<std::string>{"d.mrf", "-o", "o.png", "--png-level", "10"},
                    std::vector<std::string>{"d.mrf", "-o", "o.bmp", "--png-level", "1"}));

TEST(RenderOptions, SequenceWithoutRangeCoversEveryFrame) {
    RenderOptions o;
    ASSERT_EQ(ParseResult::Render, Parse({"d.mrf", "-n", "5", "-o", "frames/m_%03d.png"}, o));
    EXPECT_EQ(0, o.firstFrame);
    EXPECT_EQ(4, o.lastFrame);
    ASSERT_EQ(ParseResult::Render, Parse({"d.mrf", "-n", "5", "--frame-range", "4:4", "-o", "m%d.png"}, o));
    EXPECT_EQ(4, o.firstFrame);
    EXPECT_EQ(4, o.lastFrame);
}

TEST(RenderOptions, AnimationsBounceAndPngLevel) {
    RenderOptions o;
    EXPECT_EQ(kDefaultPngLevel, o.pngLevel);
    EXPECT_EQ(25.0, o.fps);
    ASSERT_EQ(ParseResult::Render, Parse({"d.mrf", "-n", "5", "--bounce", "--fps=12.5", "-o", "out/Morph.GIF"}, o));
    EXPECT_TRUE(o.bounce);
    EXPECT_EQ(12.5, o.fps);
    EXPECT_EQ(0, o.firstFrame);
    EXPECT_EQ(7, o.lastFrame);  // 2N - 2 frames
    ASSERT_EQ(ParseResult::Render, Parse({"d.mrf", "-n", "4", "--bounce", "--frame-range", "5:5", "-o", "f%d.png"}, o));
    EXPECT_EQ(5, o.lastFrame);
    ASSERT_EQ(ParseResult::Render, Parse({"d.mrf", "-n", "1", "--bounce", "-o", "m.mp4"}, o));
    EXPECT_EQ(0, o.lastFrame);
    ASSERT_EQ(ParseResult::Render, Parse({"d.mrf", "--png-level", "0", "-o", "o.PNG"}, o));
    EXPECT_EQ(0, o.pngLevel);
}

TEST(FramePattern, AcceptsOneIntegerFieldAndLiteralPercents) {
    EXPECT_TRUE(IsFramePattern("m_%03d.png"));
    EXPECT_TRUE(IsFramePattern("%d"));
    EXPECT_TRUE(IsFramePattern("100%%/%-5i.png"));
    EXPECT_FALSE(IsFramePattern("m.png"));
    EXPECT_FALSE(IsFramePattern("%%d.png"));
    EXPECT_FALSE(IsFramePattern("%n.png"));
    EXPECT_FALSE(IsFramePattern("%ld.png"));
    EXPECT_FALSE(IsFramePattern("%9999d.png"));
    EXPECT_FALSE(IsFramePattern("%d%"));
    EXPECT_EQ("frames/m_007.png", FramePath("frames/m_%03d.png", 7));
    EXPECT_EQ("100%/12.png", FramePath("100%%/%d.png", 12));
}

TEST(FrameFractions, NarrowTheFractionLikeTheSlider) {
    RenderOptions o;
    o.fraction = 0.1;
    float warp, dissolve;
    FrameFractions(o, 0, warp, dissolve);
    EXPECT_EQ(static_cast<float>(0.1), warp);
    EXPECT_EQ(static_cast<float>(0.1), dissolve);
    o.hasDissolve = true;
    o.dissolve = 0.9;
    FrameFractions(o, 0, warp, dissolve);
    EXPECT_EQ(static_cast<float>(0.1), warp);
    EXPECT_EQ(static_cast<float>(0.9), dissolve);
}

TEST(FrameFractions, SequenceRunsFromZeroToOne) {
    RenderOptions o;
    o.frames = 4;
    float warp, dissolve;
    const float expected[4] = {0.0f, static_cast<float>(1.0 / 3.0), static_cast<float>(2.0 / 3.0), 1.0f};
    for (int i = 0; i < 4; ++i) {
        FrameFractions(o, i, warp, dissolve);
        EXPECT_EQ(expected[i], warp) << i;
        EXPECT_EQ(expected[i], dissolve) << i;
    }
    o.frames = 1;
    FrameFractions(o, 0, warp, dissolve);
    EXPECT_EQ(0.0f, warp);
    o.frames = 3;
    o.hasWarp = true;
    o.warp = 0.25;
    FrameFractions(o, 2, warp, dissolve);
    EXPECT_EQ(0.25f, warp);
    EXPECT_EQ(1.0f, dissolve);
}

TEST(FrameFractions, BounceRetracesTheFractionsOfTheWayThere) {
    RenderOptions o;
    o.frames = 4;
    o.bounce = true;
    ASSERT_EQ(6, RunLength(o));
    const int source[6] = {0, 1, 2, 3, 2, 1};
    for (int i = 0; i < 6; ++i) {
        float warp, dissolve;
        FrameFractions(o, i, warp, dissolve);
        EXPECT_EQ(static_cast<float>(source[i] / 3.0), warp) << i;
        EXPECT_EQ(static_cast<float>(source[i] / 3.0), dissolve) << i;
    }
    o.frames = 1;
    EXPECT_EQ(1, RunLength(o));
    o.bounce = false;
    o.frames = 5;
    EXPECT_EQ(5, RunLength(o));
}

}  // namespace

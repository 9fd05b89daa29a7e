#include "cli/render_options.h"

#include "cli/option_values.h"

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
    EXPECT_EQ(25, o.fpsNum);
    EXPECT_EQ(1, o.fpsDen);
    ASSERT_EQ(ParseResult::Render, Parse({"d.mrf", "-n", "5", "--bounce", "--fps=12.5", "-o", "out/Morph.GIF"}, o));
    EXPECT_TRUE(o.bounce);
    EXPECT_EQ(25, o.fpsNum);
    EXPECT_EQ(2, o.fpsDen);
    EXPECT_EQ(0, o.firstFrame);
    EXPECT_EQ(7, o.lastFrame);  // 2N - 2 frames
    ASSERT_EQ(ParseResult::Render, Parse({"d.mrf", "-n", "4", "--bounce", "--frame-range", "5:5", "-o", "f%d.png"}, o));
    EXPECT_EQ(5, o.lastFrame);
    ASSERT_EQ(ParseResult::Render, Parse({"d.mrf", "-n", "1", "--bounce", "-o", "m.mp4"}, o));
    EXPECT_EQ(0, o.lastFrame);
    ASSERT_EQ(ParseResult::Render, Parse({"d.mrf", "--png-level", "0", "-o", "o.PNG"}, o));
    EXPECT_EQ(0, o.pngLevel);
}

struct RateCase {
    const char* text;
    int num, den;  // 0 for text that is refused
};

TEST(ParseFrameRate, TakesWholeRationalAndDecimalRatesInLowestTerms) {
    const RateCase cases[] = {
        {"25", 25, 1},          {"30000/1001", 30000, 1001}, {"50/2", 25, 1},    {"12.5", 25, 2},
        {"29.97", 2997, 100},   {"23.976", 2997, 125},       {"0.5", 1, 2},      {"1000", 1000, 1},
        {"1000000/1000", 1000, 1}, {"1/1000000", 1, 1000000},
        {"0", 0, 0},            {"1001", 0, 0},              {"2000001/2000", 0, 0}, {"1/0", 0, 0},
        {"0/5", 0, 0},          {"-25", 0, 0},               {"+25", 0, 0},      {"25/", 0, 0},
        {"/25", 0, 0},          {"1e2", 0, 0},               {"0x19", 0, 0},     {"12.5/2", 0, 0},
        {"29.9701", 0, 0},      {"", 0, 0},                  {"25 ", 0, 0},      {"1/1000001", 0, 0},
        {"99999999999", 0, 0},
    };
    for (const RateCase& c : cases) {
        int num = -7, den = -7;
        const bool taken = ParseFrameRate(c.text, num, den);
        EXPECT_EQ(c.num != 0, taken) << c.text;
        EXPECT_EQ(c.num != 0 ? c.num : -7, num) << c.text;
        EXPECT_EQ(c.num != 0 ? c.den : -7, den) << c.text;
    }
}

TEST(RenderOptions, QualityCodecAndStreamsFollowTheOutput) {
    struct Accepted {
        std::vector<std::string> args;
        const char* codec;  // the codec written with, "" for none
        int quality;        // what the output is written at
    };
    const Accepted cases[] = {
        {{"-n", "3", "-o", "m.mp4"}, "h264", 18},
        {{"-n", "3", "-o", "m.MKV", "--codec", "av1", "--quality", "63"}, "av1", 63},
        {{"-n", "3", "-o", "m.webm"}, "vp9", 30},
        {{"-n", "3", "-o", "m.webm", "--codec=av1"}, "av1", 32},
        {{"-n", "3", "-o", "m.mov", "--codec", "hevc", "--quality", "0"}, "hevc", 0},
        {{"-n", "3", "-o", "m.webp", "--quality", "100"}, "", 100},
        {{"-n", "3", "-o", "m.webp"}, "", WritableFormatNamed("webp")->quality.fallback},
        {{"-o", "still.webp", "--quality", "70"}, "", 70},
        {{"-o", "still.webp", "--lossless"}, "", -1},
        {{"-n", "3", "-o", "f%d.webp"}, "", WritableFormatNamed("webp")->quality.fallback},
        {{"-o", "f.jpg", "--quality", "40"}, "", 40},
        {{"-n", "3", "-o", "f%d.JPEG"}, "", WritableFormatNamed("jpg")->quality.fallback},
        {{"-n", "3", "-o", "m.gif"}, "", -1},
        {{"-o", "f.png"}, "", -1},
        {{"-o", "-"}, "", -1},
    };
    for (const Accepted& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "d.mrf");
        RenderOptions o;
        std::string error;
        ASSERT_EQ(ParseResult::Render, Parse(args, o, &error)) << args[3] << ": " << error;
        const VideoCodec* codec = OutputCodec(o);
        EXPECT_EQ(std::string(c.codec), codec != nullptr ? codec->name : "") << args[3];
        EXPECT_EQ(c.quality, OutputQuality(o)) << args[3];
    }
    RenderOptions o;
    ASSERT_EQ(ParseResult::Render, Parse({"d.mrf", "-o", "-", "-n", "4", "--format", "y4m", "--fps", "30000/1001"}, o));
    EXPECT_TRUE(WritesToStdout(o));
    EXPECT_EQ("y4m", o.format);
    EXPECT_EQ(30000, o.fpsNum);
    EXPECT_EQ(1001, o.fpsDen);
    EXPECT_EQ(3, o.lastFrame);
    ASSERT_EQ(ParseResult::Render, Parse({"d.mrf", "-o", "-", "--png-level", "9"}, o));
    EXPECT_EQ("png", o.format);
    EXPECT_EQ(9, o.pngLevel);
}

// A value out of range is refused with a message that names the range the usage text gives.
TEST(RenderOptions, RangeErrorsNameTheRange) {
    struct Refused {
        std::vector<std::string> args;
        const char* says;
    };
    const Refused cases[] = {
        {{"-o", "o.png", "-j", "0"}, "1..256"},
        {{"-o", "o.png", "-s", "0x5"}, "1..10000"},
        {{"-o", "f%d.png", "-n", "0"}, "1..1000000"},
        {{"-o", "o.png", "--png-level", "10"}, "--png-level: PNG level 10 is not in 0..9"},
        {{"-o", "o.png", "--png-level", "x"}, "PNG level 'x' is not a whole number"},
        {{"-o", "o.jpg", "--png-level", "3"}, "--png-level: a JPEG file takes no level (it takes: quality, subsampling)"},
        {{"-o", "m.mp4", "-n", "2", "--quality", "52"}, "the CRF of h264 is 0..51"},
        {{"-o", "m.webm", "-n", "2", "--quality", "64"}, "the CRF of vp9 is 0..63"},
        {{"-o", "o.webp", "--quality", "101"}, "quality '101' is not a whole number in 0..100"},
        {{"-o", "o.jpg", "--quality", "0"}, "--quality: JPEG quality 0 is not in 1..100"},
        {{"-o", "m.webp", "-n", "2", "--quality", "101"}, "0..100"},
        {{"-o", "m.webp", "-n", "2", "--quality", "high"}, "0..100"},
        {{"-o", "m.mp4", "-n", "2", "--fps", "0"}, "(0,1000]"},
        {{"-o", "m.mp4", "-n", "2", "--fps", "30000/0"}, "1..1000000"},
        {{"-o", "m.mp4", "-n", "2", "--codec", "xvid"}, "h264, hevc, vp9, av1"},
        {{"-o", "m.webm", "-n", "2", "--codec", "h264"}, "h264 goes in .mp4 .mov .mkv"},
        {{"-o", "m.mov", "-n", "2", "--codec", "vp9"}, "vp9 goes in .webm .mkv .mp4"},
        {{"-o", "m.gif", "-n", "2", "--codec", "h264"}, "--codec applies to video files"},
        {{"-o", "m.gif", "-n", "2", "--quality", "5"}, "--quality applies to"},
        {{"-o", "o.png", "--quality", "5"}, "--quality: a PNG file takes no quality (it takes: level)"},
        {{"-o", "-", "--quality", "5"}, "--quality: a PNG file takes no quality (it takes: level)"},
        {{"-o", "-", "--format", "y4m", "--quality", "5"}, "--quality applies to video files, .webp animations and JPEG and WebP frames"},
        {{"-o", "-", "--format", "gif"}, "png, ppm, y4m"},
        {{"-o", "o.png", "--format", "ppm"}, "--format applies to -o -"},
        {{"-o", "-", "--format", "ppm", "--png-level", "3"}, "--png-level applies to"},
        {{"-o", "-", "--format", "png", "--fps", "30"}, "--fps applies to"},
        {{"-o", "f%d.png", "-n", "2", "--fps", "30"}, "--fps applies to"},
    };
    for (const Refused& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "d.mrf");
        RenderOptions o;
        std::string error;
        EXPECT_EQ(ParseResult::UsageError, Parse(args, o, &error)) << c.says;
        EXPECT_NE(std::string::npos, error.find(c.says)) << error;
    }
}

// The frame writers' settings are judged by the table of writable formats, in the words
// write_image and the window use, and reach the writer as given.
TEST(RenderOptions, WriterSettingsAreJudgedByTheTable) {
    struct Case {
        std::vector<std::string> args;
        const char* refusal;  // "" when accepted
        const char* compression = "";
        const char* subsampling = "";
        int lossless = kSettingUnset;
    };
    const Case cases[] = {
        {{"-o", "f.tif", "--compression", "lzw"}, "", "lzw", "", kSettingUnset},
        {{"-n", "2", "-o", "f%d.TIFF", "--compression=deflate"}, "", "deflate", "", kSettingUnset},
        {{"-o", "f.jpg", "--subsampling", "4:4:4", "--quality", "90"}, "", "", "4:4:4", kSettingUnset},
        {{"-o", "f.webp", "--lossless"}, "", "", "", 1},
        {{"-o", "f.tif", "--compression", "jpeg"}, "--compression: TIFF compression 'jpeg' is not none, lzw, deflate or packbits"},
        {{"-o", "f.png", "--compression", "lzw"}, "--compression: a PNG file takes no compression (it takes: level)"},
        {{"-o", "f.jpg", "--subsampling", "4:2:2"}, "--subsampling: JPEG subsampling '4:2:2' is not 4:2:0 or 4:4:4"},
        {{"-o", "f.jpg", "--lossless"}, "--lossless: a JPEG file takes no lossless (it takes: quality, subsampling)"},
        {{"-o", "f.webp", "--lossless", "--quality", "80"}, "a lossless WebP file takes no quality"},
        {{"-n", "2", "-o", "m.webp", "--lossless"}, "--lossless applies to WebP frames"},
        {{"-n", "2", "-o", "m.mp4", "--compression", "lzw"}, "--compression applies to TIFF frames"},
        {{"-o", "-", "--subsampling", "4:4:4"}, "--subsampling: a PNG file takes no subsampling (it takes: level)"},
        {{"-o", "-", "--format", "ppm", "--png-level", "3"}, "--png-level applies to PNG frames and --format png"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "d.mrf");
        RenderOptions o;
        std::string error;
        const ParseResult result = Parse(args, o, &error);
        if (*c.refusal != '\0') {
            EXPECT_EQ(ParseResult::UsageError, result) << c.refusal;
            EXPECT_EQ(c.refusal, error);
            continue;
        }
        ASSERT_EQ(ParseResult::Render, result) << error;
        const ImageWriteSettings settings = FrameWriteSettings(o);
        EXPECT_EQ(c.compression, settings.compression);
        EXPECT_EQ(c.subsampling, settings.subsampling);
        EXPECT_EQ(c.lossless, settings.lossless);
    }
}

// --help lists every option with the ranges the parser checks.
TEST(RenderOptions, UsageListsTheOptionsAndTheirRanges) {
    const std::string usage = RenderUsage();
    for (const char* part : {"--quality Q", "--codec NAME", "--fps N[/D]", "--format F", "-o, --output OUTPUT",
                             "h264 0..51 (default 18)", "av1 0..63", "JPEG frames, 1..100", "1..256", "0..9",
                             "30000/1001", "png, ppm, y4m", "C420jpeg", "beside the document first",
                             "--compression NAME", "none (default), lzw, deflate or packbits", "--subsampling S",
                             "4:2:0 (default) or 4:4:4", "--lossless", "WebP frames without loss"}) {
        EXPECT_NE(std::string::npos, usage.find(part)) << part;
    }
    for (size_t start = 0, end; (end = usage.find('\n', start)) != std::string::npos; start = end + 1) {
        EXPECT_LE(end - start, 100u) << usage.substr(start, end - start);
    }
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

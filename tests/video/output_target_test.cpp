// The one reading of an output name: which kind of target, which writer row, container or
// stream, and the codec and quality an animation gets from it.
#include "video/output_target.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(OutputTarget, ClassifiesEveryKindOfName) {
    struct Case {
        const char* path;
        const char* stream;  // --format
        bool oneFileOfFrames;
        OutputKind kind;
        const char* row;        // the writer row's name, "" for none
        const char* container;  // "" for none
        const char* problem;    // a part of it, "" for none
    };
    const Case cases[] = {
        {"f.png", "", false, OutputKind::FrameFile, "PNG", "", ""},
        {"dir.d/F_%03d.JPE", "", false, OutputKind::FrameFile, "JPEG", "", ""},
        {"f.tiff", "", true, OutputKind::FrameFile, "TIFF", "", ""},  // a pattern-less name of frames is refused later
        {"x.webp", "", false, OutputKind::FrameFile, "WebP", "", ""},
        {"m.WebP", "", true, OutputKind::Animation, "", ".webp", ""},
        {"m.gif", "", false, OutputKind::Animation, "", ".gif", ""},
        {"m.MP4", "", true, OutputKind::Animation, "", ".mp4", ""},
        {"a.mkv", "", false, OutputKind::Animation, "", ".mkv", ""},
        {"f.xyz", "", false, OutputKind::FrameFile, "", "", "no image format is written for the extension .xyz"},
        {"f.pal", "", false, OutputKind::FrameFile, "", "", ".pal is a colour palette"},
        {"noextension", "", true, OutputKind::FrameFile, "", "", "no extension"},
        {"-", "", false, OutputKind::Stream, "PNG", "", ""},
        {"-", "png", true, OutputKind::Stream, "PNG", "", ""},
        {"-", "y4m", true, OutputKind::Stream, "", "", ""},
        {"-", "ppm", false, OutputKind::Stream, "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + c.stream);
        OutputTarget target;
        ASSERT_TRUE(ClassifyOutput(c.path, c.stream, c.oneFileOfFrames, target));
        EXPECT_EQ(c.kind, target.kind);
        EXPECT_EQ(std::string(c.row), target.frame != nullptr ? target.frame->name : "");
        EXPECT_EQ(std::string(c.container), target.container != nullptr ? target.container->extension : "");
        EXPECT_NE(std::string::npos, target.problem.find(c.problem)) << target.problem;
        EXPECT_EQ(*c.problem == '\0', target.problem.empty()) << target.problem;
    }
    OutputTarget untouched;
    untouched.kind = OutputKind::Animation;
    EXPECT_FALSE(ClassifyOutput("-", "gif", false, untouched));
    EXPECT_EQ(OutputKind::Animation, untouched.kind);
    OutputTarget stream;
    ASSERT_TRUE(ClassifyOutput("-", "y4m", false, stream));
    EXPECT_EQ(StreamFormat::Y4m, stream.stream);
}

TEST(OutputTarget, AnimationsTakeTheirContainersCodecAndQuality) {
    struct Case {
        const char* path;
        const char* codec;
        int quality;
        const char* written;  // the codec written with, "" for none
        int writtenQuality;   // what is written at, -1 for none
    };
    const Case cases[] = {
        {"m.mp4", "", kSettingUnset, "h264", 18}, {"m.webm", "", kSettingUnset, "vp9", 30},
        {"m.mkv", "av1", 63, "av1", 63},          {"m.mov", "hevc", kSettingUnset, "hevc", 22},
        {"m.webp", "", kSettingUnset, "", 90},    {"m.webp", "", 0, "", 0},
        {"m.gif", "", kSettingUnset, "", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        OutputTarget target;
        ClassifyOutput(c.path, "", true, target);
        AnimationFormat format;
        format.codec = c.codec;
        format.quality = c.quality;
        EXPECT_EQ("", AnimationFormatProblem(target, format, {"--codec", "--quality"}));
        const VideoCodec* codec = AnimationCodec(target, format);
        EXPECT_EQ(std::string(c.written), codec != nullptr ? codec->name : "");
        EXPECT_EQ(c.writtenQuality, AnimationQuality(target, format));
    }
}

TEST(OutputTarget, FrameRatesComeInLowestTermsWithinTheLimits) {
    struct Case {
        long long num, den;
        bool taken;
        long long reducedNum, reducedDen;
    };
    const Case cases[] = {
        {50, 2, true, 25, 1},          {60000, 2002, true, 30000, 1001}, {1000, 1, true, 1000, 1},
        {2000000, 2000, true, 1000, 1}, {1001, 1, false, 1001, 1},       {0, 1, false, 0, 1},
        {-25, 1, false, -25, 1},        {25, 0, false, 25, 0},           {1, 1000001, false, 1, 1000001},
    };
    for (const Case& c : cases) {
        long long num = c.num, den = c.den;
        EXPECT_EQ(c.taken, ReduceFrameRate(num, den)) << c.num << "/" << c.den;
        EXPECT_EQ(c.reducedNum, num);
        EXPECT_EQ(c.reducedDen, den);
    }
}

}  // namespace

// The animation writer against stand-ins for ffmpeg that misbehave the ways a real one can:
// one that stops reading, one that ends without a file, one that fails with its own words,
// one without the encoder asked for. Each must end with a reason, in time, leaving no file.
#include "video/animation_writer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "support/fake_ffmpeg.h"
#include "support/temp_folder.h"

namespace {

CPixelImage Frame(int width, int height) {
    CPixelImage frame;
    frame.Allocate(width, height, 4);
    for (size_t i = 0; i < frame.ByteCount(); ++i) frame.pixels[i] = static_cast<unsigned char>(i * 7);
    return frame;
}

// The target of an animation file name, as the front ends classify it.
OutputTarget Animation(const std::string& path) {
    OutputTarget target;
    ClassifyOutput(path, "", true, target);
    return target;
}

TEST(AnimationWriter, MisbehavingFfmpegEndsWithAReasonInTimeAndLeavesNoFile) {
    struct Case {
        const char* what;
        const char* body;
        const char* file;
        const char* codec;
        const char* reason;   // a part of the reason given
        bool failsToOpen;
    };
    // 640 x 360 RGBA frames are larger than a socket's buffer: a stand-in that does not read
    // blocks the first one.
    const Case cases[] = {
        {"stops reading", "exec sleep 60", "m.gif", "",
         "ffmpeg stopped taking frames: ffmpeg took no frame and used no CPU time for 1 s, and was stopped", false},
        {"exits 0 without output", "cat > /dev/null; exit 0", "m.gif", "", "ffmpeg ended without an error but wrote nothing",
         false},
        {"exits 0 at once", "exit 0", "m.gif", "", "ffmpeg ended before it had taken every frame", false},
        {"fails in its own words", "head -c 1000 > /dev/null; echo 'Conversion failed!' >&2; exit 1", "m.mp4", "",
         "ffmpeg stopped taking frames: Conversion failed!", false},
        {"lacks the encoder", "exit 1", "m.mkv", "vp9",
         "the installed ffmpeg has no vp9 encoder for 640 x 360 frames (looked for: libvpx-vp9); it writes h264", true},
    };
    const CPixelImage frame = Frame(640, 360);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeFfmpeg fake(c.body);
        TempFolder out;
        AnimationFormat format;
        format.codec = c.codec;
        format.stallSeconds = 1;
        CAnimationWriter writer;
        std::string reason;
        auto start = std::chrono::steady_clock::now();
        int opened = writer.Open(out.File(c.file), Animation(c.file), 640, 360, format, reason);
        ASSERT_EQ(c.failsToOpen ? -1 : 0, opened) << reason;
        int result = opened;
        for (int i = 0; i < 3 && result == 0; ++i) result = writer.WriteFrame(frame, reason);
        if (result == 0) result = writer.Finish(reason);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(-1, result);
        EXPECT_NE(std::string::npos, reason.find(c.reason)) << reason;
        EXPECT_LT(seconds, 10.0);  // a stall is 1 s here; a hang would take the stand-in's 60
        EXPECT_TRUE(out.Entries().empty());
    }
}

TEST(AnimationWriter, RefusesFormatsTheContainerCannotTake) {
    struct Case {
        const char* file;
        const char* codec;
        int quality;
        const char* reason;
    };
    const Case cases[] = {
        {"m.webm", "h264", kSettingUnset, "codec h264: a .webm file does not carry h264 (h264 goes in .mp4 .mov .mkv)"},
        {"m.mp4", "mpeg2", kSettingUnset, "codec 'mpeg2' is not one of h264, hevc, vp9, av1"},
        {"m.gif", "", 50, "quality applies to video files and .webp animations"},
        {"m.gif", "h264", kSettingUnset, "codec applies to video files (.mp4 .mov .mkv .webm)"},
        {"m.webp", "", 101, "quality 101 is out of range: WebP quality is 0..100"},
        {"m.webm", "av1", 64, "quality 64 is out of range: the CRF of av1 is 0..63"},
        {"m.mp4", "h264", -1, "quality -1 is out of range: the CRF of h264 is 0..51"},
        {"m.png", "", kSettingUnset, "not an animation file name (.mp4 .mov .mkv .webm .gif .webp)"},
    };
    FakeFfmpeg fake("exit 1");
    for (const Case& c : cases) {
        TempFolder out;
        AnimationFormat format;
        format.codec = c.codec;
        format.quality = c.quality;
        CAnimationWriter writer;
        std::string reason;
        EXPECT_EQ(-1, writer.Open(out.File(c.file), Animation(c.file), 64, 48, format, reason)) << c.file << " " << c.codec;
        EXPECT_NE(std::string::npos, reason.find(c.reason)) << reason;
        EXPECT_TRUE(out.Entries().empty());
    }
}

}  // namespace

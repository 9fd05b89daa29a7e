// quarro-render's animations and --bounce end to end: each container as ffprobe sees it (or,
// for WebP, as its chunks say), the way back of --bounce, the GIF's palette, and a missing,
// failing or interrupted ffmpeg.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/render_cli_fixture.h"
#include "cli/render_options.h"

namespace {

// What ffprobe reports of the first video stream, decoding every frame to count them.
struct Probe {
    int width = 0, height = 0, frames = 0;
    std::string rate;
};

Probe ProbeVideo(const TempFolder& folder, const std::string& file) {
    CliRun run = RunShell(folder, "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                  "stream=width,height,r_frame_rate,nb_read_frames -of csv=p=0 " + Quote(file));
    Probe probe;
    char rate[32] = {0};
    if (std::sscanf(run.out.c_str(), "%d,%d,%31[^,],%d", &probe.width, &probe.height, rate, &probe.frames) == 4) {
        probe.rate = rate;
    }
    return probe;
}

// An animated WebP's canvas, loop count and frames (ffprobe cannot read them): the RIFF
// chunks VP8X, ANIM and one ANMF per frame with its duration in milliseconds.
struct WebpAnimation {
    int width = 0, height = 0, loops = -1;
    std::vector<int> durations;
};

uint32_t Little(const std::string& bytes, size_t at, int count) {
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + static_cast<size_t>(i)]);
    return value;
}

WebpAnimation ReadWebp(const std::string& bytes) {
    WebpAnimation animation;
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WEBP") != 0) return animation;
    for (size_t at = 12; at + 8 <= bytes.size();) {
        std::string kind = bytes.substr(at, 4);
        size_t size = Little(bytes, at + 4, 4), data = at + 8;
        if (data + size > bytes.size()) break;
        if (kind == "VP8X" && size >= 10) {
            animation.width = static_cast<int>(Little(bytes, data + 4, 3)) + 1;
            animation.height = static_cast<int>(Little(bytes, data + 7, 3)) + 1;
        } else if (kind == "ANIM" && size >= 6) {
            animation.loops = static_cast<int>(Little(bytes, data + 4, 2));
        } else if (kind == "ANMF" && size >= 16) {
            animation.durations.push_back(static_cast<int>(Little(bytes, data + 12, 3)));
        }
        at = data + size + (size & 1);
    }
    return animation;
}

// The folder holds exactly these names (no temporary file beside them).
::testing::AssertionResult HoldsExactly(const TempFolder& folder, std::vector<std::string> names) {
    std::vector<std::string> entries = folder.Entries();
    for (const char* input : {"a.png", "b.png", "scene.mrf"}) names.push_back(input);
    std::sort(entries.begin(), entries.end());
    std::sort(names.begin(), names.end());
    if (entries == names) return ::testing::AssertionSuccess();
    std::string listed;
    for (const auto& entry : entries) listed += " " + entry;
    return ::testing::AssertionFailure() << "the folder holds" << listed;
}

using RenderSequence = RenderCli;

TEST_F(RenderSequence, BounceRetracesTheWayWithoutRepeatingTheEnds) {
    CliRun run = Render(folder, {"scene.mrf", "-q", "-n", "4", "--bounce", "-o", "b%d.png"});
    ASSERT_EQ(0, run.status) << run.err;
    const float fractions[6] = {0.0f, 1.0f / 3, 2.0f / 3, 1.0f, 2.0f / 3, 1.0f / 3};
    for (int k = 0; k < 6; ++k) {
        float t = static_cast<float>(k < 4 ? k / 3.0 : (6 - k) / 3.0);
        EXPECT_FLOAT_EQ(fractions[k], t);
        EXPECT_TRUE(FileHolds(folder.File("b" + std::to_string(k) + ".png"), Expected(t, t))) << k;
    }
    EXPECT_FALSE(std::filesystem::exists(folder.File("b6.png")));
}

TEST_F(RenderSequence, EachContainerHoldsEveryFrameAtItsSizeAndRate) {
    struct Case {
        const char* file;
        int width, height;  // the 4:2:0 video codecs get even sides
    };
    const Case cases[] = {{"m.mp4", 42, 32}, {"m.mov", 42, 32}, {"m.mkv", 42, 32}, {"m.webm", 42, 32}, {"m.gif", 41, 31}};
    for (const Case& c : cases) {
        CliRun run = Render(folder, {"scene.mrf", "-q", "-n", "4", "--bounce", "--fps", "20", "-o", c.file});
        ASSERT_EQ(0, run.status) << c.file << ": " << run.err;
        Probe probe = ProbeVideo(folder, c.file);
        EXPECT_EQ(6, probe.frames) << c.file;
        EXPECT_EQ(c.width, probe.width) << c.file;
        EXPECT_EQ(c.height, probe.height) << c.file;
        EXPECT_EQ("20/1", probe.rate) << c.file;
    }
    CliRun run = Render(folder, {"scene.mrf", "-q", "-n", "5", "--fps", "20", "-o", "m.webp"});
    ASSERT_EQ(0, run.status) << run.err;
    WebpAnimation webp = ReadWebp(ReadWholeFile(folder.File("m.webp")));
    EXPECT_EQ(41, webp.width);
    EXPECT_EQ(31, webp.height);
    EXPECT_EQ(0, webp.loops);  // for ever
    EXPECT_EQ(std::vector<int>(5, 50), webp.durations);
    EXPECT_TRUE(HoldsExactly(folder, {"m.mp4", "m.mov", "m.mkv", "m.webm", "m.gif", "m.webp"}));
}

// A palette drawn from each frame keeps a GIF frame close to the rendered one, far closer
// than a fixed 216-colour palette could.
TEST_F(RenderSequence, GifPaletteComesFromTheFramesAndLoopsForEver) {
    CliRun run = Render(folder, {"scene.mrf", "-q", "-n", "3", "-o", "m.gif"});
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_NE(std::string::npos, ReadWholeFile(folder.File("m.gif")).find("NETSCAPE2.0\x03\x01\x00\x00", 0, 15));
    run = RunShell(folder, "ffmpeg -v error -i m.gif -vf 'select=eq(n\\,1)' -frames:v 1 middle.png");
    ASSERT_EQ(0, run.status) << run.err;
    CPixelImage middle;
    ASSERT_EQ(0, ReadImageFile(folder.File("middle.png"), middle));
    CPixelImage expected = Expected(0.5f, 0.5f);
    ASSERT_EQ(expected.ByteCount(), middle.ByteCount());
    // The mean error per channel, and that of the nearest colour of the 6 x 6 x 6 web palette.
    double error = 0, fixedError = 0;
    for (size_t i = 0; i < expected.ByteCount(); ++i) {
        if (i % 4 == 3) continue;
        int value = expected.pixels[i];
        error += std::abs(static_cast<int>(middle.pixels[i]) - value);
        fixedError += std::abs((value + 25) / 51 * 51 - value);
    }
    // Here about 2.8 against 11.7 (which dithering would only raise).
    EXPECT_LT(error, fixedError / 3);
}

// The renderer's GIF, a palette per frame, reads back as its first frame (fraction 0).
TEST_F(RenderSequence, GifReadsBackAsItsFirstFrame) {
    CliRun run = Render(folder, {"scene.mrf", "-q", "-n", "4", "-o", "m.gif"});
    ASSERT_EQ(0, run.status) << run.err;
    CPixelImage first;
    std::string reason;
    ASSERT_EQ(0, ReadImageFile(folder.File("m.gif"), first, reason)) << reason;
    CPixelImage expected = Expected(0.f, 0.f);
    ASSERT_EQ(expected.ByteCount(), first.ByteCount());
    double error = 0;
    for (size_t i = 0; i < expected.ByteCount(); ++i) {
        error += std::abs(static_cast<int>(first.pixels[i]) - static_cast<int>(expected.pixels[i]));
    }
    EXPECT_LT(error / static_cast<double>(expected.ByteCount()), 8.0);  // a palette's error, not another picture's
}

TEST_F(RenderSequence, MissingFfmpegSaysHowToInstallIt) {
    CliRun run = RunShell(folder, "PATH= " + RenderCommand({"scene.mrf", "-n", "3", "-o", "m.mp4"}));
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("quarro-render: m.mp4: animations are written by the ffmpeg program, which is not installed; "
              "install it with: apt-get install ffmpeg\n",
              run.err);
    EXPECT_TRUE(HoldsExactly(folder, {}));
}

// A stand-in for ffmpeg on PATH: it starts the output file, then runs `then`.
void FakeFfmpeg(const TempFolder& folder, const std::string& then) {
    std::filesystem::create_directory(folder.File("fake"));
    WriteWholeFile(folder.File("fake/ffmpeg"), "#!/bin/sh\nfor last; do :; done\necho partial > \"${last#file:}\"\n" + then + "\n");
    std::filesystem::permissions(folder.File("fake/ffmpeg"), std::filesystem::perms::owner_all);
}

TEST_F(RenderSequence, EncoderFailureHalfWayLeavesNoFile) {
    // The stand-in takes two frames of 41 x 31 (42 x 32 padded) RGBA, then gives up.
    FakeFfmpeg(folder, "head -c 10752 > /dev/null; echo 'fake encoder gave up' >&2; exit 1");
    CliRun run = RunShell(folder, "PATH=fake:$PATH " + RenderCommand({"scene.mrf", "-q", "-n", "20", "-o", "m.mp4"}));
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.err.find("quarro-render: m.mp4: ")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("fake encoder gave up")) << run.err;
    std::filesystem::remove_all(folder.File("fake"));
    EXPECT_TRUE(HoldsExactly(folder, {}));
}

TEST_F(RenderSequence, SignalDuringAnAnimationLeavesNoFile) {
    // The stand-in says when it has started the file, and the renderer is stopped only then.
    FakeFfmpeg(folder, "touch started; exec sleep 30");
    CliRun run = RunShell(folder, "PATH=fake:$PATH " + RenderCommand({"scene.mrf", "-q", "-n", "20", "-o", "m.gif"}) +
                                      " & while [ ! -e started ]; do sleep 0.05; done; kill -TERM $!; wait $!");
    EXPECT_EQ(128 + 15, run.status);
    std::filesystem::remove_all(folder.File("fake"));
    std::filesystem::remove(folder.File("started"));
    EXPECT_TRUE(HoldsExactly(folder, {}));
}

}  // namespace

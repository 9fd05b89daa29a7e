// quarro-render's animations and --bounce end to end: each container as ffprobe sees it (or,
// for WebP, as its chunks say), the way back of --bounce, the GIF's palette, and a missing,
// failing or interrupted ffmpeg.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/render_cli_fixture.h"
#include "cli/render_options.h"
#include "support/fake_ffmpeg.h"

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

// The colour tags of the first video stream, as ffprobe names them.
struct ColourTags {
    std::string matrix, primaries, transfer, range;
};

ColourTags ProbeColour(const TempFolder& folder, const std::string& file) {
    CliRun run = RunShell(folder, "ffprobe -v error -select_streams v:0 -show_entries "
                                  "stream=color_space,color_primaries,color_transfer,color_range -of default=nw=1 " +
                                      Quote(file));
    ColourTags tags;
    const std::pair<const char*, std::string*> fields[] = {{"color_space=", &tags.matrix},
                                                           {"color_primaries=", &tags.primaries},
                                                           {"color_transfer=", &tags.transfer},
                                                           {"color_range=", &tags.range}};
    for (const auto& field : fields) {
        size_t at = run.out.find(field.first);
        if (at == std::string::npos) continue;
        at += std::strlen(field.first);
        *field.second = run.out.substr(at, run.out.find('\n', at) - at);
    }
    return tags;
}

// Frame `index` of a video decoded to RGB with the YUV matrix and range named; empty on failure.
std::string DecodeFrame(const TempFolder& folder, const std::string& file, int index, const std::string& matrix,
                        const std::string& range) {
    CliRun run = RunShell(folder, "ffmpeg -v error -i " + Quote(file) + " -vf 'select=eq(n\\," + std::to_string(index) +
                                      "),scale=in_color_matrix=" + matrix + ":in_range=" + range +
                                      ",format=rgb24' -frames:v 1 -f rawvideo -y decoded.rgb");
    std::string rgb = run.status == 0 ? ReadWholeFile(folder.File("decoded.rgb")) : std::string();
    std::remove(folder.File("decoded.rgb").c_str());
    return rgb;
}

// The peak signal-to-noise ratio in dB of RGB bytes against an RGBA frame; 0 when the sizes differ.
double Psnr(const std::string& rgb, const CPixelImage& frame) {
    if (rgb.size() != static_cast<size_t>(frame.width) * frame.height * 3) return 0;
    double squares = 0;
    for (size_t i = 0, p = 0; i < rgb.size(); ++i, ++p) {
        if (p % 4 == 3) ++p;
        double difference = static_cast<unsigned char>(rgb[i]) - static_cast<double>(frame.pixels[p]);
        squares += difference * difference;
    }
    double mean = squares / static_cast<double>(rgb.size());
    return mean == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mean);
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

// A rational rate reaches the file as it was given, not as a rounded decimal.
TEST_F(RenderSequence, RationalRateIsTheFilesRate) {
    for (const char* file : {"ntsc.mp4", "ntsc.webm"}) {
        CliRun run = Render(folder, {"scene.mrf", "-q", "-n", "3", "--fps", "30000/1001", "-o", file});
        ASSERT_EQ(0, run.status) << file << ": " << run.err;
        Probe probe = ProbeVideo(folder, file);
        EXPECT_EQ("30000/1001", probe.rate) << file;
        EXPECT_EQ(3, probe.frames) << file;
    }
}

// Players take HD video as BT.709: the files are encoded so and say so. Decoded as the tags
// say, the middle frame is the rendered one up to the codec's loss; decoded with the BT.601
// matrix it is clearly further.
TEST_F(RenderSequence, VideoIsEncodedAsItsColourTagsSay) {
    const CPixelImage middle = Expected(0.5f, 0.5f, 1280, 720);
    for (const char* file : {"m.mp4", "m.webm"}) {
        SCOPED_TRACE(file);
        CliRun run = Render(folder, {"scene.mrf", "-q", "-n", "5", "-s", "1280x720", "-o", file});
        ASSERT_EQ(0, run.status) << run.err;
        ColourTags tags = ProbeColour(folder, file);
        EXPECT_EQ("bt709", tags.matrix);
        EXPECT_EQ("bt709", tags.primaries);
        EXPECT_EQ("bt709", tags.transfer);
        EXPECT_EQ("tv", tags.range);  // limited range
        const double tagged = Psnr(DecodeFrame(folder, file, 2, tags.matrix, tags.range), middle);
        const double other = Psnr(DecodeFrame(folder, file, 2, "bt601", "tv"), middle);
        EXPECT_GE(tagged, 40.0);
        EXPECT_LT(other, tagged - 4.0);
        std::printf("%s: %.1f dB as tagged, %.1f dB with BT.601\n", file, tagged, other);
    }
}

// --codec picks what ffprobe finds in the file, each tagged BT.709 at limited range; --quality
// is the CRF, so a lower one makes a larger file at a higher bit rate.
TEST_F(RenderSequence, CodecAndQualityShowInTheFile) {
    struct Case {
        const char* file;
        const char* codec;  // "" for the container's usual one
        const char* probed;
    };
    const Case cases[] = {{"c.mp4", "", "h264"}, {"c.mp4", "hevc", "hevc"}, {"c.mkv", "vp9", "vp9"},
                          {"c.webm", "av1", "av1"}, {"c.webm", "", "vp9"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.codec);
        std::vector<std::string> args = {"scene.mrf", "-q", "-n", "3", "-s", "160x120", "-o", c.file};
        if (*c.codec != '\0') args.insert(args.end(), {"--codec", c.codec});
        CliRun run = Render(folder, args);
        ASSERT_EQ(0, run.status) << run.err;
        CliRun probe = RunShell(folder, "ffprobe -v error -select_streams v:0 -show_entries stream=codec_name -of csv=p=0 " +
                                            Quote(c.file));
        EXPECT_EQ(std::string(c.probed) + "\n", probe.out);
        ColourTags tags = ProbeColour(folder, c.file);
        EXPECT_EQ("bt709 bt709 bt709 tv", tags.matrix + " " + tags.primaries + " " + tags.transfer + " " + tags.range);
    }
    long long sizes[2], rates[2];
    const char* qualities[2] = {"10", "40"};
    for (int i = 0; i < 2; ++i) {
        CliRun run = Render(folder, {"scene.mrf", "-q", "-n", "6", "-s", "320x240", "--quality", qualities[i], "-o", "q.mp4"});
        ASSERT_EQ(0, run.status) << run.err;
        CliRun probe = RunShell(folder, "ffprobe -v error -show_entries format=size,bit_rate -of csv=p=0 q.mp4");
        ASSERT_EQ(2, std::sscanf(probe.out.c_str(), "%lld,%lld", &sizes[i], &rates[i])) << probe.out;
    }
    EXPECT_GT(sizes[0], 2 * sizes[1]);
    EXPECT_GT(rates[0], 2 * rates[1]);
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

TEST_F(RenderSequence, EncoderFailureHalfWayLeavesNoFile) {
    // The stand-in takes two frames of 41 x 31 (42 x 32 padded) RGBA, then gives up.
    FakeFfmpeg fake("echo partial > \"${last#file:}\"; head -c 10752 > /dev/null; echo 'fake encoder gave up' >&2; exit 1");
    CliRun run = Render(folder, {"scene.mrf", "-q", "-n", "20", "-o", "m.mp4"});
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.err.find("quarro-render: m.mp4: ")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("fake encoder gave up")) << run.err;
    EXPECT_TRUE(HoldsExactly(folder, {}));
}

// True once process `pid` has ended (gone, or a zombie nobody reaped yet), waiting up to 5 s.
bool Ends(int pid) {
    for (int i = 0; i < 100; ++i) {
        std::string stat = ReadWholeFile("/proc/" + std::to_string(pid) + "/stat");
        size_t close = stat.rfind(')');
        if (close == std::string::npos || stat.compare(close, 4, ") Z ") == 0) return true;
        usleep(50000);
    }
    return false;
}

// SIGTERM (and Ctrl+C alike) ends ffmpeg and says how far the run got; SIGKILL can say
// nothing, and leaves nothing either: the animation has no name until it is complete.
TEST_F(RenderSequence, SignalDuringAnAnimationLeavesNoFile) {
    struct Case {
        int signal;
        bool says;
    };
    for (Case c : {Case{SIGTERM, true}, Case{SIGKILL, false}}) {
        SCOPED_TRACE(strsignal(c.signal));
        // The stand-in starts its output, says who it is, and stops reading: frames of this
        // size fill the socket's buffer after a few.
        FakeFfmpeg fake("echo partial > \"${last#file:}\"; echo $$ > started.tmp; mv started.tmp started; exec sleep 30");
        CliRun run = RunShell(folder, RenderCommand({"scene.mrf", "-q", "-n", "20", "-s", "640x360", "-o", "m.gif"}) +
                                          " & while [ ! -e started ]; do sleep 0.05; done; kill -" +
                                          std::to_string(c.signal) + " $!; wait $!");
        EXPECT_EQ(128 + c.signal, run.status);
        int ffmpeg = std::atoi(ReadWholeFile(folder.File("started")).c_str());
        std::filesystem::remove(folder.File("started"));
        ASSERT_GT(ffmpeg, 0);
        if (c.says) {
            EXPECT_TRUE(Ends(ffmpeg));
            int written = -1;
            EXPECT_EQ(1, std::sscanf(run.err.c_str(), "quarro-render: m.gif: interrupted after %d of 20 frames\n", &written))
                << run.err;
            EXPECT_TRUE(written >= 0 && written < 20) << run.err;
        } else {
            kill(ffmpeg, SIGKILL);  // the stand-in, orphaned, would otherwise sleep on
        }
        EXPECT_TRUE(HoldsExactly(folder, {}));
    }
}

}  // namespace

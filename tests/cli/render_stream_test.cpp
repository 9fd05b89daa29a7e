// quarro-render -o -: the frames on the standard output, read back by ffmpeg as another
// program would, and a reader that goes away.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "cli/render_cli_fixture.h"

namespace {

// The peak signal-to-noise ratio of the colour channels of two images of one size, in dB.
double Psnr(const CPixelImage& a, const CPixelImage& b) {
    double squares = 0.0;
    size_t count = 0;
    for (size_t i = 0; i < a.ByteCount(); ++i) {
        if (i % 4 == 3) continue;
        const double d = double(a.pixels[i]) - double(b.pixels[i]);
        squares += d * d;
        ++count;
    }
    return squares == 0.0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * count / squares);
}

const float kThirds[4] = {0.0f, static_cast<float>(1.0 / 3.0), static_cast<float>(2.0 / 3.0), 1.0f};

// PNG and PPM streams are lossless: ffmpeg's image pipe reader gets every frame, pixel for pixel.
TEST_F(RenderCli, PngAndPpmStreamsPipeIntoFfmpegWhole) {
    for (const char* format : {"ppm", "png"}) {
        const std::string prefix = std::string("piped_") + format + "_";
        CliRun run = RunShell(folder, RenderCommand({"scene.mrf", "-n", "4", "-q", "-o", "-", "--format", format}) +
                                          " | ffmpeg -nostdin -v error -f image2pipe -c:v " + format + " -i - -start_number 0 " +
                                          prefix + "%d.png");
        ASSERT_EQ(0, run.status) << run.err;
        for (int i = 0; i < 4; ++i) {
            EXPECT_TRUE(FileHolds(folder.File(prefix + std::to_string(i) + ".png"), Expected(kThirds[i], kThirds[i])));
        }
        EXPECT_FALSE(std::filesystem::exists(folder.File(prefix + "4.png")));
    }
}

// The y4m stream states its rate and range; decoded with the BT.709 matrix it is close to the
// frames (4:2:0 costs some chroma), and clearly closer than with the BT.601 matrix.
TEST_F(RenderCli, Y4mStreamIsBt709LimitedRangeAtTheRateAsked) {
    CliRun run = Render(folder, {"scene.mrf", "-n", "4", "-q", "-s", "161x121", "-o", "-", "--format", "y4m", "--fps",
                                 "30000/1001"});
    ASSERT_EQ(0, run.status) << run.err;
    WriteWholeFile(folder.File("m.y4m"), run.out);
    run = RunShell(folder, "ffprobe -v error -count_frames -show_entries "
                           "stream=width,height,r_frame_rate,color_range,nb_read_frames -of default=nw=1 m.y4m");
    ASSERT_EQ(0, run.status) << run.err;
    for (const char* line : {"width=161", "height=121", "r_frame_rate=30000/1001", "color_range=tv", "nb_read_frames=4"}) {
        EXPECT_NE(std::string::npos, run.out.find(line)) << run.out;
    }
    double psnr[2] = {0.0, 0.0};
    const char* matrices[2] = {"bt709", "bt601"};
    for (int m = 0; m < 2; ++m) {
        const std::string name = std::string("d_") + matrices[m] + ".png";
        run = RunShell(folder, std::string("ffmpeg -nostdin -v error -i m.y4m -vf 'select=eq(n\\,2),scale=in_color_matrix=") +
                                   matrices[m] + ":in_range=tv:flags=bilinear+accurate_rnd+full_chroma_int,format=rgb24' "
                                   "-frames:v 1 " + name);
        ASSERT_EQ(0, run.status) << run.err;
        CPixelImage decoded;
        ASSERT_EQ(0, ReadImageFile(folder.File(name), decoded));
        psnr[m] = Psnr(decoded, Expected(kThirds[2], kThirds[2], 161, 121));
    }
    EXPECT_GT(psnr[0], 40.0);
    EXPECT_GT(psnr[0], psnr[1] + 6.0) << psnr[0] << " dB with BT.709, " << psnr[1] << " dB with BT.601";
}

// A reader that stops early ends the run with exit 1 and a reason, not a silent death by SIGPIPE.
TEST_F(RenderCli, AStreamReaderThatLeavesIsReported) {
    CliRun run = RunShell(folder, "{ " + RenderCommand({"scene.mrf", "-n", "200", "-q", "-o", "-", "--format", "ppm"}) +
                                      " 2>render.err; echo $? >status; } | head -c 100 >/dev/null");
    EXPECT_EQ("1\n", ReadWholeFile(folder.File("status")));
    EXPECT_NE(std::string::npos, ReadWholeFile(folder.File("render.err")).find("the program reading the standard output stopped"));
}

}  // namespace

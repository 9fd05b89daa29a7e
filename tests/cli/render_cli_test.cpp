// quarro-render end to end: small scenes written to a temporary folder, the binary run on
// them, and its frames compared byte for byte with the engine run in-process with the
// window's settings.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "cli/render_cli_fixture.h"
#include "cli/render_options.h"
#include "image/png_encoder.h"
#include "support/hostile_files.h"

namespace {

TEST_F(RenderCli, OneFrameIsTheWindowsFrameByteForByte) {
    CliRun run = Render(folder, {"scene.mrf", "-o", "mid.png"});
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_TRUE(FileHolds(folder.File("mid.png"), Expected(0.5f, 0.5f)));
    EXPECT_NE(std::string::npos, run.err.find("Rendered 1 frame in "));
    EXPECT_EQ(std::string::npos, run.err.find('\r'));  // no progress bar when stderr is a file

    run = Render(folder, {"scene.mrf", "-t", "0.3", "-q", "-o", "t03.bmp"});
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ("", run.err);
    EXPECT_TRUE(FileHolds(folder.File("t03.bmp"), Expected(static_cast<float>(0.3), static_cast<float>(0.3))));
}

TEST_F(RenderCli, SeparateFractionsSizeAndThreadsReachTheEngine) {
    CliRun run = Render(folder, {"scene.mrf", "--warp", "0.2", "--dissolve", "0.9", "-s", "23x17", "-j", "3", "-q",
                              "-o", "sized.png"});
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_TRUE(FileHolds(folder.File("sized.png"),
                          Expected(static_cast<float>(0.2), static_cast<float>(0.9), 23, 17, 3)));
}

TEST_F(RenderCli, SequenceWritesEveryFrameUnderItsName) {
    std::filesystem::create_directory(folder.File("frames"));
    CliRun run = Render(folder, {"scene.mrf", "-n", "3", "-o", "frames/m_%03d.png"});
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("Rendered 3 frames in "));
    EXPECT_TRUE(FileHolds(folder.File("frames/m_000.png"), Expected(0.0f, 0.0f)));
    EXPECT_TRUE(FileHolds(folder.File("frames/m_001.png"), Expected(0.5f, 0.5f)));
    EXPECT_TRUE(FileHolds(folder.File("frames/m_002.png"), Expected(1.0f, 1.0f)));
}

TEST_F(RenderCli, FrameRangeRendersOnlyItsFrames) {
    CliRun run = Render(folder, {"scene.mrf", "-n", "5", "--frame-range", "1:2", "-q", "-o", "f%d.png"});
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_FALSE(std::filesystem::exists(folder.File("f0.png")));
    EXPECT_TRUE(FileHolds(folder.File("f1.png"), Expected(0.25f, 0.25f)));
    EXPECT_TRUE(FileHolds(folder.File("f2.png"), Expected(0.5f, 0.5f)));
    EXPECT_FALSE(std::filesystem::exists(folder.File("f3.png")));
}

TEST_F(RenderCli, RelativeImagePathsAreFoundBesideTheDocument) {
    TempFolder elsewhere;
    CliRun run = Render(folder, {folder.File("scene.mrf"), "-q", "-o", folder.File("far.png")}, elsewhere.path);
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_TRUE(FileHolds(folder.File("far.png"), Expected(0.5f, 0.5f)));
}

// JPEG frames follow --quality, 95 without it: the higher the quality, the larger the file.
TEST_F(RenderCli, JpegFramesFollowTheQualityAsked) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> runs = {
        {{"--quality", "99"}, "q99.jpg"}, {{}, "default.jpg"}, {{"--quality", "40"}, "q40.jpg"}};
    std::vector<uintmax_t> sizes;
    for (const auto& run : runs) {
        std::vector<std::string> args = {"scene.mrf", "-q", "-s", "203x151", "-o", run.second};
        args.insert(args.end(), run.first.begin(), run.first.end());
        CliRun result = Render(folder, args);
        ASSERT_EQ(0, result.status) << result.err;
        sizes.push_back(std::filesystem::file_size(folder.File(run.second)));
    }
    EXPECT_GT(sizes[0], sizes[1]);
    EXPECT_GT(sizes[1], sizes[2]);
}

TEST_F(RenderCli, ImageOverrideReplacesTheDocumentsImage) {
    ASSERT_EQ(0, scene.imageA.Save(folder.File("other.png")));
    std::filesystem::remove(folder.File("a.png"));
    CliRun run = Render(folder, {"scene.mrf", "--image-a", "other.png", "-q", "-o", "o.png"});
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_TRUE(FileHolds(folder.File("o.png"), Expected(0.5f, 0.5f)));
}

// -v names the colour profile a picture was converted from; without it the conversion is silent.
TEST_F(RenderCli, VerboseNamesTheProfileAPictureWasConvertedFrom) {
    const std::string icc = "/usr/share/color/icc/";
    if (std::system("command -v convert >/dev/null") != 0 || !std::filesystem::exists(icc + "colord/AdobeRGB1998.icc")) {
        GTEST_SKIP() << "needs ImageMagick and the ICC profiles of scripts/deps.sh";
    }
    std::string tag = "convert " + folder.File("a.png") + " -profile " + icc + "sRGB.icc -profile " + icc +
                      "colord/AdobeRGB1998.icc " + folder.File("adobe.png");
    ASSERT_EQ(0, std::system(tag.c_str()));
    CliRun verbose = Render(folder, {"scene.mrf", "--image-a", "adobe.png", "-q", "-v", "-o", "o.png"});
    ASSERT_EQ(0, verbose.status) << verbose.err;
    EXPECT_EQ("quarro-render: image A adobe.png: converted to sRGB from the PNG's ICC profile \"Compatible with Adobe RGB (1998)\"\n",
              verbose.err);
    CliRun quiet = Render(folder, {"scene.mrf", "--image-a", "adobe.png", "-q", "-o", "o.png"});
    ASSERT_EQ(0, quiet.status) << quiet.err;
    EXPECT_EQ("", quiet.err);
}

// A usage error is the reason, naming the option and what it takes, and where to read more:
// two lines on the standard error, status 2, and no file.
TEST_F(RenderCli, UsageErrorsAreOneReasonAndAPointerToHelp) {
    struct Case {
        std::vector<std::string> args;
        std::vector<const char*> reasonNames;  // what the reason line must hold
    };
    const Case cases[] = {
        {{"scene.mrf", "-t", "1.5", "-o", "x.png"}, {"-t", "'1.5'", "[0,1]"}},
        {{"scene.mrf", "-s", "0x10", "-o", "x.png"}, {"-s", "1..10000"}},
        {{"scene.mrf", "-s", "axb", "-o", "x.png"}, {"-s", "WxH"}},
        {{"scene.mrf", "-j", "0", "-o", "x.png"}, {"-j", "1..256"}},
        {{"scene.mrf", "-n", "0", "-o", "x%d.png"}, {"-n", "1..1000000"}},
        {{"scene.mrf", "-a", "0", "-o", "x.png"}, {"-a", "greater than 0"}},
        {{"scene.mrf"}, {"-o OUTPUT"}},
        {{"scene.mrf", "-o", "x.png", "--nonsense=3"}, {"unknown option --nonsense"}},
        {{"scene.mrf", "-n", "2", "-o", "x.png"}, {"--frames", "%03d"}},
        {{"scene.mrf", "-n", "2", "-o", "m.mp4", "--quality", "52"}, {"--quality 52", "h264", "0..51"}},
        {{"scene.mrf", "-n", "2", "-o", "m.mp4", "--codec", "prores"}, {"--codec", "'prores'", "h264, hevc, vp9, av1"}},
        {{"scene.mrf", "-o", "m.mp4"}, {"--frames N"}},
    };
    for (const Case& c : cases) {
        CliRun run = Render(folder, c.args);
        SCOPED_TRACE(run.err);
        EXPECT_EQ(2, run.status);
        EXPECT_EQ("", run.out);
        const std::string pointer = "\nTry 'quarro-render --help'.\n";
        ASSERT_GT(run.err.size(), pointer.size());
        const std::string reason = run.err.substr(0, run.err.size() - pointer.size());
        EXPECT_EQ(pointer, run.err.substr(reason.size()));
        EXPECT_EQ(0u, reason.find("quarro-render: "));
        EXPECT_EQ(std::string::npos, reason.find('\n'));
        for (const char* name : c.reasonNames) EXPECT_NE(std::string::npos, reason.find(name)) << name;
    }
    std::vector<std::string> entries = folder.Entries();
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ((std::vector<std::string>{"a.png", "b.png", "scene.mrf"}), entries);
}

TEST_F(RenderCli, HelpAndVersionGoToStandardOutput) {
    CliRun run = Render(folder, {"--help"});
    EXPECT_EQ(0, run.status);
    EXPECT_NE(std::string::npos, run.out.find("--frame-range F:L"));
    run = Render(folder, {"--version"});
    EXPECT_EQ(0, run.status);
    EXPECT_EQ(0u, run.out.find("quarro-render "));
}

TEST_F(RenderCli, MissingImageFailsWithOneLineNamingIt) {
    std::filesystem::remove(folder.File("b.png"));
    CliRun run = Render(folder, {"scene.mrf", "-o", "out.png"});
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("quarro-render: b.png: image B is missing: looked for at " + folder.File("b.png") +
                  ", beside the document in the current folder\n",
              run.err);
    EXPECT_FALSE(std::filesystem::exists(folder.File("out.png")));
}

TEST_F(RenderCli, DocumentWithAnEmptyImagePathFailsNamingTheDocument) {
    scene.imageA.fileName = "";
    ASSERT_EQ(0, WriteMorphFile(folder.File("nameless.mrf"), scene.settings));
    CliRun run = Render(folder, {"nameless.mrf", "-o", "out.png"});
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("quarro-render: nameless.mrf: the document names no image A\n", run.err);
}

TEST_F(RenderCli, UndecodableImageAndDocumentFailNamingThem) {
    WriteWholeFile(folder.File("a.png"), "not a picture");
    CliRun run = Render(folder, {"scene.mrf", "-o", "out.png"});
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("quarro-render: a.png: image A could not be decoded: its first bytes match no image format this program reads\n",
              run.err);

    WriteWholeFile(folder.File("bad.mrf"), "MRF\x01 garbage");
    run = Render(folder, {"bad.mrf", "-o", "out.png"});
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("quarro-render: bad.mrf: not a readable morph document: it does not begin with the bytes M, R, F and "
              "zero of a morph document\n",
              run.err);
    run = Render(folder, {"absent.mrf", "-o", "out.png"});
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("quarro-render: absent.mrf: no such morph document\n", run.err);
    EXPECT_FALSE(std::filesystem::exists(folder.File("out.png")));
}

// Both pictures are decoded at once; each one that fails is named with its own reason, A's first.
TEST_F(RenderCli, EveryUndecodablePictureIsNamedImageAFirst) {
    const std::string notPicture = "quarro-render: a.png: image A could not be decoded: its first bytes match no "
                                   "image format this program reads\n";
    const std::string empty = "quarro-render: b.png: image B could not be decoded: the file is empty\n";
    struct Case {
        bool badA, badB;
        std::string err;
    };
    const Case cases[] = {{true, false, notPicture}, {false, true, empty}, {true, true, notPicture + empty}};
    const std::string goodA = ReadWholeFile(folder.File("a.png")), goodB = ReadWholeFile(folder.File("b.png"));
    for (const Case& c : cases) {
        WriteWholeFile(folder.File("a.png"), c.badA ? "not a picture" : goodA);
        WriteWholeFile(folder.File("b.png"), c.badB ? "" : goodB);
        CliRun run = Render(folder, {"scene.mrf", "-o", "out.png"});
        EXPECT_EQ(1, run.status);
        EXPECT_EQ(c.err, run.err);
        EXPECT_FALSE(std::filesystem::exists(folder.File("out.png")));
    }
}

// A frame of several compression bands is the same file from every split of a sequence, and
// whatever the number of render threads, the file is the one its pixels alone make: encoded
// again here on 1, 2 or 5 threads, they give the renderer's bytes.
TEST_F(RenderCli, LargeFramesAreFixedByTheirPixelsWhateverTheThreads) {
    const std::string size = "1283x721";
    ASSERT_GT(PngBandCount(1283 * 3 + 1, 721), 2);
    std::filesystem::create_directory(folder.File("one"));
    std::filesystem::create_directory(folder.File("split"));
    CliRun run = Render(folder, {"scene.mrf", "-q", "-s", size, "-n", "3", "-o", "one/f%d.png"});
    ASSERT_EQ(0, run.status) << run.err;
    std::string command = "cd " + Quote(folder.path) + " && parallel --will-cite -j 2 " + Quote(QUARRO_RENDER_BINARY) +
                          " scene.mrf -q -s " + size + " -n 3 --frame-range {} -o split/f%d.png ::: 0:0 1:2 2>&1";
    ASSERT_EQ(0, std::system(command.c_str()));
    for (int k = 0; k < 3; ++k) {
        std::string name = "f" + std::to_string(k) + ".png";
        EXPECT_EQ(ReadWholeFile(folder.File("one/" + name)), ReadWholeFile(folder.File("split/" + name))) << name;
    }
    for (const char* threads : {"1", "3"}) {
        std::string name = std::string("j") + threads + ".png";
        run = Render(folder, {"scene.mrf", "-q", "-s", size, "-j", threads, "-o", name});
        ASSERT_EQ(0, run.status) << run.err;
        CPixelImage frame;
        ASSERT_EQ(0, ReadImageFile(folder.File(name), frame));
        const std::string file = ReadWholeFile(folder.File(name));
        for (int encoders : {1, 2, 5}) {
            std::vector<unsigned char> again;
            std::string reason;
            ASSERT_EQ(0, EncodePng(frame, kDefaultPngLevel, encoders, again, reason)) << reason;
            EXPECT_EQ(file, std::string(again.begin(), again.end())) << "-j " << threads << ", " << encoders;
        }
    }
}

TEST_F(RenderCli, FileNamesAreNamedWithTheirControlCharactersEscaped) {
    // A name that would clear the terminal and forge a line of its own.
    const std::string name = "\x1b[2J\nquarro-render: done.mrf";
    CliRun run = Render(folder, {name, "-o", "out.png"});
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("quarro-render: \\x1b[2J\\nquarro-render: done.mrf: no such morph document\n", run.err);
}

TEST_F(RenderCli, HostileImageEndsTheRunWithItsReasonWithinSeconds) {
    for (const HostileFile& file : MakeHostileFiles(folder.path)) {
        scene.imageA.fileName = file.path;
        ASSERT_EQ(0, WriteMorphFile(folder.File("hostile.mrf"), scene.settings));
        auto start = std::chrono::steady_clock::now();
        CliRun run = Render(folder, {"hostile.mrf", "-o", "out.png"});
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(1, run.status) << file.label;
        // The renderer opens its inputs itself before decoding and phrases a FIFO its own way.
        std::string expected = "quarro-render: " + file.path + ": image A " +
                               (file.label == "FIFO" ? "cannot be read: is a FIFO" : "could not be decoded: " + file.reason);
        EXPECT_EQ(run.err.compare(0, expected.size(), expected), 0) << file.label << ": " << run.err;
        EXPECT_LT(seconds, 10.0) << file.label;  // a guard against a hang, not a speed goal
    }
    EXPECT_FALSE(std::filesystem::exists(folder.File("out.png")));
}

// The output is checked before the document is even read: each case names the output with
// its reason, prints nothing on standard output and writes nothing.
TEST_F(RenderCli, UnwritableOutputFailsBeforeAnyWork) {
    std::filesystem::create_directory(folder.File("dir.png"));
    const std::string longName(300, 'n');
    const std::vector<std::vector<std::string>> cases = {
        {"out.unknownformat", "no image format is written for the extension .unknownformat (writable: "},
        {"palette.pal", ".pal is a colour palette, not an image"},
        {"no/folder/out.png", "the output folder no/folder does not exist"},
        {"dir.png", "dir.png is a folder, not a file name"},
        {longName + ".png", "the file name is 304 bytes long, more than the 255 the file system allows"},
        {"f_%d.png", "the file name is 256 bytes long"}};  // only the last of 11 frames' names is too long
    for (const auto& c : cases) {
        std::vector<std::string> args = {"absent.mrf", "-o", c[0]};
        if (c[0] == "f_%d.png") {
            args = {"absent.mrf", "-n", "11", "-o", longName.substr(0, 249) + "_%d.png"};
        }
        CliRun run = Render(folder, args);
        EXPECT_EQ(1, run.status) << c[0];
        EXPECT_EQ(0u, run.err.find("quarro-render: ")) << run.err;
        EXPECT_NE(std::string::npos, run.err.find(c[1])) << run.err;
        EXPECT_EQ(std::string::npos, run.err.find("absent.mrf")) << run.err;
        EXPECT_EQ("", run.out);
    }
    std::vector<std::string> entries = folder.Entries();
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ((std::vector<std::string>{"a.png", "b.png", "dir.png", "scene.mrf"}), entries);
}

TEST_F(RenderCli, PnmFrameIsBinaryPpm) {
    CliRun run = Render(folder, {"scene.mrf", "-q", "-o", "mid.pnm"});
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ(0u, ReadWholeFile(folder.File("mid.pnm")).find("P6\n"));
    EXPECT_EQ("", run.out);
}

TEST_F(RenderCli, FrameFilesEqualSingleFrameRendersWhateverTheWriter) {
    for (const char* pattern : {"p%d.png", "q%d.png", "t%d.tga", "w%d.webp", "z%d.tif"}) {
        std::vector<std::string> args = {"scene.mrf", "-q", "-n", "5", "-o", pattern};
        // The lossless writers' settings reach them: the pixels stay exact.
        if (pattern[0] == 'q') args.insert(args.end(), {"--png-level", "9"});
        if (pattern[0] == 'w') args.insert(args.end(), {"--lossless"});
        if (pattern[0] == 'z') args.insert(args.end(), {"--compression", "lzw"});
        CliRun run = Render(folder, args);
        ASSERT_EQ(0, run.status) << run.err;
        for (int k = 0; k < 5; ++k) {
            float t = static_cast<float>(k / 4.0);
            EXPECT_TRUE(FileHolds(folder.File(FramePath(pattern, k)), Expected(t, t))) << pattern << " " << k;
        }
    }
    // A frame of the sequence is the very file a single-frame run writes at its fraction.
    CliRun run = Render(folder, {"scene.mrf", "-q", "-t", "0.75", "-o", "single.png"});
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ(ReadWholeFile(folder.File("single.png")), ReadWholeFile(folder.File("p3.png")));
}

// A frame file that cannot be put in place (a folder has its name) stops the sequence with
// exit 1; the frames written before it are whole and nothing else is left.
TEST_F(RenderCli, FrameFailureHalfWayStopsTheRunLeavingOnlyWholeFrames) {
    std::filesystem::create_directory(folder.File("f3.png"));
    CliRun run = Render(folder, {"scene.mrf", "-q", "-n", "8", "-o", "f%d.png"});
    EXPECT_EQ(1, run.status);
    EXPECT_EQ(0u, run.err.find("quarro-render: f3.png: ")) << run.err;
    EXPECT_EQ(std::string::npos, run.err.find('\n', run.err.find('\n') + 1)) << "one line: " << run.err;
    std::filesystem::remove(folder.File("f3.png"));
    std::vector<std::string> expected = {"a.png", "b.png", "scene.mrf"};
    for (int k = 0; k < 8; ++k) {
        std::string name = "f" + std::to_string(k) + ".png";
        if (!std::filesystem::exists(folder.File(name))) continue;
        expected.push_back(name);
        float t = static_cast<float>(k / 7.0);
        EXPECT_TRUE(FileHolds(folder.File(name), Expected(t, t))) << name;
    }
    EXPECT_GE(expected.size(), 6u);  // frames 0 to 2 were done before frame 3 failed
    std::vector<std::string> entries = folder.Entries();
    std::sort(entries.begin(), entries.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, entries);
}

// Workers of GNU parallel that each render a --frame-range write exactly the files of one run.
TEST_F(RenderCli, SequenceSplitOverParallelWorkersEqualsOneRun) {
    std::filesystem::create_directory(folder.File("one"));
    std::filesystem::create_directory(folder.File("split"));
    CliRun run = Render(folder, {"scene.mrf", "-q", "-n", "7", "-o", "one/f%02d.png"});
    ASSERT_EQ(0, run.status) << run.err;
    std::string command = "cd " + Quote(folder.path) + " && parallel --will-cite -j 3 " + Quote(QUARRO_RENDER_BINARY) +
                          " scene.mrf -q -n 7 --frame-range {} -o split/f%02d.png ::: 0:1 2:4 5:6 2>&1";
    ASSERT_EQ(0, std::system(command.c_str()));
    std::vector<std::string> one, split;
    for (const auto& entry : std::filesystem::directory_iterator(folder.File("one"))) one.push_back(entry.path().filename());
    for (const auto& entry : std::filesystem::directory_iterator(folder.File("split"))) split.push_back(entry.path().filename());
    std::sort(one.begin(), one.end());
    std::sort(split.begin(), split.end());
    ASSERT_EQ(7u, one.size());
    ASSERT_EQ(one, split);
    for (const auto& name : one) {
        EXPECT_EQ(ReadWholeFile(folder.File("one/" + name)), ReadWholeFile(folder.File("split/" + name))) << name;
    }
}

// The demo in examples/ renders from the repository root, and is what the generator writes.
TEST(Examples, DemoRendersFromTheRepositoryRootAndMatchesItsGenerator) {
    TempFolder folder;
    CliRun run = Render(folder, {"examples/demo.mrf", "-q", "-o", folder.File("mid.png")}, QUARRO_SOURCE_DIR);
    ASSERT_EQ(0, run.status) << run.err;
    CPixelImage mid;
    EXPECT_EQ(0, ReadImageFile(folder.File("mid.png"), mid));
    EXPECT_EQ(319, mid.width);

    std::string command = Quote(QUARRO_MAKE_DEMO_BINARY) + " " + Quote(folder.path);
    ASSERT_EQ(0, std::system(command.c_str()));
    const std::string examples = std::string(QUARRO_SOURCE_DIR) + "/examples/";
    EXPECT_EQ(ReadWholeFile(examples + "demo.mrf"), ReadWholeFile(folder.File("demo.mrf")));
    for (const char* name : {"demo_a.png", "demo_b.png"}) {
        CPixelImage committed, generated;
        ASSERT_EQ(0, ReadImageFile(examples + name, committed));
        ASSERT_EQ(0, ReadImageFile(folder.File(name), generated));
        EXPECT_EQ(committed.width, generated.width);
        EXPECT_TRUE(std::equal(committed.pixels, committed.pixels + committed.ByteCount(), generated.pixels)) << name;
    }
}

}  // namespace

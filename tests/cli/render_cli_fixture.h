// The set-up of the renderer's end-to-end tests: a shell runner that captures both streams,
// and a small scene on disk with the frames the window would render from it.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "document/mrf_file.h"
#include "image/image_file.h"
#include "morph/fast_sqrt.h"
#include "morph/image_morpher.h"
#include "morph/morph_scene.h"
#include "support/random_scene.h"
#include "support/temp_folder.h"


struct CliRun {
    int status = -1;
    std::string out, err;
};

inline std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs the shell command `command` from the folder `cwd`, capturing both streams; the status
// is the shell's exit status.
inline CliRun RunShell(const TempFolder& folder, const std::string& command, const std::string& cwd = "") {
    std::string line = "cd " + Quote(cwd.empty() ? folder.path : cwd) + " && { " + command + "; }";
    line += " >" + Quote(folder.path + "/.stdout") + " 2>" + Quote(folder.path + "/.stderr");
    CliRun run;
    int raw = std::system(line.c_str());
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = ReadWholeFile(folder.path + "/.stdout");
    run.err = ReadWholeFile(folder.path + "/.stderr");
    std::remove((folder.path + "/.stdout").c_str());
    std::remove((folder.path + "/.stderr").c_str());
    return run;
}

// The renderer's command line with `args`, each quoted for the shell.
inline std::string RenderCommand(const std::vector<std::string>& args) {
    std::string command = Quote(QUARRO_RENDER_BINARY);
    for (const auto& arg : args) command += " " + Quote(arg);
    return command;
}

// Runs the renderer with `args` from the folder `cwd`, capturing both streams.
inline CliRun Render(const TempFolder& folder, const std::vector<std::string>& args, const std::string& cwd = "") {
    return RunShell(folder, RenderCommand(args), cwd);
}

// Two odd-sized pictures with a gradient and a block, and a document with three pairs that
// names them relative to its own folder.
class RenderCli : public testing::Test {
protected:
    static void SetUpTestSuite() { InitFastSqrt(); }

    void SetUp() override {
        Paint(scene.imageA, 41, 31, 0);
        Paint(scene.imageB, 37, 29, 1);
        scene.segmentsA = {LineSegment(Point(0.2f, 0.3f), Point(0.4f, 0.8f)), LineSegment(Point(0.6f, 0.2f), Point(0.9f, 0.3f)),
                           LineSegment(Point(0.1f, 0.9f), Point(0.8f, 0.85f))};
        scene.segmentsB = {LineSegment(Point(0.3f, 0.25f), Point(0.5f, 0.7f)), LineSegment(Point(0.55f, 0.3f), Point(0.95f, 0.2f)),
                           LineSegment(Point(0.15f, 0.8f), Point(0.7f, 0.9f))};
        ASSERT_EQ(0, WriteSceneFiles(scene, folder.path, "scene.mrf"));
    }

    static void Paint(CPixelImage& image, int w, int h, int seed) {
        image.Allocate(w, h, 4);
        for (int r = 0; r < h; ++r) {
            for (int c = 0; c < w; ++c) {
                unsigned char* p = image.pixels + (r * w + c) * 4;
                bool block = c > w / 3 + seed * 5 && c < w / 2 + seed * 5 && r > h / 4 && r < h / 2;
                p[0] = static_cast<unsigned char>(c * 6);
                p[1] = static_cast<unsigned char>(r * 8);
                p[2] = block ? 255 : static_cast<unsigned char>(seed * 120);
                p[3] = 255;
            }
        }
    }

    // The frame the window renders: both fractions from the slider narrowed to float, the
    // constants 0.01, 2.0, 0.2, the document's lists, 4 threads.
    CPixelImage Expected(float warp, float dissolve, int w = 41, int h = 31, int threads = 4) {
        MorphScene window = scene;
        MorphSettings& s = window.settings;
        s.warpFrac = warp;
        s.dissoveFrac = dissolve;
        s.a = 0.01f;
        s.b = 2.0f;
        s.p = 0.2f;
        s.outputWidth = static_cast<uint32_t>(w);
        s.outputHeight = static_cast<uint32_t>(h);
        CImageMorpher engine;
        engine.SetThreadCount(static_cast<uint32_t>(threads));
        EXPECT_EQ(0, engine.StartMorph(s));
        engine.WaitUntilIdle();
        return window.output;
    }

    ::testing::AssertionResult FileHolds(const std::string& path, const CPixelImage& expected) {
        CPixelImage loaded;
        if (ReadImageFile(path, loaded) != 0) return ::testing::AssertionFailure() << path << " unreadable";
        if (loaded.width != expected.width || loaded.height != expected.height) {
            return ::testing::AssertionFailure() << path << " is " << loaded.width << "x" << loaded.height;
        }
        if (!std::equal(loaded.pixels, loaded.pixels + loaded.ByteCount(), expected.pixels)) {
            return ::testing::AssertionFailure() << path << " differs from the window's frame";
        }
        return ::testing::AssertionSuccess();
    }

    TempFolder folder;
    MorphScene scene;
};

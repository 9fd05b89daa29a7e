// An 8000 x 8000 PNG frame interrupted by SIGINT or SIGKILL at several moments (rendering,
// encoding, writing): the earlier file stays, or the complete new frame replaces it, and no
// other file is left beside it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "document/mrf_file.h"
#include "image/image_file.h"
#include "support/child_process.h"
#include "support/random_scene.h"
#include "support/temp_folder.h"

namespace {

const char kEarlier[] = "the earlier file";

// True once the process holds a descriptor of a file in `folder` (the frame being written).
bool WritesInto(pid_t pid, const std::string& folder) {
    std::error_code error;
    std::string descriptors = "/proc/" + std::to_string(pid) + "/fd";
    for (const auto& entry : std::filesystem::directory_iterator(descriptors, error)) {
        std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        if (!error && target.compare(0, folder.size() + 1, folder + "/") == 0) return true;
    }
    return false;
}

TEST(RenderInterrupted, EightThousandSquarePngLeavesTheEarlierFileOrTheWholeFrame) {
    TempFolder inputs, logs, reference;
    MorphScene scene;
    CPixelImage& a = scene.imageA;
    CPixelImage& b = scene.imageB;
    a.Allocate(319, 239, 4);
    b.Allocate(283, 211, 4);
    for (size_t i = 0; i < a.ByteCount(); ++i) a.pixels[i] = static_cast<unsigned char>(i * 7 + i / 1913);
    for (size_t i = 0; i < b.ByteCount(); ++i) b.pixels[i] = static_cast<unsigned char>(i * 13 + i / 877);
    scene.AddPair(LineSegment(Point(0.2f, 0.3f), Point(0.7f, 0.8f)), LineSegment(Point(0.3f, 0.2f), Point(0.6f, 0.9f)));
    ASSERT_EQ(0, WriteSceneFiles(scene, inputs.path, "scene.mrf"));
    const std::string outFolder = inputs.File("out");
    std::filesystem::create_directory(outFolder);
    auto args = [&](const std::string& output) {
        return std::vector<std::string>{QUARRO_RENDER_BINARY, "scene.mrf", "-q", "-s", "8000x8000", "-o", output};
    };

    // The whole run once, for its length and the frame it writes.
    ChildProcess whole(args(reference.File("big.png")), inputs.path, logs.path);
    ChildResult full = whole.Wait();
    ASSERT_TRUE(full.exited && full.status == 0) << full.err;
    const std::string frame = ReadWholeFile(reference.File("big.png"));

    struct Interruption {
        int signal;
        bool named;     // named temporary files, which only the signal handler can remove
        double moment;  // a fraction of the whole run's time; -1: once the frame is being written
    };
    const Interruption interruptions[] = {{SIGINT, false, 0.2},  {SIGINT, false, 0.7},  {SIGINT, false, -1},
                                          {SIGINT, true, -1},    {SIGKILL, false, 0.2}, {SIGKILL, false, 0.7},
                                          {SIGKILL, false, -1}};
    int caughtWriting = 0, writes = 0;
    for (const Interruption& mode : interruptions) {
        std::string what = std::string(strsignal(mode.signal)) + (mode.named ? " (named)" : "") + " at " +
                           (mode.moment < 0 ? "the write" : std::to_string(mode.moment));
        WriteWholeFile(outFolder + "/big.png", kEarlier);
        ChildSetup setup;
        if (mode.named) setup.environment = {"QUARRO_NAMED_TEMP_FILES=1"};
        ChildProcess child(args(outFolder + "/big.png"), inputs.path, logs.path, setup);
        if (mode.moment >= 0) {
            std::this_thread::sleep_for(std::chrono::duration<double>(mode.moment * full.seconds));
        } else {
            ++writes;
            while (!child.HasEnded() && !WritesInto(child.pid, outFolder)) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            if (!child.HasEnded()) ++caughtWriting;
        }
        child.Signal(mode.signal);
        ChildResult run = child.Wait();
        EXPECT_FALSE(run.timedOut) << what;
        EXPECT_TRUE(run.signal == mode.signal || (run.exited && run.status == 0)) << what << ": " << run.err;
        std::vector<std::string> entries;
        for (const auto& entry : std::filesystem::directory_iterator(outFolder)) {
            entries.push_back(entry.path().filename());
        }
        EXPECT_EQ(std::vector<std::string>{"big.png"}, entries) << what;
        std::string now = ReadWholeFile(outFolder + "/big.png");
        EXPECT_TRUE(now == kEarlier || (run.exited && now == frame)) << what << ": " << now.size() << " bytes";
    }
    std::printf("signals sent while the frame was being written: %d of %d\n", caughtWriting, writes);
}

}  // namespace

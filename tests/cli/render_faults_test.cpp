// quarro-render under faults, as a separate process: inputs that are FIFOs, a disk that fills
// up, a file-size limit, and signals in the middle of a save. Whatever happens, each output
// file is either the earlier file or a complete new one, and nothing else is left beside it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "document/mrf_file.h"
#include "image/image_file.h"
#include "support/child_process.h"
#include "support/ordinary_user.h"
#include "support/random_scene.h"
#include "support/small_disk.h"
#include "support/temp_folder.h"

namespace {

const char kEarlier[] = "the earlier file";

// Noise pictures, so that their frames do not compress below the limits used here.
void PaintNoise(CPixelImage& image, int w, int h, unsigned seed) {
    image.Allocate(w, h, 4);
    std::mt19937 random(seed);
    for (size_t i = 0; i < image.ByteCount(); ++i) image.pixels[i] = static_cast<unsigned char>(random());
    for (size_t i = 3; i < image.ByteCount(); i += 4) image.pixels[i] = 255;
}

class RenderFaults : public testing::Test {
protected:
    void SetUp() override {
        MorphScene scene;
        PaintNoise(scene.imageA, 211, 157, 1);
        PaintNoise(scene.imageB, 199, 151, 2);
        scene.AddPair(LineSegment(Point(0.2f, 0.3f), Point(0.7f, 0.8f)), LineSegment(Point(0.3f, 0.2f), Point(0.6f, 0.9f)));
        ASSERT_EQ(0, WriteSceneFiles(scene, inputs.path, "scene.mrf"));
    }

    ChildResult Render(const std::vector<std::string>& args, const ChildSetup& setup = ChildSetup()) {
        std::vector<std::string> all{QUARRO_RENDER_BINARY};
        all.insert(all.end(), args.begin(), args.end());
        ChildProcess child(all, inputs.path, logs.path, setup);
        return child.Wait();
    }

    // Every file in `folder` is one of `names`, each either the earlier content or a complete
    // frame of the given size; returns how many kept the earlier content.
    static int CheckOutputs(const std::string& folder, const std::vector<std::string>& names, int w, int h) {
        std::vector<std::string> entries;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) entries.push_back(entry.path().filename());
        std::sort(entries.begin(), entries.end());
        EXPECT_EQ(names, entries) << folder;
        int earlier = 0;
        for (const std::string& name : names) {
            std::string path = folder + "/" + name;
            if (ReadWholeFile(path) == kEarlier) {
                ++earlier;
                continue;
            }
            CPixelImage frame;
            std::string reason;
            EXPECT_EQ(0, ReadImageFile(path, frame, reason)) << name << " is neither the earlier file nor a frame: "
                                                             << reason;
            EXPECT_EQ(w, frame.width) << name;
            EXPECT_EQ(h, frame.height) << name;
        }
        return earlier;
    }

    TempFolder inputs, logs;
};

TEST_F(RenderFaults, FifoDocumentOrImageIsRefusedAtOnce) {
    ASSERT_EQ(0, mkfifo(inputs.File("pipe.mrf").c_str(), 0600));
    ChildResult run = Render({"pipe.mrf", "-q", "-o", "out.png"});
    EXPECT_TRUE(run.exited && run.status == 1) << run.err;
    EXPECT_LT(run.seconds, 1.0);
    EXPECT_EQ("quarro-render: pipe.mrf: not a readable morph document: is a FIFO, not a regular file\n", run.err);

    std::filesystem::remove(inputs.File("b.png"));
    ASSERT_EQ(0, mkfifo(inputs.File("b.png").c_str(), 0600));
    run = Render({"scene.mrf", "-q", "-o", "out.png"});
    EXPECT_TRUE(run.exited && run.status == 1) << run.err;
    EXPECT_LT(run.seconds, 1.0);
    EXPECT_EQ("quarro-render: b.png: image B cannot be read: is a FIFO, not a regular file\n", run.err);
    EXPECT_FALSE(std::filesystem::exists(inputs.File("out.png")));
}

// As an ordinary user, an output file that may not be written stops the run before anything is
// read or rendered: exit 1 with the system's reason, the file unchanged, no frame written.
TEST_F(RenderFaults, ReadOnlyOutputsAreRefusedBeforeAnyWork) {
    std::string whyNot;
    uid_t uid;
    gid_t gid;
    if (!OrdinaryUserIds(uid, gid, whyNot)) GTEST_SKIP() << whyNot;
    TempFolder outputs;
    ASSERT_TRUE(GiveToUser(inputs.path) && GiveToUser(outputs.path));
    struct Case {
        std::string output, readOnly;
        std::vector<std::string> extra;
    } cases[] = {
        {"ro.png", "ro.png", {}},
        {"ro.bmp", "ro.bmp", {}},
        {"f%d.png", "f1.png", {"-n", "3"}},  // the middle frame of a sequence
    };
    ChildSetup setup;
    setup.ordinaryUser = true;
    for (const Case& c : cases) {
        const std::string readOnly = outputs.File(c.readOnly);
        WriteWholeFile(readOnly, kEarlier);
        ASSERT_EQ(0, chown(readOnly.c_str(), uid, gid));
        ASSERT_EQ(0, chmod(readOnly.c_str(), 0444));
        std::vector<std::string> args{"scene.mrf", "-q", "-o", outputs.File(c.output)};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        ChildResult run = Render(args, setup);
        if (run.exited && run.status == 127) GTEST_SKIP() << "the renderer's folder is not open to the ordinary user";
        EXPECT_TRUE(run.exited && run.status == 1) << c.output << ": " << run.err;
        EXPECT_EQ("quarro-render: " + readOnly + ": the file may not be written: Permission denied\n", run.err);
        EXPECT_EQ(ReadWholeFile(readOnly), kEarlier) << c.output;
        EXPECT_EQ(outputs.Entries(), std::vector<std::string>{c.readOnly}) << c.output;
        std::filesystem::remove(readOnly);
    }
}

// One frame and a sequence, through the fast PNG writer and through the image library, on a
// full disk and past a file-size limit whose signal is ignored: exit 1 with the reason, and
// every output is its earlier file or a whole frame.
TEST_F(RenderFaults, FramesThatDoNotFitFailAndKeepTheEarlierFiles) {
    SmallDisk disk("256k");
    const bool root = disk.Available();
    struct Case {
        const char* name;
        std::vector<std::string> outputs;  // earlier files with these names are there first
        std::string output;                // the -o argument, in the folder under test
        std::vector<std::string> extra;
        int width, height;
    };
    const std::vector<std::string> pngs{"f0.png", "f1.png", "f2.png", "f3.png", "f4.png"};
    const std::vector<std::string> tgas{"f0.tga", "f1.tga", "f2.tga", "f3.tga", "f4.tga"};
    const Case cases[] = {{"one PNG frame", {"out.png"}, "out.png", {"-s", "601x457"}, 601, 457},
                          {"one BMP frame", {"out.bmp"}, "out.bmp", {"-s", "401x301"}, 401, 301},
                          {"PNG sequence", pngs, "f%d.png", {"-n", "5"}, 211, 157},
                          {"TGA sequence", tgas, "f%d.tga", {"-n", "5"}, 211, 157}};
    for (const Case& c : cases) {
        for (bool fullDisk : {false, true}) {
            if (fullDisk && !root) continue;
            TempFolder limited;
            std::string folder = fullDisk ? disk.path : limited.path;
            for (const std::string& name : c.outputs) WriteWholeFile(folder + "/" + name, kEarlier);
            ChildSetup setup;
            if (!fullDisk) {
                setup.fileSizeLimit = 64 * 1024;
                setup.ignoreFileSizeSignal = true;
            }
            std::vector<std::string> args{"scene.mrf", "-q", "-o", folder + "/" + c.output};
            args.insert(args.end(), c.extra.begin(), c.extra.end());
            ChildResult run = Render(args, setup);
            std::string what = std::string(c.name) + (fullDisk ? " on a full disk" : " past the size limit");
            EXPECT_TRUE(run.exited && run.status == 1) << what << ": " << run.err;
            EXPECT_NE(std::string::npos, run.err.find(fullDisk ? "No space left on device" : "File too large"))
                << what << ": " << run.err;
            EXPECT_GE(CheckOutputs(folder, c.outputs, c.width, c.height), 1) << what;
            for (const std::string& name : c.outputs) std::filesystem::remove(folder + "/" + name);
        }
    }
    if (!root) GTEST_SKIP() << "the file-size cases ran; " << disk.whyNot;
}

}  // namespace

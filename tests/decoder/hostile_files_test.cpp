// Reading hostile pictures through ReadImageFile: every one is refused with its reason, the
// target keeps its picture, and a misbehaving helper is a refusal with a reason of its own.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "image/decode_client.h"
#include "image/image_file.h"
#include "support/temp_folder.h"
#include "support/hostile_files.h"

namespace {

// A 5 x 4 picture the failed reads must leave as it is.
CPixelImage Keeper() {
    CPixelImage image;
    image.Allocate(5, 4, 4);
    for (size_t i = 0; i < image.ByteCount(); ++i) image.pixels[i] = static_cast<unsigned char>(i * 7);
    return image;
}

testing::AssertionResult RefusedAndUntouched(const std::string& path, const std::string& expected) {
    CPixelImage image = Keeper(), before = Keeper();
    std::string reason;
    if (ReadImageFile(path, image, reason) != -1) return testing::AssertionFailure() << "read succeeded";
    if (reason.empty() || reason.find(expected) == std::string::npos) {
        return testing::AssertionFailure() << "reason \"" << reason << "\" lacks \"" << expected << "\"";
    }
    bool same = image.width == 5 && image.height == 4 && std::equal(image.pixels, image.pixels + 80, before.pixels);
    if (!same) return testing::AssertionFailure() << "the target changed";
    return testing::AssertionSuccess() << reason;
}

// Restores the real helper and the usual time limit after a test that swapped them.
class FakeHelper : public testing::Test {
protected:
    void SetUp() override { SetImageDecoderPath(QUARRO_FAKE_DECODER); }
    void TearDown() override {
        SetImageDecoderPath("");
        SetImageDecodeTimeLimit(0);
    }
    std::string Named(const std::string& mode) {
        std::string path = folder.File(mode + ".png");
        // A small PNG header, so that the file passes the checks made before the helper starts.
        WriteWholeFile(path, std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x03\0\0\0\x02\x08\x06", 26) +
                                 std::string(40, '\0'));
        return path;
    }
    TempFolder folder;
};

}  // namespace

TEST(HostileFiles, EachIsRefusedWithItsReason) {
    TempFolder folder;
    for (const HostileFile& file : MakeHostileFiles(folder.path)) {
        EXPECT_TRUE(RefusedAndUntouched(file.path, file.reason)) << file.label;
    }
}

// Files the fuzzer found to crash, hang or exhaust memory inside the image library or the extra
// decoders. Some are caught by the format table's checks before any decoder sees them, with these reasons.
TEST(HostileFiles, FuzzFindingsAreRefused) {
    const std::map<std::string, std::string> kReasons = {
        {"ico-png-crash-38f93c19", "the ICO file's image 1 lies beyond the file's end"},
        {"ico-png-crash-73bdc6e2", "the ICO file's image 1 has a damaged header"},
        {"jpeg-jpg-timeout-3f317471", "the JPEG file ends before the picture's size"},
        {"png-png-timeout-1c455ce7", "the PNG file is cut short: its cHRM chunk claims 1728053280 bytes"},
        {"tga-bmp-oom-dba76c34", "the TGA header claims 20992 x 10332 pixels, which take at least 8472258 bytes"},
        {"gif-gif-crash-5a74c1be", "the GIF header claims 3328 x 62260 pixels, which take at least 75884 bytes"},
        // The image library took 64762 for -774 and set aside nearly 4 GiB.
        {"pic-pic-oom-00703f22", "the PIC header claims 7 x 64762 pixels, which take at least 129632 bytes; the file holds 249"},
        // Eight packets of unknown kinds: the image library overran its heap (signal 6 in the helper).
        {"pic-pic-crash-6a8d9979", "the PIC file's channel packet 1 is not one this program reads"},
        // A run of 200 pixels in a row of 193: the image library wrote it whole, past its buffer.
        {"pic-pic-crash-7102e218", "the PIC file's row 1 holds a run past its end"},
        // 168 bytes accepted as a picture of 15677 x 15677 pixels, a gigabyte of made-up rows.
        {"pic-pic-oom-3dd6a819", "the PIC header claims 15677 x 15677 pixels, which take at least 31462 bytes; the file holds 168"},
        // The image library set aside 2.5 GB for the palette before finding the file too short.
        {"bmp-palette-beyond-the-file", "the BMP header claims a palette of 1711315200 colours, more than the file holds"},
        // Refused by libheif's own limit: the helper loaded it before its filter.
        {"heic-overlay-canvas-beyond-its-picture.heic", "canvas is far larger than its picture claims"},
    };
    SetImageDecodeTimeLimit(3.0);
    int files = 0;
    for (const char* kept : {"hostile", "extra_findings"}) {
        std::string corpus = std::string(QUARRO_SOURCE_DIR) + "/tests/decoder/" + kept;
        DIR* folder = opendir(corpus.c_str());
        ASSERT_NE(folder, nullptr) << corpus;
        while (dirent* entry = readdir(folder)) {
            if (entry->d_name[0] == '.') continue;
            ++files;
            auto known = kReasons.find(entry->d_name);
            std::string reason = known != kReasons.end() ? known->second : "";
            EXPECT_TRUE(RefusedAndUntouched(corpus + "/" + entry->d_name, reason)) << entry->d_name;
        }
        closedir(folder);
    }
    SetImageDecodeTimeLimit(0);
    EXPECT_GT(files, 0);
}

// A host as a library meets it: SIGCHLD ignored (so that the kernel would reap a child of the
// usual kind at once), signals blocked, a descriptor left inheritable. None of it reaches the
// helper, and the host's own waits never see the helper.
class CarelessHost {
public:
    CarelessHost() {
        previousChild = signal(SIGCHLD, SIG_IGN);
        sigset_t user;
        sigemptyset(&user);
        sigaddset(&user, SIGUSR1);
        pthread_sigmask(SIG_BLOCK, &user, &previousMask);
        leaked = open("/dev/null", O_RDONLY);
    }
    ~CarelessHost() {
        close(leaked);
        pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
        signal(SIGCHLD, previousChild);
    }

private:
    sighandler_t previousChild;
    sigset_t previousMask;
    int leaked;
};

TEST_F(FakeHelper, EachFaultOfTheHelperHasItsOwnReasonInAnyHost) {
    SetImageDecodeTimeLimit(1.0);
    struct Case { const char* mode; const char* reason; } cases[] = {
        {"crash", "the decoder crashed (signal 11, Segmentation fault)"},
        {"spin", "the decoder took longer than 1 s and was stopped"},
        {"hog", "the decoder ran out of its 512 MiB of memory"},
        {"short", "the decoder's reply was cut short of the pixels it promised"},
        {"long", "the decoder's reply was longer than the pixels it promised"},
        {"huge", "the decoder's reply claims 70000 x 70000 pixels, more than this program reads"},
        {"stranger", "the decoder's reply is not one this program understands"},
        {"refuse", "the picture is?odd"},
        {"windy", "the decoder's reply was longer than it may be"},
        {"failed", "the decoder failed (exit status 9)"},
        {"unshared", "the decoder's reply claims 1 x 6 pixels, not the 3 x 2 set aside for them"},
        {"oversized", "the decoder's reply claims 4 x 4 pixels, more than the 3 x 2 its header claims"},
        // The pixels' memory must take the write seal once the helper has ended, and no seal of its own.
        {"lingering", "the decoder's pixel memory could not be sealed against changes"},
        {"selfsealed", "the decoder's pixel memory could not be sealed against changes"},
        // 0 to 3, the file and the pixels' memory file handed over.
        {"surroundings", "environment 0, blocked 0, ignored 0, descriptors 6"},
#if !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
        // Seen by the supervisor's pidfd, not at the deadline (sanitizer builds make no pidfd).
        {"vanish", "the decoder crashed (signal 9, Killed)"},
#endif
    };
    for (bool careless : {false, true}) {
        std::unique_ptr<CarelessHost> host(careless ? new CarelessHost : nullptr);
        for (const Case& c : cases) {
            EXPECT_TRUE(RefusedAndUntouched(Named(c.mode), c.reason)) << c.mode << (careless ? " (careless host)" : "");
        }
        // Whatever helpers still run, the host has no child to wait for.
        errno = 0;
        EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
        EXPECT_EQ(errno, ECHILD);
    }
}

TEST_F(FakeHelper, AWholeReplyReplacesTheTargetAndAMissingHelperIsNamed) {
    CPixelImage image = Keeper();
    std::string reason;
    ASSERT_EQ(ReadImageFile(Named("good"), image, reason), 0) << reason;
    EXPECT_EQ(image.width, 3);
    EXPECT_EQ(image.height, 2);
    EXPECT_EQ(image.bytesPerPixel, 4);
    EXPECT_EQ(image.pixels[23], 200);

    // Fewer pixels than the header claims may come on the socket (a cropped picture).
    ASSERT_EQ(ReadImageFile(Named("cropped"), image, reason), 0) << reason;
    EXPECT_EQ(image.width, 2);
    EXPECT_EQ(image.height, 2);

    // Pixels through the memory file, which the helper cannot cut short: it is sealed.
    for (const char* mode : {"shared", "shrink"}) {
        image = Keeper();
        ASSERT_EQ(ReadImageFile(Named(mode), image, reason), 0) << mode << ": " << reason;
        EXPECT_EQ(image.width, 3) << mode;
        EXPECT_EQ(image.pixels[23], 200) << mode;
    }

    SetImageDecoderPath(folder.File("absent-decoder"));
    EXPECT_TRUE(RefusedAndUntouched(Named("good"), "the decoder program " + folder.File("absent-decoder") +
                                                      " was not found"));
}

// Helpers that have ended, reaped here as the subreaper they were orphaned to, waiting up to a
// minute for `expected` of them; then whether any other is still alive (a spare nobody uses).
struct Reaped {
    int count = 0;
    bool othersAlive = false;
};
Reaped ReapHelpers(int expected) {
    Reaped reaped;
    for (int tries = 0; reaped.count < expected && tries < 6000; ++tries) {
        pid_t pid = waitpid(-1, nullptr, WNOHANG | __WALL);
        if (pid > 0) {
            ++reaped.count;
        } else {
            usleep(10000);
        }
    }
    // Then whatever else ends, until a whole second passes without an exit: an unexpected
    // helper has time to start and end, and a slow one (a sanitizer build checks its memory at
    // exit) is counted here rather than in the next look.
    for (int quiet = 0; quiet < 100;) {
        pid_t pid = waitpid(-1, nullptr, WNOHANG | __WALL);
        if (pid > 0) {
            ++reaped.count;
            quiet = 0;
        } else if (pid < 0) {
            break;  // no child left
        } else {
            usleep(10000);
            ++quiet;
        }
    }
    errno = 0;
    reaped.othersAlive = waitpid(-1, nullptr, WNOHANG | __WALL) == 0;
    return reaped;
}

// A batch hands each picture to a helper of its own and starts no spare; each picture keeps its
// own reason. Only a host that asks for one keeps a spare, and its spare is what the next read uses.
TEST_F(FakeHelper, ABatchStartsOneHelperAPictureAndOnlyAskedForSparesWait) {
    ASSERT_EQ(0, prctl(PR_SET_CHILD_SUBREAPER, 1));
    struct Case {
        std::vector<const char*> modes;
        std::vector<const char*> reasons;  // "" for a picture read
    };
    const Case cases[] = {
        {{"good", "good"}, {"", ""}},
        {{"good", "refuse"}, {"", "the picture is?odd"}},
        {{"crash", "failed"}, {"the decoder crashed", "the decoder failed (exit status 9)"}},
        {{"good"}, {""}},
    };
    for (const Case& c : cases) {
        std::vector<ImageFileRead> reads(c.modes.size());
        for (size_t i = 0; i < reads.size(); ++i) reads[i].path = Named(c.modes[i]);
        int failures = DecodeImageFiles(reads);
        int expectedFailures = 0;
        for (size_t i = 0; i < reads.size(); ++i) {
            std::string reason = c.reasons[i];
            expectedFailures += !reason.empty();
            EXPECT_EQ(reason.empty() ? 0 : -1, reads[i].result) << c.modes[i];
            if (reason.empty()) {
                EXPECT_EQ(3, reads[i].image.width) << c.modes[i];
            } else {
                EXPECT_NE(std::string::npos, reads[i].reason.find(reason)) << reads[i].reason;
            }
        }
        EXPECT_EQ(expectedFailures, failures);
        Reaped reaped = ReapHelpers(static_cast<int>(reads.size()));
        EXPECT_EQ(static_cast<int>(reads.size()), reaped.count) << c.modes[0];
        EXPECT_FALSE(reaped.othersAlive) << c.modes[0];
    }

    KeepImageDecoderSpare(true);
    CPixelImage image;
    std::string reason;
    for (int read = 0; read < 3; ++read) ASSERT_EQ(0, ReadImageFile(Named("good"), image, reason)) << reason;
    Reaped reaped = ReapHelpers(3);
    EXPECT_EQ(3, reaped.count);
    EXPECT_TRUE(reaped.othersAlive);  // the spare for a fourth picture
    KeepImageDecoderSpare(false);
    reaped = ReapHelpers(1);
    // The spare stops, and nothing lives on. A spare stopped before it was asked anything may
    // end after its own helper process, which this host then reaps too, so the count may be 2.
    EXPECT_LE(1, reaped.count);
    EXPECT_GE(2, reaped.count);
    EXPECT_FALSE(reaped.othersAlive);

    // Threads reading at once start spares side by side; one that is not kept, as another
    // thread's came first, stops, and the last stops when spares are no longer kept.
    KeepImageDecoderSpare(true);
    const std::string good = Named("good");
    std::vector<std::string> failures(2);
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&failures, &good, t] {
            for (int read = 0; read < 4; ++read) {
                CPixelImage picture;
                std::string why;
                if (ReadImageFile(good, picture, why) != 0) failures[t] = why;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ("", failures[0]);
    EXPECT_EQ("", failures[1]);
    KeepImageDecoderSpare(false);
    reaped = ReapHelpers(9);
    EXPECT_LE(9, reaped.count);  // a helper a picture, and at least the spare stopped last
    EXPECT_FALSE(reaped.othersAlive);
}

// A helper's life follows processes, not the ends of its sockets: children that the host forks
// at any moment hold copies of those sockets, yet no read waits for them, and when the host
// ends its helpers end with it, even while such a child lives on.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "image/decode_client.h"
#include "image/image_file.h"
#include "support/png_codec.h"
#include "support/temp_folder.h"

namespace {

// A child that only sleeps, holding copies of every descriptor the host had when it forked.
pid_t ForkSleeper(int seconds) {
    pid_t child = fork();
    if (child == 0) {
        struct timespec rest = {seconds, 0};
        nanosleep(&rest, nullptr);
        _exit(0);
    }
    return child;
}

// This process's children, from /proc.
std::vector<pid_t> Children() {
    std::vector<pid_t> children;
    std::ifstream list("/proc/self/task/" + std::to_string(getpid()) + "/children");
    for (pid_t child; list >> child;) children.push_back(child);
    return children;
}

std::string SmallPicture(const TempFolder& folder) {
    std::string path = folder.File("a.png");
    EncodePng(path, 3, 2, 2, std::vector<unsigned char>(18, 0x40));
    return path;
}

}  // namespace

// A thread forks children that live on (20 s each) every 25 ms while another reads: a child
// forked while a helper starts keeps that helper's socket ends, and a read that waited for
// their end would take until the child or the deadline ended.
TEST(HelperLifetime, AThreadForkingChildrenNeverStallsAnotherThreadsReads) {
    TempFolder folder;
    std::string picture = SmallPicture(folder);
    SetImageDecodeTimeLimit(20.0);
    std::atomic<bool> stop(false);
    std::mutex mutex;
    std::vector<pid_t> sleepers;
    std::thread forker([&] {
        while (!stop) {
            pid_t child = ForkSleeper(20);
            if (child > 0) {
                std::lock_guard<std::mutex> lock(mutex);
                sleepers.push_back(child);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
    });
    double slowest = 0;
    for (int read = 0; read < 60; ++read) {
        CPixelImage image;
        std::string reason;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(ReadImageFile(picture, image, reason), 0) << reason;
        slowest = std::max(slowest, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    stop = true;
    forker.join();
    for (pid_t child : sleepers) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    SetImageDecodeTimeLimit(0);
    // A stalled read lasts as long as a sleeping child or the 20 s deadline.
    EXPECT_LT(slowest, 10.0);
    RecordProperty("slowest_read_seconds", std::to_string(slowest));
}

// A host that reads a picture (and so keeps a spare helper started), forks a child that lives
// on, and ends: the helpers end with the host, not with the child.
TEST(HelperLifetime, NoHelperOutlivesItsHost) {
    TempFolder folder;
    std::string picture = SmallPicture(folder);
    pid_t harness = fork();
    if (harness == 0) {
        // Adopts the helpers, and the host's child, as they are orphaned.
        if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) _exit(2);
        pid_t host = fork();
        if (host == 0) {
            CPixelImage image;
            std::string reason;
            if (ReadImageFile(picture, image, reason) != 0) _exit(3);
            ForkSleeper(30);
            _exit(0);
        }
        int status = 0;
        waitpid(host, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) _exit(4);
        // Left at the end: the host's child alone.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        std::vector<pid_t> left;
        do {
            while (waitpid(-1, nullptr, WNOHANG | __WALL) > 0) {
            }
            left = Children();
            if (left.size() <= 1) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        } while (std::chrono::steady_clock::now() < deadline);
        for (pid_t child : left) kill(child, SIGKILL);
        _exit(left.size() == 1 ? 0 : 5);
    }
    int status = 0;
    waitpid(harness, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    // 3: the host could not read; 5: a helper lived on beside the host's child.
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

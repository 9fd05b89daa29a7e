#include "files/input_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "support/temp_folder.h"

TEST(InputFile, OpensARegularFileForBlockingReads) {
    TempFolder folder;
    std::ofstream(folder.File("a.bin")) << "abc";
    std::string reason;
    int fd = OpenInputFile(folder.File("a.bin"), reason);
    ASSERT_GE(fd, 0) << reason;
    char buffer[4] = {};
    EXPECT_EQ(read(fd, buffer, sizeof buffer), 3);
    close(fd);
}

TEST(InputFile, RefusesWhatIsNotARegularFileAtOnce) {
    TempFolder folder;
    ASSERT_EQ(mkfifo(folder.File("pipe").c_str(), 0600), 0);
    struct Case { std::string path; const char* reason; } cases[] = {
        {folder.File("pipe"), "is a FIFO, not a regular file"},  // no writer: a blocking open would hang here
        {folder.path, "is a folder, not a regular file"},
        {"/dev/null", "is a character device, not a regular file"},
        {folder.File("missing"), "No such file or directory"},
    };
    for (const Case& c : cases) {
        std::string reason;
        EXPECT_EQ(OpenInputFile(c.path, reason), -1) << c.path;
        EXPECT_EQ(reason, c.reason) << c.path;
    }
}

// What is not a regular file is refused from its kind alone: it is never opened, as inotify,
// which sees every open of what it watches, confirms.
TEST(InputFile, RefusesWithoutOpening) {
    TempFolder folder;
    ASSERT_EQ(mkfifo(folder.File("pipe").c_str(), 0600), 0);
    ASSERT_EQ(mkdir(folder.File("inner").c_str(), 0700), 0);
    for (const std::string& path : {folder.File("pipe"), folder.File("inner")}) {
        int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ASSERT_GE(watch, 0);
        ASSERT_GE(inotify_add_watch(watch, path.c_str(), IN_OPEN), 0) << path;
        std::string reason;
        EXPECT_EQ(OpenInputFile(path, reason), -1) << path;
        alignas(struct inotify_event) char events[4096];
        EXPECT_EQ(read(watch, events, sizeof events), -1) << path << " was opened";
        // The watch works: an open of our own is seen.
        close(open(path.c_str(), O_RDONLY | O_NONBLOCK));
        EXPECT_GT(read(watch, events, sizeof events), 0) << path;
        close(watch);
    }
}

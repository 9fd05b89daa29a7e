#include "files/input_file.h"

#include <gtest/gtest.h>
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

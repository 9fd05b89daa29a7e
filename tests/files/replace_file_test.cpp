#include "files/replace_file.h"

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "files/pending_temps.h"
#include "support/small_disk.h"
#include "support/temp_folder.h"

namespace {

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Saves run once with unnamed temporary files (where the file system has them) and once with
// named ones, which the signal handlers must clean up.
class ReplaceFileBothWays : public testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (GetParam()) {
            setenv("QUARRO_NAMED_TEMP_FILES", "1", 1);
        } else {
            unsetenv("QUARRO_NAMED_TEMP_FILES");
        }
    }
    void TearDown() override { unsetenv("QUARRO_NAMED_TEMP_FILES"); }
};

TEST_P(ReplaceFileBothWays, BytesReplaceTheEarlierFileAndLeaveNothingBeside) {
    TempFolder folder;
    std::ofstream(folder.File("doc.bin")) << "earlier content, longer than the new";
    // A name as long as the file system allows still gets a temporary name beside it.
    const std::string longest(NAME_MAX, 'n');
    std::ofstream(folder.File(longest)) << "earlier";
    for (const std::string& name : {std::string("doc.bin"), std::string("new.bin"), longest}) {
        std::string reason;
        ASSERT_EQ(ReplaceFileWithBytes(folder.File(name), "new", 3, reason), 0) << reason;
        EXPECT_EQ(Contents(folder.File(name)), "new");
    }
    EXPECT_EQ(folder.Entries().size(), 3u);
}

TEST_P(ReplaceFileBothWays, FullDiskFailsWithItsReasonAndKeepsTheEarlierFile) {
    SmallDisk disk("64k");
    if (!disk.Available()) GTEST_SKIP() << disk.whyNot;
    std::ofstream(disk.File("doc.bin")) << "earlier";
    const std::vector<char> big(200 * 1024, 'b');
    std::string reason;
    EXPECT_EQ(ReplaceFileWithBytes(disk.File("doc.bin"), big.data(), big.size(), reason), -1);
    EXPECT_EQ(reason, "No space left on device");
    EXPECT_EQ(Contents(disk.File("doc.bin")), "earlier");
    EXPECT_EQ(disk.Entries(), std::vector<std::string>{"doc.bin"});
}

INSTANTIATE_TEST_SUITE_P(TempFiles, ReplaceFileBothWays, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "Named" : "Unnamed"; });

TEST(ReplaceFile, MissingFolderFailsWithItsReason) {
    TempFolder folder;
    std::string reason;
    EXPECT_EQ(ReplaceFileWithBytes(folder.File("no/doc.bin"), "new", 3, reason), -1);
    EXPECT_EQ(reason, "No such file or directory");
}

// A signal that ends the process while a named temporary file exists removes that file; the
// process still ends by the signal.
TEST(ReplaceFileDeathTest, SignalsRemoveTheTemporaryFileAndStillEndTheProcess) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ}) {
        TempFolder folder;
        std::ofstream(folder.File("doc.bin")) << "earlier";
        auto interruptedSave = [&]() {
            RemoveTempsOnSignals();
            TempFile temp;
            if (CreateTempBeside(folder.File("doc.bin"), ".bin", temp) != 0) std::_Exit(3);
            if (folder.Entries().size() != 2) std::_Exit(4);
            std::raise(signal);
            std::_Exit(5);
        };
        EXPECT_EXIT(interruptedSave(), testing::KilledBySignal(signal), "") << signal;
        EXPECT_EQ(folder.Entries(), std::vector<std::string>{"doc.bin"}) << signal;
        EXPECT_EQ(Contents(folder.File("doc.bin")), "earlier");
    }
}

}  // namespace

#include "files/replace_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "files/output_path.h"
#include "files/pending_temps.h"
#include "support/ordinary_user.h"
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
    // The folder flushed by the save or left to the caller: the files are the same.
    for (FolderFlush flush : {FolderFlush::BySave, FolderFlush::ByCaller}) {
        for (const std::string& name : {std::string("doc.bin"), std::string("new.bin"), longest}) {
            std::string reason;
            ASSERT_EQ(ReplaceFileWithBytes(folder.File(name), "new", 3, reason, flush), 0) << reason;
            EXPECT_EQ(Contents(folder.File(name)), "new");
            ASSERT_EQ(ReplaceFileWithBytes(folder.File(name), "newer", 5, reason, flush), 0) << reason;
            EXPECT_EQ(Contents(folder.File(name)), "newer");
        }
    }
    EXPECT_EQ(folder.Entries().size(), 3u);
}

TEST(FlushFolderOf, FlushesTheFoldersOfFilesAndSaysWhyNot) {
    TempFolder folder;
    std::ofstream(folder.File("frame.bmp")) << "frame";
    const struct {
        std::string path;
        int result;
        const char* reason;
    } cases[] = {
        {folder.File("frame.bmp"), 0, ""},
        {folder.File("not-yet.bmp"), 0, ""},  // the folder exists
        {folder.File("gone/frame.bmp"), -1, "No such file or directory"},
    };
    for (const auto& c : cases) {
        std::string reason;
        EXPECT_EQ(c.result, FlushFolderOf(c.path, reason)) << c.path;
        EXPECT_EQ(c.reason, reason) << c.path;
    }
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

// What a save must keep of the file it replaces, besides its new bytes.
struct FileState {
    ino_t inode = 0;
    nlink_t links = 0;
    uid_t owner = 0;
    gid_t group = 0;
    mode_t mode = 0;
};

FileState StateOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
    return {info.st_ino, info.st_nlink, info.st_uid, info.st_gid, info.st_mode & 07777};
}

// As an ordinary user, a file that may not be written is refused by the check made before any
// work and again when the finished content would replace it; it stays as it was.
TEST_P(ReplaceFileBothWays, AReadOnlyFileIsRefusedAndStaysAsItWas) {
    TempFolder folder;
    ASSERT_TRUE(GiveToUser(folder.path));
    OrdinaryUser user;
    if (!user.Available()) GTEST_SKIP() << user.whyNot;
    const std::string path = folder.File("ro.png");
    std::ofstream(path) << "earlier";
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    std::string reason;
    errno = 0;
    EXPECT_EQ(CheckOutputPath(path, reason), -1);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(reason, "the file may not be written: Permission denied");
    EXPECT_EQ(ReplaceFileWithBytes(path, "new", 3, reason), -1);
    EXPECT_EQ(reason, "Permission denied");
    EXPECT_EQ(Contents(path), "earlier");
    EXPECT_EQ(StateOf(path).mode, 0444u);
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"ro.png"});
}

// Other names of the file (hard links) see the new content: the file keeps its inode, whether
// saved under either name or through a symbolic link, and whether the content shrinks or grows.
TEST_P(ReplaceFileBothWays, AHardLinkedFileIsWrittenInPlace) {
    struct Case {
        const char* savedAs;
        std::string content;
    } cases[] = {
        {"hl.bin", "new"},
        {"hl_other.bin", std::string(300000, 'g')},
        {"symlink.bin", "through the symbolic link"},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        std::ofstream(folder.File("hl.bin")) << "earlier content, longer than the new";
        ASSERT_EQ(chmod(folder.File("hl.bin").c_str(), 0640), 0);
        ASSERT_EQ(link(folder.File("hl.bin").c_str(), folder.File("hl_other.bin").c_str()), 0);
        ASSERT_EQ(symlink("hl.bin", folder.File("symlink.bin").c_str()), 0);
        const FileState before = StateOf(folder.File("hl.bin"));
        std::string reason;
        ASSERT_EQ(ReplaceFileWithBytes(folder.File(c.savedAs), c.content.data(), c.content.size(), reason), 0)
            << c.savedAs << ": " << reason;
        for (const char* name : {"hl.bin", "hl_other.bin"}) {
            EXPECT_EQ(Contents(folder.File(name)), c.content) << c.savedAs << " then " << name;
            const FileState after = StateOf(folder.File(name));
            EXPECT_EQ(after.inode, before.inode) << c.savedAs;
            EXPECT_EQ(after.links, 2u) << c.savedAs;
            EXPECT_EQ(after.mode, 0640u) << c.savedAs;
        }
        EXPECT_EQ(folder.Entries().size(), 3u) << c.savedAs;
    }
}

// The space for the new content is reserved before the earlier content is touched: a disk
// too full for it fails the save and both names keep the earlier bytes.
TEST_P(ReplaceFileBothWays, AHardLinkedFileOnAFullDiskKeepsItsContent) {
    SmallDisk disk("64k");
    if (!disk.Available()) GTEST_SKIP() << disk.whyNot;
    std::ofstream(disk.File("doc.bin")) << "earlier";
    ASSERT_EQ(link(disk.File("doc.bin").c_str(), disk.File("other.bin").c_str()), 0);
    // Fits the disk once, as the finished temporary file, but not a second time.
    const std::vector<char> big(40 * 1024, 'b');
    std::string reason;
    EXPECT_EQ(ReplaceFileWithBytes(disk.File("doc.bin"), big.data(), big.size(), reason), -1);
    EXPECT_EQ(reason, "No space left on device");
    EXPECT_EQ(Contents(disk.File("doc.bin")), "earlier");
    EXPECT_EQ(Contents(disk.File("other.bin")), "earlier");
    EXPECT_EQ(disk.Entries().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(TempFiles, ReplaceFileBothWays, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "Named" : "Unnamed"; });

TEST(ReplaceFile, MissingFolderFailsWithItsReason) {
    TempFolder folder;
    std::string reason;
    EXPECT_EQ(ReplaceFileWithBytes(folder.File("no/doc.bin"), "new", 3, reason), -1);
    EXPECT_EQ(reason, "No such file or directory");
}

// The replaced file keeps its owner, group and mode: root gives them to the new file; an
// ordinary user, who cannot give a file away, writes into the earlier file instead.
TEST(ReplaceFile, OwnerGroupAndModeOfTheReplacedFileAreKept) {
    if (geteuid() != 0) GTEST_SKIP() << "files of another owner need root to be made";
    uid_t uid;
    gid_t gid;
    std::string whyNot;
    if (!OrdinaryUserIds(uid, gid, whyNot)) GTEST_SKIP() << whyNot;
    TempFolder folder;
    ASSERT_TRUE(GiveToUser(folder.path));
    struct Case {
        const char* name;
        uid_t owner;
        gid_t group;
        mode_t mode;
        bool asRoot;
        bool sameInode;
    } cases[] = {
        {"theirs.bin", uid, gid, 0640, true, false},  // root: a new file, given the earlier identity
        {"root.bin", 0, gid, 0664, false, true},      // the user may write it but not own it
        {"readonly.bin", uid, gid, 0444, true, false},  // root keeps its power over permission bits
    };
    for (const Case& c : cases) {
        const std::string path = folder.File(c.name);
        std::ofstream(path) << "earlier";
        ASSERT_EQ(chown(path.c_str(), c.owner, c.group), 0);
        ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
        const FileState before = StateOf(path);
        std::string reason;
        {
            std::unique_ptr<OrdinaryUser> user(c.asRoot ? nullptr : new OrdinaryUser);
            ASSERT_TRUE(c.asRoot || user->Available()) << user->whyNot;
            ASSERT_EQ(ReplaceFileWithBytes(path, "new", 3, reason), 0) << c.name << ": " << reason;
        }
        const FileState after = StateOf(path);
        EXPECT_EQ(Contents(path), "new") << c.name;
        EXPECT_EQ(after.owner, c.owner) << c.name;
        EXPECT_EQ(after.group, c.group) << c.name;
        EXPECT_EQ(after.mode, c.mode) << c.name;
        EXPECT_EQ(after.inode == before.inode, c.sameInode) << c.name;
    }
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

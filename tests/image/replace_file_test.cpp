#include "image/replace_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "image/temp_folder.h"

namespace {

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(ReplaceFile, BytesReplaceTheEarlierFileAndLeaveNothingBeside) {
    TempFolder folder;
    std::ofstream(folder.File("doc.bin")) << "earlier content, longer than the new";
    std::string reason;
    ASSERT_EQ(ReplaceFileWithBytes(folder.File("doc.bin"), "new", 3, reason), 0) << reason;
    EXPECT_EQ(Contents(folder.File("doc.bin")), "new");
    EXPECT_EQ(folder.Entries().size(), 1u);
}

TEST(ReplaceFile, MissingFolderFailsWithItsReason) {
    TempFolder folder;
    std::string reason;
    EXPECT_EQ(ReplaceFileWithBytes(folder.File("no/doc.bin"), "new", 3, reason), -1);
    EXPECT_EQ(reason, "No such file or directory");
}

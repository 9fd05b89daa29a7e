// The path parts that choose a file's format and the folder its temporary file goes to.
#include "files/file_name.h"

#include <gtest/gtest.h>

namespace {

struct NameCase {
    const char* path;
    const char* extension;
    const char* lower;
    const char* folder;
};

const NameCase kNameCases[] = {
    {"frame.PNG", ".PNG", ".png", "."},
    {"out/clip.Mp4", ".Mp4", ".mp4", "out"},
    {"/clip.webm", ".webm", ".webm", "/"},
    {"a.b/noextension", "", "", "a.b"},
    {"./.hidden", ".hidden", ".hidden", "."},
    {"dir/archive.tar.gz", ".gz", ".gz", "dir"},
    {"trailing.", ".", ".", "."},
    {"/a/b/c", "", "", "/a/b"},
};

TEST(FileName, SplitsExtensionAndFolder) {
    for (const NameCase& c : kNameCases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(FileExtension(c.path), c.extension);
        EXPECT_EQ(LowerFileExtension(c.path), c.lower);
        EXPECT_EQ(FolderOf(c.path), c.folder);
    }
}

}  // namespace

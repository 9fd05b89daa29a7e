#include "files/output_path.h"
#include "image/writable_formats.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <string>

#include "support/temp_folder.h"

namespace {

TEST(OutputPath, AcceptsWritableFormatsInAnExistingFolder) {
    TempFolder folder;
    WriteWholeFile(folder.File("earlier.png"), "x");
    for (const char* name : {"new.png", "earlier.png", "UPPER.PNG", "frame.pnm", "f.ppm", "f.jpeg", "f.tif", "f.pcx"}) {
        std::string reason;
        EXPECT_EQ(0, CheckImageOutputPath(folder.File(name), reason)) << name << ": " << reason;
    }
    std::string reason;
    EXPECT_EQ(0, CheckOutputPath(folder.File("scene.mrf"), reason)) << reason;  // any name for a document
}

TEST(OutputPath, RefusesEachUnwritableOutputWithItsReason) {
    TempFolder folder;
    ASSERT_EQ(0, mkfifo(folder.File("pipe.png").c_str(), 0600));
    ASSERT_EQ(0, mkdir(folder.File("dir.png").c_str(), 0700));
    WriteWholeFile(folder.File("plain"), "x");
    const std::string longName(NAME_MAX + 1 - 4, 'n');
    std::string longPath = folder.path;
    while (longPath.size() < PATH_MAX) longPath += "/sub";
    longPath += ".png";
    const std::string writable = "(writable: png, jpg, tif, bmp, tga, webp, dds, pcx, pnm, psd, raw, sgi, hdr)";
    struct Case {
        std::string path;
        std::string reason;
        int error = 0;  // errno after CheckOutputPath; 0 for the image format's refusals
    } cases[] = {
        {folder.File("palette.pal"),
         ".pal is a colour palette, not an image: save the frame as .png, .bmp or another image format"},
        {folder.File("out.xyz"), "no image format is written for the extension .xyz " + writable},
        {folder.File("noextension"), "the name has no extension to choose the image format by " + writable},
        {folder.File("missing/out.png"), "the output folder " + folder.File("missing") + " does not exist", ENOENT},
        {folder.File("plain/out.png"), "the output folder " + folder.File("plain") + " is not a folder", ENOTDIR},
        {folder.File("dir.png"), folder.File("dir.png") + " is a folder, not a file name", EISDIR},
        {folder.File("pipe.png"), folder.File("pipe.png") + " is a FIFO, not a regular file", EEXIST},
        {folder.File(longName + ".png"), "the file name is " + std::to_string(longName.size() + 4) +
                                             " bytes long, more than the " + std::to_string(NAME_MAX) +
                                             " the file system allows",
         ENAMETOOLONG},
        {longPath, "the path is " + std::to_string(longPath.size()) + " bytes long, more than the " +
                       std::to_string(PATH_MAX - 1) + " allowed",
         ENAMETOOLONG},
    };
    for (const Case& c : cases) {
        std::string reason;
        EXPECT_EQ(-1, CheckImageOutputPath(c.path, reason)) << c.path;
        EXPECT_EQ(c.reason, reason) << c.path;
        if (c.error == 0) continue;
        // The kind of refusal, for callers that sort failures by error number (the Python module).
        errno = 0;
        EXPECT_EQ(-1, CheckOutputPath(c.path, reason)) << c.path;
        EXPECT_EQ(c.error, errno) << c.path;
    }
}

}  // namespace

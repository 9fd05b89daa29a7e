// The one rule for a document's relative picture paths: beside the document first, then the
// current folder, a warning when both hold different pictures, the places named when neither does;
// and how a saved document names its pictures again.
#include "document/image_path.h"
#include "document/picture_spelling.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

enum Place { kNone, kLink, kCopy, kDifferent };

struct Case {
    const char* name;
    bool beside;   // a picture beside the document
    Place here;    // what the current folder holds under the same relative name
    bool found;
    bool fromBeside;
    bool warns;
};

class LocateDocumentImageCase : public testing::TestWithParam<Case> {};

TEST_P(LocateDocumentImageCase, FollowsTheRule) {
    const Case& c = GetParam();
    TempFolder documentFolder, current;
    fs::create_directories(documentFolder.File("pictures"));
    fs::create_directories(current.File("pictures"));
    const std::string besidePath = documentFolder.File("pictures/a.png");
    if (c.beside) WriteWholeFile(besidePath, "the document's picture");
    const std::string herePath = current.File("pictures/a.png");
    switch (c.here) {
        case kNone: break;
        case kLink: fs::create_symlink(besidePath, herePath); break;
        case kCopy: WriteWholeFile(herePath, "the document's picture"); break;
        case kDifferent: WriteWholeFile(herePath, "the decoy's picture!!!"); break;  // same length
    }
    const fs::path startedIn = fs::current_path();
    fs::current_path(current.path);
    const DocumentImage image = LocateDocumentImage("pictures/a.png", documentFolder.File("scene.mrf"));
    fs::current_path(startedIn);

    EXPECT_EQ(c.found, image.found);
    EXPECT_EQ(!c.found ? std::string("pictures/a.png") : c.fromBeside ? besidePath : "pictures/a.png", image.path);
    if (c.warns) {
        EXPECT_NE(std::string::npos, image.note.find(besidePath)) << image.note;
        EXPECT_NE(std::string::npos, image.note.find(herePath)) << image.note;
    } else if (c.found) {
        EXPECT_EQ("", image.note);
    }
    if (!c.found) {
        // Both places are named, so that the user knows where to put the picture.
        EXPECT_NE(std::string::npos, image.note.find(besidePath)) << image.note;
        EXPECT_NE(std::string::npos, image.note.find(herePath)) << image.note;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Places, LocateDocumentImageCase,
    testing::Values(Case{"BesideOnly", true, kNone, true, true, false},
                    Case{"CurrentFolderOnly", false, kCopy, true, false, false},
                    Case{"Neither", false, kNone, false, false, false},
                    Case{"CurrentFolderLinksToTheSameFile", true, kLink, true, true, false},
                    Case{"IdenticalCopies", true, kCopy, true, true, false},
                    Case{"DecoyInTheCurrentFolder", true, kDifferent, true, true, true}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(LocateDocumentImage, AbsoluteAndEmptyPathsAreTakenAsTheyAre) {
    TempFolder folder;
    WriteWholeFile(folder.File("b.png"), "picture");
    DocumentImage image = LocateDocumentImage(folder.File("b.png"), "/elsewhere/scene.mrf");
    EXPECT_TRUE(image.found);
    EXPECT_EQ(folder.File("b.png"), image.path);
    EXPECT_EQ("", image.note);
    image = LocateDocumentImage(folder.File("gone.png"), "/elsewhere/scene.mrf");
    EXPECT_FALSE(image.found);
    EXPECT_NE(std::string::npos, image.note.find(folder.File("gone.png")));
    image = LocateDocumentImage("", "/elsewhere/scene.mrf");
    EXPECT_FALSE(image.found);
    EXPECT_EQ("", image.path);
}

// A document in the current folder, named relatively: both places are one, and nothing is said.
TEST(LocateDocumentImage, DocumentInTheCurrentFolder) {
    TempFolder folder;
    WriteWholeFile(folder.File("a.png"), "picture");
    const fs::path startedIn = fs::current_path();
    fs::current_path(folder.path);
    const DocumentImage image = LocateDocumentImage("a.png", "scene.mrf");
    fs::current_path(startedIn);
    EXPECT_TRUE(image.found);
    EXPECT_EQ("a.png", image.path);
    EXPECT_EQ("", image.note);
}

// A FIFO under the picture's name in the current folder is never opened (it would block).
TEST(LocateDocumentImage, NeverReadsAFifo) {
    TempFolder documentFolder, current;
    WriteWholeFile(documentFolder.File("a.png"), "picture");
    ASSERT_EQ(0, mkfifo(current.File("a.png").c_str(), 0600));
    const fs::path startedIn = fs::current_path();
    fs::current_path(current.path);
    const DocumentImage image = LocateDocumentImage("a.png", documentFolder.File("scene.mrf"));
    fs::current_path(startedIn);
    EXPECT_EQ(documentFolder.File("a.png"), image.path);
    EXPECT_FALSE(image.note.empty());
}

}  // namespace

// How a saved document names a picture: the relative name it was found through while that
// still leads to it, else relative to the new folder beneath it, else absolute; a picture chosen
// by hand as given.
TEST(SpellPicturePath, KeepsWorkingRelativeNamesAndOtherwiseFollowsTheNewFolder) {
    TempFolder root;
    fs::create_directories(root.File("doc/sub"));
    fs::create_directories(root.File("other"));
    WriteWholeFile(root.File("doc/a.png"), "a");
    fs::create_directory_symlink(root.File("doc"), root.File("link"));
    const std::string a = root.File("doc/a.png");
    struct Case {
        std::string loaded, stored, document, expected;
    } cases[] = {
        {a, "a.png", root.File("doc/again.mrf"), "a.png"},                   // saved beside the picture
        {root.File("doc/sub/../a.png"), "../a.png", root.File("doc/sub/x.mrf"), "../a.png"},  // ".." still leads there
        {a, "a.png", root.File("link/x.mrf"), "a.png"},                      // the same folder through a link
        {a, "a.png", root.File("x.mrf"), "doc/a.png"},                       // beneath the new folder
        {a, "a.png", root.File("doc/sub/x.mrf"), a},                         // not beneath: absolute
        {root.File("doc/sub/../a.png"), "../a.png", root.File("other/x.mrf"), a},
        {"hand/chosen.png", "", root.File("other/x.mrf"), "hand/chosen.png"},  // chosen by hand: as given
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SpellPicturePath({c.loaded, c.stored}, c.document), c.expected) << c.loaded << " in " << c.document;
    }
}

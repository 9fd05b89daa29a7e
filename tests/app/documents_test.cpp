// The File menu's document commands on a live window: Save Morph and Load Morph with the
// choosers, the failures, and the search for a document's missing image.
#include <FL/Fl.H>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/ui_fixture.h"
#include "document/mrf_file.h"
#include "image/chooser_pattern.h"
#include "morph/morph_scene.h"
#include "support/ordinary_user.h"

class Documents : public UiTest {
protected:
    // Loads both images through the editor from files, draws two pairs.
    void LoadScene() {
        pathA = WriteImage("a.png", 319, 239, 1);
        pathB = WriteImage("b.png", 241, 163, 2);
        ASSERT_EQ(ui->editor->LoadImage(0, pathA), 0);
        ASSERT_EQ(ui->editor->LoadImage(1, pathB), 0);
        AddPair(0.2f, 0.2f, 0.8f, 0.3f, 0.25f, 0.1f, 0.7f, 0.35f);
        AddPair(-0.1f, 1.2f, 0.4f, 0.6f, 0.15f, 0.8f, 0.5f, 0.7f);
    }
    // A document naming the given paths, with one pair.
    std::string WriteDocument(const std::string& name, const std::string& a, const std::string& b) {
        MorphScene scene;
        scene.imageA.fileName = a;
        scene.imageB.fileName = b;
        scene.AddPair(LineSegment(Point(0.1f, 0.2f), Point(0.3f, 0.4f)), LineSegment(Point(0.5f, 0.6f), Point(0.7f, 0.8f)));
        std::string path = TempPath(name);
        EXPECT_EQ(WriteMorphFile(path, scene.settings), 0);
        return path;
    }
    std::string pathA, pathB;
};

TEST_F(Documents, SaveMorphWithoutImagesSaysNotReadyAndOpensNoChooser) {
    FillSlot(0, 11, 13, 1);
    ui->OnSaveMorph();
    ASSERT_EQ(dialogs.alerts.size(), 1u);
    EXPECT_EQ(dialogs.alerts[0], "You're not ready to morph yet!");
    EXPECT_TRUE(dialogs.chooserCalls.empty());
}

TEST_F(Documents, SaveMorphWritesPathsPairsAndTheFixedParameters) {
    LoadScene();
    ui->interpSlider->value(0.9);
    std::string doc = TempPath("scene.mrf");
    dialogs.choices = {doc};
    ui->OnSaveMorph();
    ASSERT_EQ(dialogs.chooserCalls.size(), 1u);
    EXPECT_EQ(dialogs.chooserCalls[0].title, "Select a destination");
    EXPECT_EQ(dialogs.chooserCalls[0].pattern, "*.mrf");
    EXPECT_EQ(dialogs.chooserCalls[0].presetPath, "");
    EXPECT_TRUE(dialogs.alerts.empty());

    SegmentList la, lb;
    MorphSettings s;
    s.segmentsA = &la;
    s.segmentsB = &lb;
    s.dissoveFrac = s.warpFrac = s.a = s.b = s.p = -1.0f;
    ASSERT_EQ(ReadMorphFile(doc, s), 0);
    EXPECT_EQ(s.imagePathA, pathA);
    EXPECT_EQ(s.imagePathB, pathB);
    EXPECT_EQ(la, ui->editor->controller->segmentsA);
    EXPECT_EQ(lb, ui->editor->controller->segmentsB);
    EXPECT_EQ(s.warpFrac, 0.5f);
    EXPECT_EQ(s.dissoveFrac, 0.5f);
    EXPECT_EQ(s.a, 0.01f);
    EXPECT_EQ(s.b, 2.0f);
    EXPECT_EQ(s.p, 0.2f);
}

TEST_F(Documents, SaveMorphCancelledWritesNothingAndAFailedWriteIsReported) {
    LoadScene();
    ui->OnSaveMorph();
    EXPECT_FALSE(std::filesystem::exists(TempPath("scene.mrf")));
    std::string bad = TempPath("no/such/dir/scene.mrf");
    dialogs.choices = {bad};
    testing::internal::CaptureStderr();
    ui->OnSaveMorph();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              bad + ": the output folder " + TempPath("no/such/dir") + " does not exist\n");
    ASSERT_EQ(dialogs.alerts.size(), 1u);
    EXPECT_EQ(dialogs.alerts[0], "Error saving to file " + bad);
}

// As an ordinary user, Save Image and Save Morph onto a file that may not be written show their
// alerts, with the system's reason on the standard error, and leave the file as it was.
TEST_F(Documents, ReadOnlyTargetsOfSaveImageAndSaveMorphAreRefused) {
    LoadScene();
    FillSlot(2, 9, 7, 3);
    ASSERT_TRUE(GiveToUser(folder.path));
    OrdinaryUser user;
    if (!user.Available()) GTEST_SKIP() << user.whyNot;
    struct Case {
        const char* name;
        std::function<void()> command;
        std::string alert;
    } cases[] = {
        {"ro.png", [this] { ui->OnSaveImage(2); }, "Error saving image file "},
        {"ro.mrf", [this] { ui->OnSaveMorph(); }, "Error saving to file "},
    };
    for (const Case& c : cases) {
        const std::string path = TempPath(c.name);
        WriteWholeFile(path, "earlier");
        ASSERT_EQ(chmod(path.c_str(), 0444), 0);
        dialogs.alerts.clear();
        dialogs.choices = {path};
        testing::internal::CaptureStderr();
        c.command();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), path + ": the file may not be written: Permission denied\n");
        EXPECT_EQ(dialogs.alerts, std::vector<std::string>{c.alert + path});
        EXPECT_EQ(ReadWholeFile(path), "earlier") << c.name;
    }
}

// Save Image refuses to write over image A or B, however the name is spelt, as the renderer does.
TEST_F(Documents, SaveImageNeverWritesOverImageAOrB) {
    LoadScene();
    FillSlot(2, 9, 7, 3);
    std::filesystem::create_directory(TempPath("sub"));
    const std::string linkToB = TempPath("link.png");
    std::filesystem::create_symlink(pathB, linkToB);
    const std::string before = ReadWholeFile(pathA);
    const struct {
        std::string path, says;
    } cases[] = {
        {pathA, "image A"},
        {TempPath("sub/../a.png"), "image A"},
        {linkToB, "image B"},
    };
    for (const auto& c : cases) {
        dialogs.alerts.clear();
        dialogs.choices = {c.path};
        testing::internal::CaptureStderr();
        ui->OnSaveImage(2);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(0u, said.find(c.path + ": ")) << said;
        EXPECT_NE(std::string::npos, said.find(c.says)) << said;
        EXPECT_EQ(dialogs.alerts, std::vector<std::string>{"Error saving image file " + c.path});
    }
    EXPECT_EQ(ReadWholeFile(pathA), before);
    EXPECT_EQ(ui->editor->images[1].width, 241);
    dialogs.choices = {TempPath("frame.png")};
    ui->OnSaveImage(2);
    EXPECT_TRUE(std::filesystem::exists(TempPath("frame.png")));
}

TEST_F(Documents, LoadMorphAppliesImagesPairsAndPresetsTheSize) {
    std::string a = WriteImage("docA.png", 203, 151, 3);
    std::string b = WriteImage("docB.png", 99, 77, 4);
    std::string doc = WriteDocument("doc.mrf", a, b);
    FillSlot(2, 5, 5, 9);
    ui->editor->controller->selected = 0;
    dialogs.choices = {doc};
    ui->OnLoadMorph();
    ASSERT_EQ(dialogs.chooserCalls.size(), 1u);
    EXPECT_EQ(dialogs.chooserCalls[0].title, "Select a saved morph");
    EXPECT_EQ(dialogs.chooserCalls[0].pattern, "*.mrf");
    EXPECT_TRUE(dialogs.alerts.empty());
    EXPECT_EQ(ui->editor->images[0].fileName, a);
    EXPECT_EQ(ui->editor->images[1].fileName, b);
    EXPECT_TRUE(ui->editor->images[2].IsEmpty());
    EXPECT_EQ(ui->editor->controller->selected, -1);
    ASSERT_EQ(ui->editor->controller->segmentsA.size(), 1u);
    EXPECT_EQ(ui->editor->controller->segmentsB[0], LineSegment(Point(0.5f, 0.6f), Point(0.7f, 0.8f)));
    // Start to Sized, from image A.
    EXPECT_TRUE(ui->widthInput->active());
    EXPECT_EQ(ui->widthInput->value(), 203);
    EXPECT_EQ(ui->heightInput->value(), 151);
}

TEST_F(Documents, LoadMorphCancelledOrUnreadableLeavesTheEditorAlone) {
    LoadScene();
    const SegmentList before = ui->editor->controller->segmentsA;
    ui->OnLoadMorph();
    std::string junk = TempPath("junk.mrf");
    FILE* f = std::fopen(junk.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("MRX this is no document", f);
    std::fclose(f);
    dialogs.choices = {junk};
    testing::internal::CaptureStderr();
    ui->OnLoadMorph();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              junk + ": it does not begin with the bytes M, R, F and zero of a morph document\n");
    ASSERT_EQ(dialogs.alerts.size(), 1u);
    EXPECT_EQ(dialogs.alerts[0], "Error loading file " + junk);
    EXPECT_EQ(ui->editor->images[0].fileName, pathA);
    EXPECT_EQ(ui->editor->controller->segmentsA, before);
    EXPECT_FALSE(ui->widthInput->active());
}

TEST_F(Documents, MissingImageIsSearchedForUntilFoundAndTheNextSaveWritesTheNewPath) {
    std::string b = WriteImage("docB.png", 99, 77, 4);
    std::string found = WriteImage("found.png", 131, 97, 5);
    std::string gone = TempPath("gone.png");
    std::string stillGone = TempPath("still-gone.png");
    std::string doc = WriteDocument("doc.mrf", gone, b);
    dialogs.choices = {doc, stillGone, found};
    dialogs.answers = {true, true};
    ui->OnLoadMorph();

    ASSERT_EQ(dialogs.questions.size(), 2u);
    EXPECT_EQ(dialogs.questions[0], "Unable to load image " + gone + ". Search for it manually?");
    EXPECT_EQ(dialogs.questions[1], "Unable to load image " + stillGone + ". Search for it manually?");
    ASSERT_EQ(dialogs.chooserCalls.size(), 3u);
    EXPECT_EQ(dialogs.chooserCalls[1].title, "Select an image");
    EXPECT_EQ(dialogs.chooserCalls[1].pattern, WithEveryReadableExtension("*.{jpg,png,bmp,tga,gif}"));
    EXPECT_EQ(dialogs.chooserCalls[1].presetPath, gone);
    EXPECT_EQ(dialogs.chooserCalls[2].presetPath, stillGone);
    ASSERT_EQ(dialogs.alerts.size(), 2u);
    EXPECT_EQ(dialogs.alerts[0], "Could not load image " + gone);
    EXPECT_EQ(dialogs.alerts[1], "Could not load image " + stillGone);
    EXPECT_EQ(ui->editor->images[0].fileName, found);
    EXPECT_EQ(ui->editor->images[1].fileName, b);
    EXPECT_EQ(ui->widthInput->value(), 131);

    std::string saved = TempPath("saved.mrf");
    dialogs.choices = {saved};
    ui->OnSaveMorph();
    SegmentList la, lb;
    MorphSettings s;
    s.segmentsA = &la;
    s.segmentsB = &lb;
    ASSERT_EQ(ReadMorphFile(saved, s), 0);
    EXPECT_EQ(s.imagePathA, found);
}

TEST_F(Documents, DeclinedSearchKeepsTheRestAsItWas) {
    LoadScene();
    FillSlot(2, 7, 7, 6);
    const SegmentList before = ui->editor->controller->segmentsB;
    std::string a = WriteImage("docA.png", 203, 151, 3);
    std::string doc = WriteDocument("doc.mrf", a, TempPath("gone.png"));
    dialogs.choices = {doc};
    dialogs.answers = {false};
    ui->OnLoadMorph();
    ASSERT_EQ(dialogs.alerts.size(), 2u);
    EXPECT_EQ(dialogs.alerts[1], "Error loading MRF file: image loading failure.");
    // Image A was replaced; image B, the output and the pairs were not.
    EXPECT_EQ(ui->editor->images[0].fileName, a);
    EXPECT_EQ(ui->editor->images[1].fileName, pathB);
    EXPECT_EQ(ui->editor->images[2].width, 7);
    EXPECT_EQ(ui->editor->controller->segmentsB, before);
    // The size is still preset from image A, as after every read document.
    EXPECT_EQ(ui->widthInput->value(), 203);
}

// Started in another folder, the window finds a document's relative image paths beside the
// document, as the renderer does, and asks nothing.
TEST_F(Documents, RelativeImagePathsAreFoundBesideTheDocument) {
    WriteImage("docA.png", 203, 151, 3);
    WriteImage("docB.png", 99, 77, 4);
    std::string doc = WriteDocument("doc.mrf", "docA.png", "docB.png");
    const std::filesystem::path startedIn = std::filesystem::current_path();
    std::filesystem::current_path("/");
    dialogs.choices = {doc};
    ui->OnLoadMorph();
    std::filesystem::current_path(startedIn);
    EXPECT_TRUE(dialogs.alerts.empty());
    EXPECT_TRUE(dialogs.questions.empty());
    EXPECT_EQ(ui->editor->images[0].fileName, TempPath("docA.png"));
    EXPECT_EQ(ui->editor->images[1].fileName, TempPath("docB.png"));
    EXPECT_EQ(ui->widthInput->value(), 203);
}

// A different picture of the same name in the current folder is not taken: the window loads
// the one beside the document, as the renderer does.
TEST_F(Documents, ADecoyInTheCurrentFolderIsNotLoaded) {
    WriteImage("docA.png", 203, 151, 3);
    WriteImage("docB.png", 99, 77, 4);
    std::string doc = WriteDocument("doc.mrf", "docA.png", "docB.png");
    TempFolder elsewhere;
    CPixelImage decoy;
    decoy.Allocate(31, 17, 4);
    ASSERT_EQ(0, decoy.Save(elsewhere.File("docA.png")));
    const std::filesystem::path startedIn = std::filesystem::current_path();
    std::filesystem::current_path(elsewhere.path);
    dialogs.choices = {doc};
    ui->OnLoadMorph();
    std::filesystem::current_path(startedIn);
    EXPECT_TRUE(dialogs.alerts.empty());
    EXPECT_EQ(ui->editor->images[0].fileName, TempPath("docA.png"));
    EXPECT_EQ(ui->editor->images[0].width, 203);
}

// A picture path stored in a document reaches the terminal and the dialogs escaped, so that a
// name holding a terminal's retitling sequence is shown as text.
TEST_F(Documents, AStoredPathWithAnEscapeSequenceIsShownEscaped) {
    const std::string doc = WriteDocument("doc.mrf", "\x1b]0;owned\x07gone.png", WriteImage("docB.png", 9, 7, 4));
    const std::string shown = "\\x1b]0;owned\\x07gone.png";
    dialogs.choices = {doc};
    dialogs.answers = {false};
    testing::internal::CaptureStderr();
    ui->OnLoadMorph();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(doc + ": image A " + shown + ": looked for beside the document at "), std::string::npos) << err;
    EXPECT_EQ(err.find_first_of("\x1b\x07"), std::string::npos) << err;
    ASSERT_EQ(dialogs.alerts.size(), 2u);
    EXPECT_EQ(dialogs.alerts[0], "Could not load image " + shown);
    EXPECT_EQ(dialogs.questions, std::vector<std::string>{"Unable to load image " + shown + ". Search for it manually?"});
}

// Load Morph then Save Morph of the demo document: saved in its own folder it gives the same
// bytes, whether the window runs in that folder or in another; saved elsewhere, its pictures
// are named relative to the new folder where they lie beneath it, absolutely otherwise.
TEST_F(Documents, TheDemoDocumentKeepsItsRelativeSpellings) {
    namespace fs = std::filesystem;
    const std::string demo = TempPath("demo");
    fs::create_directory(demo);
    for (const char* name : {"demo.mrf", "demo_a.png", "demo_b.png"}) {
        fs::copy_file(std::string(QUARRO_EXAMPLES_DIR) + "/" + name, demo + "/" + name);
    }
    const std::string original = ReadWholeFile(demo + "/demo.mrf");
    TempFolder other;
    struct Case {
        std::string runIn, savedAs, pathA, pathB;
    } cases[] = {
        {demo, demo + "/demo.mrf", "demo_a.png", "demo_b.png"},
        {other.path, demo + "/again.mrf", "demo_a.png", "demo_b.png"},
        {other.path, TempPath("up.mrf"), "demo/demo_a.png", "demo/demo_b.png"},
        {demo, other.File("away.mrf"), demo + "/demo_a.png", demo + "/demo_b.png"},
    };
    const fs::path startedIn = fs::current_path();
    for (const Case& c : cases) {
        fs::current_path(c.runIn);
        dialogs.choices = {demo + "/demo.mrf", c.savedAs};
        ui->OnLoadMorph();
        ui->OnSaveMorph();
        fs::current_path(startedIn);
        EXPECT_TRUE(dialogs.alerts.empty()) << c.savedAs;
        SegmentList la, lb;
        MorphSettings s;
        s.segmentsA = &la;
        s.segmentsB = &lb;
        ASSERT_EQ(ReadMorphFile(c.savedAs, s), 0) << c.savedAs;
        EXPECT_EQ(s.imagePathA, c.pathA) << c.savedAs;
        EXPECT_EQ(s.imagePathB, c.pathB) << c.savedAs;
        if (c.savedAs.rfind(demo, 0) == 0) {
            EXPECT_EQ(ReadWholeFile(c.savedAs), original) << c.savedAs;
        }
    }
}

// A document whose images are not found leaves the output size open: the next image that
// loads presets it, instead of a size stuck at 1 x 1.
TEST_F(Documents, DocumentWhoseImagesFailLeavesTheOutputSizeOpen) {
    std::string doc = WriteDocument("doc.mrf", TempPath("gone-a.png"), TempPath("gone-b.png"));
    dialogs.choices = {doc};
    dialogs.answers = {false};
    ui->OnLoadMorph();
    EXPECT_EQ(dialogs.alerts.back(), "Error loading MRF file: image loading failure.");
    EXPECT_FALSE(ui->widthInput->active());
    dialogs.choices = {WriteImage("later.png", 131, 97, 5)};
    ui->OnLoadImage(0);
    EXPECT_TRUE(ui->widthInput->active());
    EXPECT_EQ(ui->widthInput->value(), 131);
    EXPECT_EQ(ui->heightInput->value(), 97);
}

// The document named on the command line goes the menu's way without its chooser: applied the
// same, with the same alerts when it cannot be read or its images are missing.
TEST_F(Documents, DocumentFromTheCommandLineLoadsAsTheMenuDoes) {
    std::string a = WriteImage("docA.png", 203, 151, 3);
    std::string b = WriteImage("docB.png", 99, 77, 4);
    ui->LoadMorphDocument(WriteDocument("doc.mrf", a, b));
    EXPECT_TRUE(dialogs.chooserCalls.empty());
    EXPECT_TRUE(dialogs.alerts.empty());
    EXPECT_EQ(ui->editor->images[1].fileName, b);
    EXPECT_EQ(ui->editor->controller->segmentsA.size(), 1u);
    EXPECT_EQ(ui->widthInput->value(), 203);

    std::string missing = TempPath("missing.mrf");
    testing::internal::CaptureStderr();
    ui->LoadMorphDocument(missing);
    EXPECT_NE(testing::internal::GetCapturedStderr().find(missing + ": "), std::string::npos);
    ASSERT_EQ(dialogs.alerts.size(), 1u);
    EXPECT_EQ(dialogs.alerts[0], "Error loading file " + missing);
    EXPECT_EQ(ui->editor->images[1].fileName, b);

    ui->LoadMorphDocument(WriteDocument("gone.mrf", TempPath("gone.png"), b));
    ASSERT_EQ(dialogs.questions.size(), 1u);
    EXPECT_EQ(dialogs.questions[0], "Unable to load image " + TempPath("gone.png") + ". Search for it manually?");
    EXPECT_EQ(dialogs.alerts.back(), "Error loading MRF file: image loading failure.");
    EXPECT_TRUE(dialogs.chooserCalls.empty());
}

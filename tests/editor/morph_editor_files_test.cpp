// The editor's slot operations over the file layer, with the dialogs answered in-process.
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <iterator>

#include "editor_fixture.h"
#include "image/chooser_pattern.h"
#include "image/image_file.h"
#include "support/recording_dialogs.h"
#include "support/small_disk.h"
#include "support/temp_folder.h"

namespace {

// The few formats the search first offered, then every other one the program reads.
const std::string kImagePattern = WithEveryReadableExtension("*.{jpg,png,bmp,tga,gif}");
const char kImageLoadFailure[] = "Error loading MRF file: image loading failure.";

class EditorFiles : public EditorTest {
protected:
    // Writes a w x h image whose colour depends on seed and the position.
    std::string WriteTestImage(const std::string& name, int w, int h, int seed) {
        CPixelImage image;
        FillImage(image, w, h, [=](int x, int y) { return Rgb{(x * 3 + seed) & 255, (y * 5 + seed) & 255, seed}; });
        std::string path = folder.File(name);
        EXPECT_EQ(WriteImageFile(path, image), 0) << path;
        return path;
    }

    static bool SamePixels(const CPixelImage& a, const CPixelImage& b) {
        return a.width == b.width && a.height == b.height && a.bytesPerPixel == b.bytesPerPixel &&
               !a.IsEmpty() && !b.IsEmpty() && std::memcmp(a.pixels, b.pixels, a.ByteCount()) == 0;
    }

    // A document record as the reader fills it.
    MorphSettings Document(const std::string& pathA, const std::string& pathB) {
        documentA = {LineSegment(Point(0.1f, 0.2f), Point(0.3f, 0.4f)), LineSegment(Point(0.5f, 0.6f), Point(0.7f, 0.8f))};
        documentB = {LineSegment(Point(0.2f, 0.1f), Point(0.4f, 0.3f)), LineSegment(Point(0.6f, 0.5f), Point(0.8f, 0.7f))};
        MorphSettings settings;
        settings.segmentsA = &documentA;
        settings.segmentsB = &documentB;
        settings.imagePathA = pathA;
        settings.imagePathB = pathB;
        return settings;
    }

    TempFolder folder;
    RecordingDialogs dialogs;
    SegmentList documentA, documentB;
};

TEST_F(EditorFiles, LoadImageFillsTheSlotAndFitsItsViewport) {
    std::string path = WriteTestImage("b.png", 161, 121, 40);
    editor->viewports[1]->SetOffset(30, 40);
    Capture();
    EXPECT_EQ(editor->LoadImage(1, path), 0);
    EXPECT_NE(editor->damage(), 0);
    const CPixelImage& image = editor->images[1];
    EXPECT_EQ(image.width, 161);
    EXPECT_EQ(image.height, 121);
    EXPECT_EQ(image.bytesPerPixel, 4);
    EXPECT_EQ(image.fileName, path);
    EXPECT_EQ(image.GetPixel(7, 3).r, 7 * 3 + 40);
    EXPECT_EQ(image.GetPixel(7, 3).g, 3 * 5 + 40);
    const CImageViewport& v = *editor->viewports[1];
    EXPECT_EQ(v.imageWidth, 161);
    EXPECT_EQ(v.imageHeight, 121);
    EXPECT_EQ(v.zoom, 263.0f / 161.0f);
    EXPECT_EQ(v.offsetX, 0);
    EXPECT_EQ(v.offsetY, 0);
    int w = 0, h = 0;
    EXPECT_EQ(editor->GetImageSize(1, w, h), 0);
    EXPECT_EQ(w, 161);
    EXPECT_EQ(h, 121);
    EXPECT_TRUE(dialogs.alerts.empty());
}

TEST_F(EditorFiles, LoadImageFailureAlertsAndLeavesSlotAndViewportAlone) {
    std::string good = WriteTestImage("a.png", 37, 29, 9);
    ASSERT_EQ(editor->LoadImage(0, good), 0);
    editor->viewports[0]->Pan(20, 30);
    CImageViewport before = *editor->viewports[0];
    Capture();
    std::string missing = folder.File("missing.png");
    EXPECT_EQ(editor->LoadImage(0, missing), 1);
    EXPECT_NE(editor->damage(), 0);  // redrawn in every case
    ASSERT_EQ(dialogs.alerts.size(), 1u);
    EXPECT_EQ(dialogs.alerts[0], "Could not load image " + missing);
    EXPECT_EQ(editor->images[0].width, 37);
    EXPECT_EQ(editor->images[0].fileName, good);
    EXPECT_EQ(editor->viewports[0]->offsetX, before.offsetX);
    EXPECT_EQ(editor->viewports[0]->offsetY, before.offsetY);
    EXPECT_EQ(editor->viewports[0]->zoom, before.zoom);
}

TEST_F(EditorFiles, SlotsOutsideZeroToTwoAreRefused) {
    std::string path = WriteTestImage("a.png", 37, 29, 9);
    for (int slot : {-1, 3}) {
        EXPECT_EQ(editor->LoadImage(slot, path), 1);
        EXPECT_EQ(editor->SaveImage(slot, folder.File("out.png")), 1);
        int w = 5, h = 6;
        EXPECT_EQ(editor->GetImageSize(slot, w, h), 1);
        EXPECT_EQ(w, 5);
        EXPECT_EQ(h, 6);
        EXPECT_EQ(editor->GetViewport(slot), nullptr);
    }
    ASSERT_EQ(dialogs.alerts.size(), 4u);
    EXPECT_EQ(dialogs.alerts[0], "Attempt to load into invalid image (should never happen!)");
    EXPECT_EQ(dialogs.alerts[1], "Attempt to save to invalid image (should never happen!)");
    EXPECT_EQ(editor->GetViewport(2), editor->viewports[2].get());
}

TEST_F(EditorFiles, SaveImageWritesTheSlotAndRenamesIt) {
    FillImage(editor->images[2], 53, 41, [](int x, int y) { return Rgb{x, y, x ^ y}; });
    std::string path = folder.File("frame.png");
    EXPECT_EQ(editor->SaveImage(2, path), 0);
    EXPECT_EQ(editor->images[2].fileName, path);
    CPixelImage back;
    ASSERT_EQ(ReadImageFile(path, back), 0);
    EXPECT_TRUE(SamePixels(back, editor->images[2]));
    EXPECT_TRUE(dialogs.alerts.empty());
}

TEST_F(EditorFiles, SaveImageOfAnEmptySlotOrToABadNameAlerts) {
    EXPECT_EQ(editor->SaveImage(2, folder.File("frame.png")), 1);
    ASSERT_EQ(dialogs.alerts.size(), 1u);
    EXPECT_EQ(dialogs.alerts[0], "Attempt to save to invalid image (should never happen!)");

    FillImage(editor->images[2], 11, 7, Plain(5, 6, 7));
    std::string bad = folder.File("no-such-folder/frame.png");
    EXPECT_EQ(editor->SaveImage(2, bad), 1);
    ASSERT_EQ(dialogs.alerts.size(), 2u);
    EXPECT_EQ(dialogs.alerts[1], "Error saving image file " + bad);
    EXPECT_EQ(editor->images[2].fileName, "undefined");

    // A backslash is a letter of a Linux name: the line and the alert keep it as it is.
    std::string palette = folder.File("a\\b.pal");
    testing::internal::CaptureStdout();
    EXPECT_EQ(editor->SaveImage(2, palette), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: could not save image to " + palette + ".\n");
    EXPECT_EQ(dialogs.alerts.back(), "Error saving image file " + palette);
}

// Save Image on a full disk and past the file-size limit: the alert, the reason on the
// standard error, the earlier file whole and nothing beside it.
TEST_F(EditorFiles, SaveImageThatRunsOutOfRoomAlertsAndKeepsTheEarlierFile) {
    // Noise, so that the PNG cannot shrink below 64 KB.
    FillImage(editor->images[2], 211, 157, [](int x, int y) {
        unsigned h = static_cast<unsigned>(x) * 73856093u ^ static_cast<unsigned>(y) * 19349663u;
        h *= 2654435761u;
        return Rgb{static_cast<int>(h >> 24), static_cast<int>((h >> 16) & 255), static_cast<int>((h >> 8) & 255)};
    });
    std::string limited = folder.File("limited.png");
    WriteWholeFile(limited, "earlier");
    auto limitedSave = [&]() {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{16384, 16384};
        setrlimit(RLIMIT_FSIZE, &limit);
        bool alerted = editor->SaveImage(2, limited) == 1 && dialogs.alerts.size() == 1 &&
                       dialogs.alerts[0] == "Error saving image file " + limited;
        auto entries = std::distance(std::filesystem::directory_iterator(folder.path), {});
        bool intact = ReadWholeFile(limited) == "earlier" && entries == 1;
        std::_Exit(alerted && intact ? 0 : 1);
    };
    EXPECT_EXIT(limitedSave(), testing::ExitedWithCode(0), "File too large");

    SmallDisk disk("64k");
    if (!disk.Available()) GTEST_SKIP() << disk.whyNot;
    std::string full = disk.File("frame.png");
    WriteWholeFile(full, "earlier");
    testing::internal::CaptureStderr();
    EXPECT_EQ(editor->SaveImage(2, full), 1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find(full + ": No space left on device"), std::string::npos);
    ASSERT_EQ(dialogs.alerts.size(), 1u);
    EXPECT_EQ(dialogs.alerts[0], "Error saving image file " + full);
    EXPECT_EQ(ReadWholeFile(full), "earlier");
    EXPECT_EQ(disk.Entries(), std::vector<std::string>{"frame.png"});
    EXPECT_EQ(editor->images[2].fileName, "undefined");
}

TEST_F(EditorFiles, ReadinessNeedsBothImagesButNoPairs) {
    EXPECT_FALSE(editor->IsReadyToMorph());
    ASSERT_EQ(editor->LoadImage(1, WriteTestImage("b.png", 21, 19, 2)), 0);
    EXPECT_FALSE(editor->IsReadyToMorph());
    ASSERT_EQ(editor->LoadImage(0, WriteTestImage("a.png", 23, 17, 3)), 0);
    EXPECT_TRUE(editor->IsReadyToMorph());
    EXPECT_TRUE(editor->controller->segmentsA.empty());

    MorphSettings settings;
    settings.outputWidth = 77;
    editor->ExportSettings(settings);
    EXPECT_EQ(settings.imageA, &editor->images[0]);
    EXPECT_EQ(settings.imageB, &editor->images[1]);
    EXPECT_EQ(settings.outputImage, &editor->images[2]);
    EXPECT_EQ(settings.segmentsA, &editor->controller->segmentsA);
    EXPECT_EQ(settings.segmentsB, &editor->controller->segmentsB);
    EXPECT_EQ(settings.outputWidth, 77u);
}

TEST_F(EditorFiles, ApplyingADocumentLoadsBothImagesEmptiesTheOutputAndReplacesThePairs) {
    std::string a = WriteTestImage("a.png", 41, 31, 1), b = WriteTestImage("b.png", 43, 37, 2);
    FillImage(editor->images[2], 9, 9, Plain(1, 1, 1));
    editor->controller->AddPair(Point(0.9f, 0.9f), Point(0.9f, 0.1f));
    editor->controller->selected = 0;
    MorphSettings document = Document(a, b);
    editor->ApplyMorphDocument(document);
    EXPECT_TRUE(dialogs.alerts.empty());
    EXPECT_TRUE(dialogs.questions.empty());
    EXPECT_EQ(editor->images[0].fileName, a);
    EXPECT_EQ(editor->images[1].fileName, b);
    EXPECT_EQ(editor->images[1].width, 43);
    EXPECT_TRUE(editor->images[2].IsEmpty());
    EXPECT_EQ(editor->controller->segmentsA, documentA);
    EXPECT_EQ(editor->controller->segmentsB, documentB);
    EXPECT_EQ(editor->controller->selected, -1);
    EXPECT_EQ(editor->viewports[0]->imageWidth, 41);
}

TEST_F(EditorFiles, MissingImageAIsSearchedForUntilTheUserFindsIt) {
    std::string a = WriteTestImage("a.png", 41, 31, 1), b = WriteTestImage("b.png", 43, 37, 2);
    std::string gone = folder.File("old/a.png"), wrong = folder.File("wrong.png");
    dialogs.answers = {true, true};
    dialogs.choices = {wrong, a};
    editor->ApplyMorphDocument(Document(gone, b));

    ASSERT_EQ(dialogs.alerts.size(), 2u);
    EXPECT_EQ(dialogs.alerts[0], "Could not load image " + gone);
    EXPECT_EQ(dialogs.alerts[1], "Could not load image " + wrong);
    ASSERT_EQ(dialogs.questions.size(), 2u);
    EXPECT_EQ(dialogs.questions[0], "Unable to load image " + gone + ". Search for it manually?");
    EXPECT_EQ(dialogs.questions[1], "Unable to load image " + wrong + ". Search for it manually?");
    ASSERT_EQ(dialogs.chooserCalls.size(), 2u);
    EXPECT_EQ(dialogs.chooserCalls[0].title, "Select an image");
    EXPECT_EQ(dialogs.chooserCalls[0].pattern, kImagePattern);
    EXPECT_EQ(dialogs.chooserCalls[0].presetPath, gone);
    EXPECT_EQ(dialogs.chooserCalls[1].presetPath, wrong);
    // The replacement is loaded under its own path, which the next save will write.
    EXPECT_EQ(editor->images[0].fileName, a);
    EXPECT_EQ(editor->images[1].fileName, b);
    EXPECT_EQ(editor->controller->segmentsA, documentA);
}

TEST_F(EditorFiles, DecliningTheSearchForImageALeavesEverythingElseAlone) {
    std::string oldA = WriteTestImage("oldA.png", 17, 13, 5), oldB = WriteTestImage("oldB.png", 19, 11, 6);
    ASSERT_EQ(editor->LoadImage(0, oldA), 0);
    ASSERT_EQ(editor->LoadImage(1, oldB), 0);
    FillImage(editor->images[2], 9, 9, Plain(1, 1, 1));
    editor->controller->AddPair(Point(0.9f, 0.9f), Point(0.9f, 0.1f));
    SegmentList pairs = editor->controller->segmentsA;
    std::string gone = folder.File("gone.png"), b = WriteTestImage("b.png", 43, 37, 2);

    dialogs.answers = {false};
    editor->ApplyMorphDocument(Document(gone, b));
    ASSERT_EQ(dialogs.alerts.size(), 2u);
    EXPECT_EQ(dialogs.alerts[0], "Could not load image " + gone);
    EXPECT_EQ(dialogs.alerts[1], kImageLoadFailure);
    EXPECT_EQ(dialogs.questions.size(), 1u);
    EXPECT_TRUE(dialogs.chooserCalls.empty());
    EXPECT_EQ(editor->images[0].fileName, oldA);
    EXPECT_EQ(editor->images[1].fileName, oldB);  // image B, read meanwhile, was not placed
    EXPECT_FALSE(editor->images[2].IsEmpty());
    EXPECT_EQ(editor->controller->segmentsA, pairs);
}

TEST_F(EditorFiles, ImageALoadsButImageBIsDeclined) {
    std::string oldB = WriteTestImage("oldB.png", 19, 11, 6);
    ASSERT_EQ(editor->LoadImage(1, oldB), 0);
    FillImage(editor->images[2], 9, 9, Plain(1, 1, 1));
    editor->controller->AddPair(Point(0.9f, 0.9f), Point(0.9f, 0.1f));
    SegmentList pairs = editor->controller->segmentsB;
    std::string a = WriteTestImage("a.png", 41, 31, 1), goneB = folder.File("goneB.png");

    dialogs.answers = {true};
    dialogs.choices = {""};  // the chooser is cancelled
    editor->ApplyMorphDocument(Document(a, goneB));
    ASSERT_EQ(dialogs.alerts.size(), 2u);
    EXPECT_EQ(dialogs.alerts[0], "Could not load image " + goneB);
    EXPECT_EQ(dialogs.alerts[1], kImageLoadFailure);
    ASSERT_EQ(dialogs.chooserCalls.size(), 1u);
    EXPECT_EQ(dialogs.chooserCalls[0].presetPath, goneB);
    EXPECT_EQ(editor->images[0].fileName, a);  // stays replaced
    EXPECT_EQ(editor->images[1].fileName, oldB);
    EXPECT_EQ(editor->images[2].width, 9);
    EXPECT_EQ(editor->controller->segmentsB, pairs);
}

// Both pictures are read at once, but their failures come one after the other, A's first,
// each alert with its reason on the standard error.
TEST_F(EditorFiles, WhenBothImagesFailImageAIsReportedFirst) {
    WriteWholeFile(folder.File("a.png"), "not a picture");
    WriteWholeFile(folder.File("b.png"), "");
    std::string a = folder.File("a.png"), b = folder.File("b.png"), good = WriteTestImage("good.png", 41, 31, 1);
    dialogs.answers = {true, false};
    dialogs.choices = {good};
    testing::internal::CaptureStderr();
    editor->ApplyMorphDocument(Document(a, b));
    std::string err = testing::internal::GetCapturedStderr();
    ASSERT_EQ(dialogs.alerts.size(), 3u);
    EXPECT_EQ(dialogs.alerts[0], "Could not load image " + a);
    EXPECT_EQ(dialogs.alerts[1], "Could not load image " + b);
    EXPECT_EQ(dialogs.alerts[2], kImageLoadFailure);
    EXPECT_EQ(editor->images[0].fileName, good);
    size_t reasonA = err.find(a + ": its first bytes match no image format"), reasonB = err.find(b + ": the file is empty");
    ASSERT_NE(reasonA, std::string::npos) << err;
    ASSERT_NE(reasonB, std::string::npos) << err;
    EXPECT_LT(reasonA, reasonB);
}

}  // namespace

// The button handlers outside a running morph: image loads and the output size preset,
// saving, readiness, the movie button and the size inputs.
#include <FL/Fl.H>

#include <cmath>
#include <filesystem>

#include "app/ui_fixture.h"
#include "image/chooser_pattern.h"
#include "support/hostile_files.h"

using Commands = UiTest;

TEST_F(Commands, MorphWithoutBothImagesSaysNotReadyAndChangesNothing) {
    ui->OnMorphSingleFrame();
    FillSlot(0, 31, 17, 1);
    ui->OnMorphSingleFrame();
    ASSERT_EQ(dialogs.alerts.size(), 2u);
    EXPECT_EQ(dialogs.alerts[0], "You're not ready to morph yet!");
    EXPECT_EQ(dialogs.alerts[1], "You're not ready to morph yet!");
    EXPECT_FALSE(ui->morphRunning);
    EXPECT_TRUE(ui->morphButton->active());
    EXPECT_TRUE(ui->editor->images[2].IsEmpty());
    float v = 0.5f;
    EXPECT_EQ(ui->morpher.GetProgress(&v), -1) << "no job may have been started";
}

TEST_F(Commands, MovieButtonIsInactiveAndItsHandlerOnlyApologises) {
    EXPECT_FALSE(ui->movieButton->active());
    ui->OnExportMovie();
    FillSlot(0, 31, 17, 1);
    FillSlot(1, 29, 19, 2);
    ui->OnExportMovie();
    ASSERT_EQ(dialogs.alerts.size(), 2u);
    EXPECT_EQ(dialogs.alerts[0], "You're not ready to morph yet!");
    EXPECT_EQ(dialogs.alerts[1], "This button is not yet implemented.  Sorry!");
    EXPECT_FALSE(ui->movieButton->active());
    EXPECT_TRUE(ui->editor->images[2].IsEmpty());
}

TEST_F(Commands, FirstLoadedImagePresetsTheOutputSizeOnce) {
    dialogs.choices = {WriteImage("a.png", 319, 239, 1), WriteImage("b.png", 401, 301, 2)};
    ui->loadBButton->do_callback();
    ASSERT_EQ(dialogs.chooserCalls.size(), 1u);
    EXPECT_EQ(dialogs.chooserCalls[0].title, "Select an image");
    // The image library's list as it always was, then every other readable format's extensions.
    EXPECT_EQ(dialogs.chooserCalls[0].pattern,
              WithEveryReadableExtension(
                  "*.{bmp,cut,dcx,dds,ico,jpg,lbm,lif,mdl,pcd,pcx,pic,png,pnm,psd,psp,raw,sgi,tga,tif,wal,act,pal}"));
    EXPECT_EQ(dialogs.chooserCalls[0].presetPath, "");
    EXPECT_EQ(ui->editor->images[1].width, 319);
    // State Sized: the inputs are usable and show the first image's size.
    EXPECT_TRUE(ui->widthInput->active());
    EXPECT_TRUE(ui->heightInput->active());
    EXPECT_EQ(ui->widthInput->value(), 319);
    EXPECT_EQ(ui->heightInput->value(), 239);
    EXPECT_FALSE(ui->saveImageButton->active());
    EXPECT_FALSE(ui->movieButton->active());

    ui->loadAButton->do_callback();
    EXPECT_EQ(ui->editor->images[0].width, 401);
    EXPECT_EQ(ui->widthInput->value(), 319);
    EXPECT_EQ(ui->heightInput->value(), 239);
    EXPECT_TRUE(dialogs.alerts.empty());
}

TEST_F(Commands, ImageWiderThanTheLimitPresetsTheLimit) {
    dialogs.choices = {WriteImage("wide.png", 10007, 3, 1)};
    ui->OnLoadImage(0);
    EXPECT_EQ(ui->widthInput->value(), 10000);
    EXPECT_EQ(ui->heightInput->value(), 3);
}

TEST_F(Commands, FailedLoadLeavesTheOutputSizeAlone) {
    dialogs.choices = {TempPath("missing.png")};
    ui->OnLoadImage(0);
    ASSERT_EQ(dialogs.alerts.size(), 1u);
    EXPECT_EQ(dialogs.alerts[0], "Could not load image " + TempPath("missing.png"));
    EXPECT_FALSE(ui->widthInput->active());
    EXPECT_EQ(ui->widthInput->value(), 1);
}

TEST_F(Commands, HostileImageIsAnAlertWithTheReasonOnStderrAndThePairsStay) {
    WriteImage("good.png", 31, 23, 1);
    dialogs.choices = {TempPath("good.png")};
    ui->OnLoadImage(0);
    AddPair(0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f);
    const SegmentList pairsA = ui->editor->controller->segmentsA, pairsB = ui->editor->controller->segmentsB;
    for (const HostileFile& file : MakeHostileFiles(folder.path)) {
        dialogs.alerts.clear();
        dialogs.choices = {file.path};
        testing::internal::CaptureStderr();
        ui->OnLoadImage(0);
        std::string err = testing::internal::GetCapturedStderr();
        ASSERT_EQ(dialogs.alerts.size(), 1u) << file.label;
        EXPECT_EQ(dialogs.alerts[0], "Could not load image " + file.path) << file.label;
        std::string line = "quarro: could not load image " + file.path + ": " + file.reason;
        EXPECT_EQ(err.compare(0, line.size(), line), 0) << file.label << ": " << err;
        EXPECT_EQ(ui->editor->images[0].width, 31) << file.label;
        EXPECT_EQ(ui->editor->controller->segmentsA, pairsA) << file.label;
        EXPECT_EQ(ui->editor->controller->segmentsB, pairsB) << file.label;
    }
}

TEST_F(Commands, UpdateOutputSizeReportsABadSlot) {
    EXPECT_EQ(ui->UpdateOutputSize(3), 1);
    EXPECT_FALSE(ui->widthInput->active());
    FillSlot(2, 23, 11, 1);
    EXPECT_EQ(ui->UpdateOutputSize(2), 0);
    EXPECT_EQ(ui->widthInput->value(), 23);
}

TEST_F(Commands, CancelledChoosersChangeNothing) {
    ui->OnLoadImage(0);
    ui->OnLoadImage(1);
    FillSlot(2, 13, 7, 3);
    ui->OnSaveImage(2);
    ASSERT_EQ(dialogs.chooserCalls.size(), 3u);
    EXPECT_EQ(dialogs.chooserCalls[2].title, "Where would you live to save to?");
    EXPECT_EQ(dialogs.chooserCalls[2].pattern,
              "*.{bmp,dds,jpg,pcx,png,pnm,raw,sgi,tga,tif,pal,jpeg,jpe,tiff,webp,ppm,psd,bw,rgb,rgba,hdr}");
    EXPECT_TRUE(ui->editor->images[0].IsEmpty());
    EXPECT_TRUE(ui->editor->images[1].IsEmpty());
    EXPECT_FALSE(ui->widthInput->active());
    EXPECT_TRUE(dialogs.alerts.empty());
    EXPECT_TRUE(std::filesystem::is_empty(folder.path));
}

TEST_F(Commands, ModeButtonsBehaveAsAGroup) {
    ui->editButton->do_callback();
    EXPECT_EQ(ui->addButton->value() + ui->editButton->value() + ui->deleteButton->value(), 1);
    EXPECT_EQ(ui->editButton->value(), 1);
    EXPECT_EQ(ui->editor->mode, Edit);
    ui->deleteButton->do_callback();
    EXPECT_EQ(ui->deleteButton->value(), 1);
    EXPECT_EQ(ui->editButton->value(), 0);
    EXPECT_EQ(ui->editor->mode, Delete);
    ui->addButton->do_callback();
    EXPECT_EQ(ui->addButton->value(), 1);
    EXPECT_EQ(ui->deleteButton->value(), 0);
    EXPECT_EQ(ui->editor->mode, Add);
}

TEST_F(Commands, TypedOutputSizeIsBroughtIntoRange) {
    ui->widthInput->activate();
    auto type = [](Fl_Value_Input* in, const char* text) {
        in->input.value(text);
        in->input.do_callback();
    };
    type(ui->widthInput, "20000");
    EXPECT_EQ(ui->widthInput->value(), 10000);
    type(ui->widthInput, "0");
    EXPECT_EQ(ui->widthInput->value(), 1);
    type(ui->heightInput, "-7");
    EXPECT_EQ(ui->heightInput->value(), 1);
    type(ui->heightInput, "640");
    EXPECT_EQ(ui->heightInput->value(), 640);
    // An emptied box is left to the user until the morph request.
    type(ui->heightInput, "");
    EXPECT_STREQ(ui->heightInput->input.value(), "");
}


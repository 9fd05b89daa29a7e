// A morph run from the window: the state table from Sized through Morphing to Done, the
// hand-over of the end to this thread, the progress bar and the request's values.
#include <FL/Fl.H>
#include <FL/Fl_Menu_Bar.H>

#include <chrono>
#include <cstring>
#include <thread>

#include "app/ui_fixture.h"
#include "morph/fast_sqrt.h"
#include "morph/morph_scene.h"

namespace {

const Fl_Menu_Item* MenuItem(CMorphUI* ui, int index) {
    Fl_Menu_Bar* bar = static_cast<Fl_Menu_Bar*>(ui->mainWindow->child(0));
    return &bar->menu()[index];
}

}  // namespace

class MorphRun : public UiTest {
protected:
    // Both images in memory, a few pairs, and the output size in the inputs.
    void PrepareScene(int outW, int outH) {
        FillSlot(0, 319, 239, 1);
        FillSlot(1, 241, 163, 2);
        AddPair(0.2f, 0.2f, 0.8f, 0.3f, 0.25f, 0.1f, 0.7f, 0.35f);
        AddPair(0.1f, 0.9f, 0.4f, 0.6f, 0.15f, 0.8f, 0.5f, 0.7f);
        AddPair(0.6f, 0.9f, 0.9f, 0.5f, 0.55f, 0.95f, 0.85f, 0.45f);
        ui->UpdateOutputSize(0);
        ui->widthInput->value(outW);
        ui->heightInput->value(outH);
    }
    // A scene whose morph lasts long enough to be watched while the output stays small
    // enough to be drawn quickly: many pairs over a modest frame.
    void PrepareSlowScene() {
        PrepareScene(701, 521);
        for (int i = 0; i < 60; ++i) {
            float t = static_cast<float>(i) / 60.0f;
            AddPair(t, 0.1f, t + 0.05f, 0.9f, t + 0.01f, 0.12f, t + 0.04f, 0.85f);
        }
    }
};

TEST_F(MorphRun, LocksTheControlsWhileModeButtonsMenuAndAboutStillWork) {
    PrepareSlowScene();
    ui->morphButton->do_callback();
    ASSERT_TRUE(ui->morphRunning) << (dialogs.alerts.empty() ? "" : dialogs.alerts[0]);

    // Morphing: the locked controls and the editor's input are off, the rest is usable.
    for (Fl_Widget* w : LockedControls()) EXPECT_FALSE(w->active()) << w->label();
    EXPECT_FALSE(ui->editor->inputEnabled);
    EXPECT_FALSE(ui->movieButton->active());
    EXPECT_FALSE(ui->loadMorphItem->active());
    EXPECT_TRUE(MenuItem(ui, 2)->active()) << "Save Morph";
    EXPECT_TRUE(MenuItem(ui, 3)->active()) << "Exit";
    EXPECT_TRUE(MenuItem(ui, 6)->active()) << "About";
    EXPECT_TRUE(ui->addButton->active());
    EXPECT_TRUE(ui->editButton->active());
    EXPECT_TRUE(ui->deleteButton->active());

    ui->editButton->do_callback();
    EXPECT_EQ(ui->editor->mode, Edit);
    EXPECT_EQ(ui->editButton->value(), 1);
    // The About entry's own callback, as the menu would call it.
    MenuItem(ui, 6)->do_callback(ui->mainWindow->child(0));
    Pump();
    EXPECT_TRUE(ui->aboutWindow->shown());
    ui->OnAboutClose();
    // The editor refuses mouse input.
    Fl::e_state = FL_BUTTON1;
    EXPECT_EQ(ui->editor->handle(FL_PUSH), 0);
    Fl::e_state = 0;

    ASSERT_TRUE(WaitForMorphEnd());
    // Done: everything but the movie button.
    for (Fl_Widget* w : LockedControls()) EXPECT_TRUE(w->active()) << w->label();
    EXPECT_TRUE(ui->editor->inputEnabled);
    EXPECT_TRUE(ui->loadMorphItem->active());
    EXPECT_FALSE(ui->movieButton->active());
    EXPECT_EQ(ui->editor->images[2].width, 701);
    EXPECT_EQ(ui->editor->images[2].height, 521);
    EXPECT_TRUE(dialogs.alerts.empty());
}

TEST_F(MorphRun, JobsThatEndAtOnceStillLeaveEveryControlOn) {
    PrepareScene(1, 1);
    for (int i = 0; i < 40; ++i) {
        SCOPED_TRACE(i);
        ui->OnMorphSingleFrame();
        // Give the tiny job every chance to end before the handler's caller looks again.
        ui->morpher.WaitUntilIdle();
        ASSERT_TRUE(WaitForMorphEnd(10.0));
        for (Fl_Widget* w : LockedControls()) ASSERT_TRUE(w->active()) << w->label();
        ASSERT_TRUE(ui->editor->inputEnabled);
        ASSERT_TRUE(ui->loadMorphItem->active());
    }
    EXPECT_EQ(ui->editor->images[2].width, 1);
    EXPECT_EQ(ui->editor->images[2].height, 1);
}

TEST_F(MorphRun, EndReachesTheUserInterfaceThroughTheTimerAsWell) {
    PrepareScene(3, 5);
    ui->OnMorphSingleFrame();
    ui->morpher.WaitUntilIdle();
    // No event loop has run: only the engine's flag is set.
    EXPECT_TRUE(ui->morphRunning);
    EXPECT_FALSE(ui->morphButton->active());
    ProgressTick(nullptr);
    Fl::remove_timeout(ProgressTick);
    EXPECT_FALSE(ui->morphRunning);
    EXPECT_TRUE(ui->morphButton->active());
    // The wake-up that arrives later finds nothing left to do.
    ui->morphButton->deactivate();
    Pump(0.1);
    EXPECT_FALSE(ui->morphButton->active());
}

TEST_F(MorphRun, ProgressBarHiddenThenShowsTheFractionThenFull) {
    ProgressTick(nullptr);
    EXPECT_FALSE(ui->progressBar->visible());
    PrepareScene(2999, 2201);
    // The plain kernel keeps the morph running long enough for the polls to see it part-done.
    ui->morpher.SetKernel(MorphKernel::Plain);
    ui->OnMorphSingleFrame();
    ASSERT_TRUE(ui->morphRunning);
    // The timer's work, done here as often as the morph allows, without drawing in between.
    bool sawPart = false;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(300);
    while (ui->morphRunning && std::chrono::steady_clock::now() < end) {
        ProgressTick(nullptr);
        if (ui->progressBar->visible() && ui->morphRunning) {
            float v = ui->progressBar->value();
            EXPECT_FLOAT_EQ(ui->progressBar->minimum(), 0.0f);
            EXPECT_FLOAT_EQ(ui->progressBar->maximum(), 1.0f);
            EXPECT_GT(v, 0.0f);
            EXPECT_LE(v, 1.0f);
            if (v < 1.0f) sawPart = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    Fl::remove_timeout(ProgressTick);
    ASSERT_FALSE(ui->morphRunning);
    EXPECT_TRUE(sawPart) << "the bar never showed a part-done morph";
    ProgressTick(nullptr);
    Fl::remove_timeout(ProgressTick);
    EXPECT_TRUE(ui->progressBar->visible());
    EXPECT_FLOAT_EQ(ui->progressBar->value(), 1.0f);
}

TEST_F(MorphRun, SaveImageIsDisabledUntilTheFirstMorphEndsThenSavesTheFrame) {
    PrepareScene(57, 43);
    EXPECT_FALSE(ui->saveImageButton->active());
    ui->OnMorphSingleFrame();
    EXPECT_FALSE(ui->saveImageButton->active());
    ASSERT_TRUE(WaitForMorphEnd());
    EXPECT_TRUE(ui->saveImageButton->active());

    std::string path = TempPath("frame.png");
    dialogs.choices = {path};
    ui->saveImageButton->do_callback();
    ASSERT_EQ(dialogs.chooserCalls.size(), 1u);
    EXPECT_EQ(dialogs.chooserCalls[0].title, "Where would you live to save to?");
    CPixelImage back;
    ASSERT_EQ(back.Load(path), 0);
    ASSERT_EQ(back.width, 57);
    ASSERT_EQ(back.height, 43);
    EXPECT_EQ(std::memcmp(back.pixels, ui->editor->images[2].pixels, back.ByteCount()), 0);
}

TEST_F(MorphRun, RequestCarriesTheSliderTheSizeAndTheFixedWeights) {
    PrepareScene(1, 1);
    // Values outside the range that reached the inputs without typing.
    ui->widthInput->value(0);
    ui->heightInput->value(12345.7);
    ui->OnMorphSingleFrame();
    ASSERT_TRUE(WaitForMorphEnd());
    EXPECT_EQ(ui->editor->images[2].width, 1);
    EXPECT_EQ(ui->editor->images[2].height, 10000);
    EXPECT_EQ(ui->widthInput->value(), 1);
    EXPECT_EQ(ui->heightInput->value(), 10000);

    for (double slider : {0.0, 0.37, 1.0}) {
        SCOPED_TRACE(slider);
        ui->widthInput->value(61);
        ui->heightInput->value(47.9);
        ui->interpSlider->value(slider);
        ui->OnMorphSingleFrame();
        ASSERT_TRUE(WaitForMorphEnd());

        // The same morph asked of an engine of our own with the values the window must use.
        CPixelImage expected;
        MorphSettings s;
        PointSettingsAt(s, ui->editor->images[0], ui->editor->images[1], expected, ui->editor->controller->segmentsA,
                        ui->editor->controller->segmentsB);
        s.dissoveFrac = static_cast<float>(slider);
        s.warpFrac = static_cast<float>(slider);
        s.a = 0.01f;
        s.b = 2.0f;
        s.p = 0.2f;
        s.outputWidth = 61;
        s.outputHeight = 47;
        CImageMorpher reference;
        reference.SetThreadCount(4);
        ASSERT_EQ(reference.StartMorph(s), 0);
        reference.WaitUntilIdle();
        const CPixelImage& got = ui->editor->images[2];
        ASSERT_EQ(got.width, 61);
        ASSERT_EQ(got.height, 47);
        ASSERT_EQ(got.bytesPerPixel, 4);
        EXPECT_EQ(std::memcmp(got.pixels, expected.pixels, expected.ByteCount()), 0);
    }
}

TEST_F(MorphRun, OutputBufferIsSizedBeforeTheJobAndKeptByIt) {
    PrepareSlowScene();
    ui->OnMorphSingleFrame();
    ASSERT_TRUE(ui->morphRunning);
    // The buffer the output panel draws exists at its final size from the request on.
    const unsigned char* buffer = ui->editor->images[2].pixels;
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(ui->editor->images[2].width, 701);
    EXPECT_EQ(ui->editor->images[2].height, 521);
    ASSERT_TRUE(WaitForMorphEnd());
    EXPECT_EQ(ui->editor->images[2].pixels, buffer);
}

TEST_F(MorphRun, LoadMorphDuringAMorphIsRefused) {
    PrepareSlowScene();
    const SegmentList before = ui->editor->controller->segmentsA;
    ui->OnMorphSingleFrame();
    ASSERT_TRUE(ui->morphRunning);
    EXPECT_FALSE(ui->loadMorphItem->active());
    dialogs.choices = {TempPath("any.mrf")};
    ui->OnLoadMorph();
    EXPECT_TRUE(dialogs.chooserCalls.empty());
    EXPECT_TRUE(dialogs.alerts.empty());
    EXPECT_EQ(ui->editor->images[0].width, 319);
    EXPECT_EQ(ui->editor->controller->segmentsA, before);
    ASSERT_TRUE(WaitForMorphEnd());
    EXPECT_TRUE(ui->loadMorphItem->active());
}

using MorphRunDeathTest = MorphRun;

TEST_F(MorphRunDeathTest, ExitDuringAMorphEndsTheProcessWithZero) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            PrepareSlowScene();
            ui->OnMorphSingleFrame();
            if (!ui->morphRunning) std::_Exit(3);
            MenuItem(ui, 3)->do_callback(ui->mainWindow->child(0));
            std::_Exit(4);
        },
        ::testing::ExitedWithCode(0), "");
}

// An in-process main window under the test's X display, with the dialog seam answering the
// choosers and questions from queues and recording every alert.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/morph_ui.h"
#include "support/recording_dialogs.h"
#include "support/temp_folder.h"

class UiTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs the event loop until the condition holds or the time is up; the condition's value.
    bool PumpUntil(const std::function<bool()>& condition, double seconds = 60.0);
    void Pump(double seconds = 0.05);
    // Runs the event loop until the morph's end has switched the controls back on.
    bool WaitForMorphEnd(double seconds = 120.0);

    // A directory of the test's own, removed at the end.
    std::string TempPath(const std::string& name) const;
    // Writes a 4-byte RGBA image with a pattern that differs per seed; the file's path.
    std::string WriteImage(const std::string& name, int w, int h, int seed);
    // Fills an editor slot in memory (no file) with the same pattern.
    void FillSlot(int slot, int w, int h, int seed);
    void AddPair(float ax, float ay, float bx, float by, float cx, float cy, float dx, float dy);

    // The morph-locked controls, in the order they are switched.
    std::vector<Fl_Widget*> LockedControls() const;

    // Answers the window's dialogs the same way as in the editor's tests.
    RecordingDialogs dialogs;
    CMorphUI* ui = nullptr;
    TempFolder folder;
};

void FillPattern(CPixelImage& image, int w, int h, int seed);

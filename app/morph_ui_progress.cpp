// The morph's progress display and the end of a morph: the engine reports the end on its
// own thread, and the controls are switched back on by the user-interface thread.
#include <FL/Fl.H>

#include "app/morph_ui.h"

namespace {

// Runs on the user-interface thread, delivered by the toolkit's wake-up.
void MorphEndedOnUiThread(void* data) { static_cast<CMorphUI*>(data)->TakeMorphEnd(); }

}  // namespace

void EnableThreadWakeUp() {
    static bool enabled = false;
    if (enabled) return;
    enabled = true;
    // The first lock sets up the channel through which Fl::awake reaches the event loop.
    Fl::lock();
}

void OnMorphFinished(void* data) {
    CMorphUI* ui = static_cast<CMorphUI*>(data);
    ui->morphEndPending.store(true);
    // Should the wake-up queue be full, the next ProgressTick takes the end instead.
    Fl::awake(MorphEndedOnUiThread, ui);
}

bool CMorphUI::TakeMorphEnd() {
    if (!morphEndPending.exchange(false)) return false;
    morphRunning = false;
    SetControlsEnabled(true);
    editor->redraw();
    return true;
}

float CMorphUI::GetMorphProgress() {
    float v = 0.0f;
    morpher.GetProgress(&v);
    return v;
}

void ProgressTick(void*) {
    Fl::add_timeout(static_cast<double>(kProgressPeriod), ProgressTick, nullptr);
    CMorphUI* ui = gMorphUI;
    if (ui == nullptr) return;
    ui->TakeMorphEnd();
    const float v = ui->GetMorphProgress();
    if (v > 0.0f) {
        ui->progressBar->show();
        ui->progressBar->minimum(0.0f);
        ui->progressBar->maximum(1.0f);
        ui->progressBar->value(ui->GetMorphProgress());
    } else {
        ui->progressBar->hide();
    }
    ui->editor->redraw();
}

// The handlers of the main window's buttons, mode buttons and about box, and the switching
// of the controls that a running morph locks.
#include <FL/Fl.H>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "app/morph_ui.h"
#include "editor/dialogs.h"
#include "image/chooser_pattern.h"
#include "image/writable_formats.h"

namespace {

// The image library's extensions as the window has always offered them, then those of every
// other format the program reads (the decoding helper's own, and other names of the same kinds).
const std::string& ImageLoadFilter() {
    static const std::string kFilter = WithEveryReadableExtension(
        "*.{bmp,cut,dcx,dds,ico,jpg,lbm,lif,mdl,pcd,pcx,pic,png,pnm,psd,psp,raw,sgi,tga,tif,wal,act,pal}");
    return kFilter;
}
// The extensions the window has always offered for saving, then every other one the program
// writes (webp, jpeg, tiff, ...).
const std::string& ImageSaveFilter() {
    static const std::string kFilter = WithEveryWritableExtension("*.{bmp,dds,jpg,pcx,png,pnm,raw,sgi,tga,tif,pal}");
    return kFilter;
}

const char* const kNotReady = "You're not ready to morph yet!";

void SetActive(Fl_Widget* w, bool on) {
    if (on) {
        w->activate();
    } else {
        w->deactivate();
    }
}

}  // namespace

void CMorphUI::OnLoadImage(int slot) {
    std::string path = ChooseFile("Select an image", ImageLoadFilter().c_str());
    if (path.empty()) return;
    if (editor->LoadImage(slot, path) == 0) UpdateOutputSize(slot);
}

void CMorphUI::OnSaveImage(int slot) {
    std::string path = ChooseFile("Where would you live to save to?", ImageSaveFilter().c_str());
    if (path.empty()) return;
    editor->SaveImage(slot, path);
}

void CMorphUI::OnMorphSingleFrame() {
    if (!editor->IsReadyToMorph()) {
        ShowAlert("%s", kNotReady);
        return;
    }

    MorphSettings settings;
    settings.dissoveFrac = static_cast<float>(interpSlider->value());
    settings.warpFrac = static_cast<float>(interpSlider->value());
    settings.a = kFieldWeightA;
    settings.b = kFieldWeightB;
    settings.p = kFieldWeightP;
    const int width = ClampOutputSide(widthInput->value());
    const int height = ClampOutputSide(heightInput->value());
    // What the inputs show is what the morph makes.
    widthInput->value(width);
    heightInput->value(height);
    settings.outputWidth = static_cast<uint32_t>(width);
    settings.outputHeight = static_cast<uint32_t>(height);
    editor->ExportSettings(settings);

    // The buffer the engine will keep, black until the rows arrive: the output panel draws it
    // during the morph and so never reads a buffer that the engine has freed.
    CPixelImage& output = editor->images[2];
    if (PrepareOutputBuffer(output, static_cast<uint32_t>(width), static_cast<uint32_t>(height)) &&
        output.pixels != nullptr) {
        std::memset(output.pixels, 0, output.ByteCount());
    }

    morpher.SetThreadCount(kMorphThreads);
    // Switched off and registered before the job exists, so that even a job that ends at
    // once finds its callback, and its switching on comes after this switching off.
    const bool saveWasActive = saveImageButton->active();
    const bool sizeWasActive = widthInput->active();
    SetControlsEnabled(false);
    morphRunning = true;
    morphEndPending.store(false);
    morpher.SetCompletionCallback(OnMorphFinished, this);
    if (morpher.StartMorph(settings) != 0) {
        // Refused: no callback stays registered and the controls are as they were.
        morpher.SetCompletionCallback(nullptr, nullptr);
        morphRunning = false;
        SetControlsEnabled(true);
        if (!saveWasActive) saveImageButton->deactivate();
        if (!sizeWasActive) {
            widthInput->deactivate();
            heightInput->deactivate();
        }
        ShowAlert("Morphing error!");
    }
    editor->redraw();
}

void CMorphUI::OnExportMovie() {
    if (!editor->IsReadyToMorph()) {
        ShowAlert("%s", kNotReady);
        return;
    }
    ShowAlert("This button is not yet implemented.  Sorry!");
    editor->redraw();
}

void CMorphUI::ReleaseModeButtons() {
    addButton->value(0);
    editButton->value(0);
    deleteButton->value(0);
}

void CMorphUI::OnAddMode() {
    ReleaseModeButtons();
    addButton->value(1);
    editor->SetEditMode(Add);
}

void CMorphUI::OnEditMode() {
    ReleaseModeButtons();
    editButton->value(1);
    editor->SetEditMode(Edit);
}

void CMorphUI::OnDeleteMode() {
    ReleaseModeButtons();
    deleteButton->value(1);
    editor->SetEditMode(Delete);
}

void CMorphUI::OnAbout() { aboutWindow->show(); }

void CMorphUI::OnAboutClose() { aboutWindow->hide(); }

void CMorphUI::OnExit() { std::exit(0); }

void CMorphUI::OnOutputSizeTyped(Fl_Value_Input* input) {
    // While the text is empty or a lone sign the user is still typing; the morph request
    // clamps whatever is left there.
    const char* text = input->input.value();
    if (text == nullptr || text[0] == '\0' || std::strcmp(text, "-") == 0 || std::strcmp(text, "+") == 0) return;
    const double value = input->value();
    const int clamped = ClampOutputSide(value);
    if (value != clamped) input->value(clamped);
}

void CMorphUI::SetControlsEnabled(bool on) {
    editor->SetInputEnabled(on);
    SetActive(loadAButton, on);
    SetActive(loadBButton, on);
    SetActive(saveImageButton, on);
    SetActive(morphButton, on);
    SetActive(widthInput, on);
    SetActive(heightInput, on);
    SetActive(interpSlider, on);
    if (loadMorphItem != nullptr) {
        if (on) {
            loadMorphItem->activate();
        } else {
            loadMorphItem->deactivate();
        }
    }
}

int CMorphUI::UpdateOutputSize(int slot) {
    int w = 0;
    int h = 0;
    const int status = editor->GetImageSize(slot, w, h);
    if (status != 0) return status;
    // Nothing to preset from an image that failed to load (a document whose images were
    // not found): the size stays open for the next image that does load.
    if (widthInput->active() || w <= 0 || h <= 0) return 0;
    widthInput->activate();
    widthInput->value(widthInput->clamp(w));
    heightInput->activate();
    heightInput->value(heightInput->clamp(h));
    return 0;
}

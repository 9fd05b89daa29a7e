// The File menu's document commands: save the set-up to a .mrf document, and load one into
// the editor. The alerts name the file; the reason of a failure goes to the standard error.
#include <cstdio>
#include <string>

#include "app/morph_ui.h"
#include "document/image_path.h"
#include "document/mrf_file.h"
#include "editor/dialogs.h"
#include "files/printable_name.h"

namespace {

std::string LocatedImage(const std::string& stored, const std::string& documentPath, const char* which) {
    DocumentImage image = LocateDocumentImage(stored, documentPath);
    if (!image.note.empty()) {
        std::fprintf(stderr, "%s: image %s %s: %s\n", PrintableName(documentPath).c_str(), which,
                     PrintableName(stored).c_str(), PrintableName(image.note).c_str());
    }
    return image.path;
}

}  // namespace

void CMorphUI::OnSaveMorph() {
    if (!editor->IsReadyToMorph()) {
        ShowAlert("You're not ready to morph yet!");
        return;
    }
    // Every saved document carries these five values, whatever the window's controls show.
    MorphSettings settings;
    settings.dissoveFrac = 0.5f;
    settings.warpFrac = 0.5f;
    settings.a = kFieldWeightA;
    settings.b = kFieldWeightB;
    settings.p = kFieldWeightP;
    editor->ExportSettings(settings);

    std::string path = ChooseFile("Select a destination", "*.mrf");
    if (path.empty()) return;
    std::string reason;
    if (WriteMorphFile(path, settings, reason) != 0) {
        std::fprintf(stderr, "%s: %s\n", PrintableName(path).c_str(), PrintableName(reason).c_str());
        ShowAlert("Error saving to file %s", PrintableName(path).c_str());
    }
}

void CMorphUI::OnLoadMorph() {
    // A document replaces the images and segment pairs that a running morph reads; the
    // menu entry is switched off meanwhile, and a call that still arrives changes nothing.
    if (morphRunning) return;
    std::string path = ChooseFile("Select a saved morph", "*.mrf");
    if (path.empty()) {
        editor->redraw();
        return;
    }
    LoadMorphDocument(path);
}

void CMorphUI::LoadMorphDocument(const std::string& path) {
    if (morphRunning) return;
    SegmentList segmentsA;
    SegmentList segmentsB;
    MorphSettings settings;
    settings.segmentsA = &segmentsA;
    settings.segmentsB = &segmentsB;

    std::string reason;
    if (ReadMorphFile(path, settings, reason) != 0) {
        std::fprintf(stderr, "%s: %s\n", PrintableName(path).c_str(), PrintableName(reason).c_str());
        ShowAlert("Error loading file %s", PrintableName(path).c_str());
        return;
    }
    // Relative image paths are looked for beside the document first, as the renderer does;
    // which one was taken, or where a missing one was looked for, goes to the standard error.
    settings.imagePathA = LocatedImage(settings.imagePathA, path, "A");
    settings.imagePathB = LocatedImage(settings.imagePathB, path, "B");
    editor->ApplyMorphDocument(settings);
    UpdateOutputSize(0);
    editor->redraw();
}

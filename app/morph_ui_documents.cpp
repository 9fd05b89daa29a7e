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

// Where the document's image is loaded from, with the relative name it is found through ("" for
// an absolute one).
PictureOrigin LocatedImage(const std::string& stored, const std::string& documentPath, const char* which) {
    DocumentImage image = LocateDocumentImage(stored, documentPath);
    if (!image.note.empty()) {
        std::fprintf(stderr, "%s: image %s %s: %s\n", PrintableName(documentPath).c_str(), which,
                     PrintableName(stored).c_str(), PrintableName(image.note).c_str());
    }
    const bool relative = image.found && !stored.empty() && stored[0] != '/';
    return PictureOrigin{image.path, relative ? stored : std::string()};
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
    // A picture still the one a document's relative name found keeps a name relative to the
    // new document; one chosen by hand keeps its path.
    std::string names[2];
    for (int slot = 0; slot < 2; ++slot) {
        const std::string& loaded = editor->images[slot].fileName;
        const PictureOrigin& origin = documentPictures[slot];
        names[slot] = SpellPicturePath({loaded, loaded == origin.loaded ? origin.stored : std::string()}, path);
    }
    std::string reason;
    if (WriteMorphFile(path, settings, names[0], names[1], reason) != 0) {
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
    const PictureOrigin located[2] = {LocatedImage(settings.imagePathA, path, "A"),
                                      LocatedImage(settings.imagePathB, path, "B")};
    settings.imagePathA = located[0].loaded;
    settings.imagePathB = located[1].loaded;
    editor->ApplyMorphDocument(settings);
    for (int slot = 0; slot < 2; ++slot) {
        if (editor->images[slot].fileName == located[slot].loaded) documentPictures[slot] = located[slot];
    }
    UpdateOutputSize(0);
    editor->redraw();
}

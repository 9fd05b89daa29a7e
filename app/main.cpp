// Quarro's entry: the square-root table, the temporary-file cleanup on signals, the one main
// window, the progress timer and the toolkit's event loop. Nothing is torn down at exit.
#include <FL/Fl.H>

#include "app/morph_ui.h"
#include "files/pending_temps.h"
#include "morph/fast_sqrt.h"

int main(int argc, char** argv) {
    InitFastSqrt();
    // A kill during a save removes its temporary file.
    RemoveTempsOnSignals();
    gMorphUI = new CMorphUI();
    gMorphUI->mainWindow->show(argc, argv);
    Fl::add_timeout(static_cast<double>(kProgressPeriod), ProgressTick, nullptr);
    return Fl::run();
}

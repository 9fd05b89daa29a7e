// Quarro's entry: the command line, the square-root table, the temporary-file cleanup on
// signals, the one main window, the progress timer, the document named on the command line,
// and the toolkit's event loop. Nothing is torn down at exit.
#include <FL/Fl.H>
#include <FL/x.H>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/morph_ui.h"
#include "files/pending_temps.h"
#include "files/printable_name.h"
#include "morph/fast_sqrt.h"

namespace {

std::string gStartDocument;

// Runs inside the event loop, once the window is up, so that the load's alerts and questions
// appear over it as they do for File > Load Morph.
void LoadStartDocument(void*) { gMorphUI->LoadMorphDocument(gStartDocument); }

}  // namespace

int main(int argc, char** argv) {
    CommandLine commandLine = ParseCommandLine(argc, argv);
    switch (commandLine.action) {
        case CommandLine::Action::kHelp:
            std::fputs(UsageText().c_str(), stdout);
            return 0;
        case CommandLine::Action::kVersion:
            std::printf("quarro %s\n", QuarroVersion());
            return 0;
        case CommandLine::Action::kUsageError:
            std::fprintf(stderr, "quarro: %s\nTry 'quarro --help'.\n", PrintableName(commandLine.error).c_str());
            return 2;
        case CommandLine::Action::kRun:
            break;
    }

    // The display is opened here, so that its absence is said in words a user can act on
    // rather than in the toolkit's fatal error.
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "quarro: %s\n", PrintableName(NoDisplayReason(std::getenv("DISPLAY"))).c_str());
        return 1;
    }
    fl_open_display(display);

    InitFastSqrt();
    // A kill during a save removes its temporary file.
    RemoveTempsOnSignals();
    gMorphUI = new CMorphUI();
    std::vector<char*> toolkitArgs;
    for (std::string& word : commandLine.toolkitWords) toolkitArgs.push_back(word.data());
    toolkitArgs.push_back(nullptr);
    gMorphUI->mainWindow->show(static_cast<int>(commandLine.toolkitWords.size()), toolkitArgs.data());
    Fl::add_timeout(static_cast<double>(kProgressPeriod), ProgressTick, nullptr);
    if (!commandLine.documentPath.empty()) {
        gStartDocument = commandLine.documentPath;
        Fl::add_timeout(0.0, LoadStartDocument, nullptr);
    }
    return Fl::run();
}

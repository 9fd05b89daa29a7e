// The window's command line: the toolkit's own options (geometry, title, scheme, colours...),
// --help and --version, and at most one morph document to open at start-up.
#pragma once

#include <string>
#include <vector>

struct CommandLine {
    enum class Action { kRun, kHelp, kVersion, kUsageError };
    Action action = Action::kRun;
    // The document to load once the window is up, made absolute as the file chooser gives it;
    // empty when none was named.
    std::string documentPath;
    // What was wrong with the words, for kUsageError.
    std::string error;
    // The program's name and the toolkit's options with their values, for Fl_Window::show:
    // the document is not among them, since the toolkit's parser refuses any word it does not know.
    std::vector<std::string> toolkitWords;
};

// Reads argv in order; the first --help, --version or wrong word decides. The toolkit's options
// are handed to the toolkit, which keeps them for Fl_Window::show(argc, argv). Opens no display.
CommandLine ParseCommandLine(int argc, char** argv);

// The --help text: how to call the program, its own options and the toolkit's.
std::string UsageText();

// The project's version, as --version prints it.
const char* QuarroVersion();

// The one line said when no display can be opened: why, and what to do instead. `display` is
// the DISPLAY variable's value, or nullptr when it is not set.
std::string NoDisplayReason(const char* display);

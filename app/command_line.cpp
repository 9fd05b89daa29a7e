// Parsing of the window's command line. Words are taken in order: the program's own options,
// the toolkit's (Fl::arg consumes each with its value and remembers it for the window), then
// the document; after "--" every word is a document, even one that begins with '-'.
#include "app/command_line.h"

#include <FL/Fl.H>

#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#ifndef QUARRO_VERSION
#define QUARRO_VERSION "unknown"
#endif

namespace {

CommandLine Refuse(const std::string& error) {
    CommandLine result;
    result.action = CommandLine::Action::kUsageError;
    result.error = error;
    return result;
}

// What the file chooser would give for the same file: an absolute path, without "." steps.
std::string AbsolutePath(const std::string& path) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error) return path;
    return absolute.lexically_normal().string();
}

}  // namespace

CommandLine ParseCommandLine(int argc, char** argv) {
    std::vector<std::string> documents;
    std::vector<std::string> toolkitWords = {argc > 0 ? argv[0] : "quarro"};
    bool optionsEnded = false;
    int i = 1;
    while (i < argc) {
        const char* word = argv[i];
        const bool looksLikeOption = !optionsEnded && word[0] == '-' && word[1] != '\0';
        if (!looksLikeOption) {
            documents.emplace_back(word);
            ++i;
        } else if (std::strcmp(word, "--") == 0) {
            optionsEnded = true;
            ++i;
        } else if (std::strcmp(word, "--help") == 0 || std::strcmp(word, "-h") == 0) {
            CommandLine result;
            result.action = CommandLine::Action::kHelp;
            return result;
        } else if (std::strcmp(word, "--version") == 0) {
            CommandLine result;
            result.action = CommandLine::Action::kVersion;
            return result;
        } else {
            const int at = i;
            if (Fl::arg(argc, argv, i) == 0) {
                return Refuse(std::string(word) + " is no option of this program or its toolkit, or its value is missing");
            }
            toolkitWords.insert(toolkitWords.end(), argv + at, argv + i);
        }
    }
    if (documents.size() > 1) {
        return Refuse("one document at a time: " + documents[0] + " and " + documents[1] + " were both named");
    }
    CommandLine result;
    if (!documents.empty()) result.documentPath = AbsolutePath(documents[0]);
    result.toolkitWords = std::move(toolkitWords);
    return result;
}

std::string UsageText() {
    return std::string(
               "Usage: quarro [TOOLKIT OPTIONS] [DOCUMENT.mrf]\n"
               "Morphs one still image into another along pairs of line segments.\n"
               "DOCUMENT, a morph document, is opened at start-up as File > Load Morph opens it.\n"
               "\n"
               "  -h, --help   print this text and exit\n"
               "  --version    print the version and exit\n"
               "  --           every word after it is the document, even one beginning with '-'\n"
               "\n"
               "Toolkit options (the letters in brackets may be left out):\n") +
           Fl::help + "\n";
}

const char* QuarroVersion() { return QUARRO_VERSION; }

std::string NoDisplayReason(const char* display) {
    const std::string instead = "; quarro-render renders documents without a window";
    if (display == nullptr || *display == '\0') {
        return "no display to open the window on: DISPLAY is not set (e.g. DISPLAY=:0)" + instead;
    }
    return "cannot open the display '" + std::string(display) + "' named by DISPLAY" + instead;
}

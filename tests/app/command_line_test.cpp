// The window's command line: the toolkit's options pass, --help and --version are found
// wherever they stand before "--", one document is made absolute, and wrong words are named.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

CommandLine Parse(std::vector<std::string> words) {
    words.insert(words.begin(), "quarro");
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    return ParseCommandLine(static_cast<int>(words.size()), argv.data());
}

using Action = CommandLine::Action;

struct Case {
    const char* label;
    std::vector<std::string> words;
    Action action;
    std::string document;  // relative to the current folder; "" for none
    std::string errorNames;  // a word the error must name
};

}  // namespace

TEST(CommandLine, WordsAreReadInOrder) {
    const std::string here = std::filesystem::current_path().string();
    const Case cases[] = {
        {"nothing", {}, Action::kRun, "", ""},
        {"a document", {"examples/demo.mrf"}, Action::kRun, "examples/demo.mrf", ""},
        {"after toolkit options", {"-title", "T", "-g", "300x200+0+0", "-iconic", "a.mrf"}, Action::kRun, "a.mrf", ""},
        {"steps removed", {"./x/../b.mrf"}, Action::kRun, "b.mrf", ""},
        {"help", {"--help"}, Action::kHelp, "", ""},
        {"short help", {"-scheme", "plastic", "-h", "a.mrf"}, Action::kHelp, "", ""},
        {"version", {"a.mrf", "--version", "--help"}, Action::kVersion, "", ""},
        {"a title that looks like an option", {"-title", "--help"}, Action::kRun, "", ""},
        {"document after --", {"--", "-odd.mrf"}, Action::kRun, "-odd.mrf", ""},
        {"help after --", {"--", "--help"}, Action::kRun, "--help", ""},
        {"two documents", {"a.mrf", "b.mrf"}, Action::kUsageError, "", "b.mrf"},
        {"unknown long option", {"--open", "a.mrf"}, Action::kUsageError, "", "--open"},
        {"unknown toolkit-style option", {"-bogus"}, Action::kUsageError, "", "-bogus"},
        {"option without its value", {"a.mrf", "-geometry"}, Action::kUsageError, "", "-geometry"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const CommandLine parsed = Parse(c.words);
        EXPECT_EQ(parsed.action, c.action);
        EXPECT_EQ(parsed.documentPath, c.document.empty() ? "" : here + "/" + c.document);
        EXPECT_EQ(parsed.error.empty(), c.errorNames.empty()) << parsed.error;
        EXPECT_NE(parsed.error.find(c.errorNames), std::string::npos) << parsed.error;
    }
    EXPECT_EQ(Parse({"/elsewhere/a.mrf"}).documentPath, "/elsewhere/a.mrf");
}

TEST(CommandLine, UsageNamesTheProgramsOptionsAndTheToolkits) {
    const std::string usage = UsageText();
    for (const char* expected : {"Usage: quarro", "DOCUMENT", "--help", "--version", "-g[eometry]", "-s[cheme]"}) {
        EXPECT_NE(usage.find(expected), std::string::npos) << expected;
    }
    EXPECT_STRNE(QuarroVersion(), "unknown");
}

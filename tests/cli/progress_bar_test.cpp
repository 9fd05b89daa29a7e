// The progress bar's text: the part done, the frames written, their rate and the time left,
// within the terminal's width; and the renderer's bar on pseudo-terminals of 80 and 40 columns.
#include "cli/progress_bar.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli/render_cli_fixture.h"

namespace {

TEST(ProgressLine, SaysFramesRateAndTimeLeft) {
    struct Case {
        ProgressState state;
        std::vector<std::string> holds;
        std::vector<std::string> lacks;
    };
    const Case cases[] = {
        {{0.25f, 5, 20, 10}, {" 25%", "5/20 frames", "0.5 frames/s", "0:30 left"}, {"done"}},
        {{0.0f, 0, 20, 3}, {"  0%", "0/20 frames", "0.0 frames/s"}, {"left"}},  // nothing to estimate from
        {{0.5f, 0, 1, 10}, {" 50%", "0:10 left"}, {"frames"}},                  // a single frame
        {{0.5f, 1, 2, 4000}, {"1:06:40 left"}, {}},
        {{1.0f, 20, 20, 8}, {"100%", "20/20 frames", "2.5 frames/s", "done in 0:08"}, {"left"}},
        {{1.7f, 3, 3, 1}, {"100%"}, {"170"}},                             // clamped
        {{1.0f, 28, 30, 2}, {" 99%", "28/30 frames"}, {"100%", "done"}},  // rendered, not yet written
        {{1.0f, 0, 1, 2}, {" 99%"}, {"100%", "done"}},
    };
    for (const Case& c : cases) {
        std::string line = ProgressLine(c.state, 120);
        for (const std::string& part : c.holds) EXPECT_NE(std::string::npos, line.find(part)) << line << " lacks " << part;
        for (const std::string& part : c.lacks) EXPECT_EQ(std::string::npos, line.find(part)) << line << " holds " << part;
    }
    // The bar fills in proportion.
    std::string quarter = ProgressLine({0.25f, 0, 1, 1}, 120), whole = ProgressLine({1.0f, 1, 1, 1}, 120);
    size_t quarterFill = std::count(quarter.begin(), quarter.end(), '#'), wholeFill = std::count(whole.begin(), whole.end(), '#');
    EXPECT_EQ(40u, wholeFill);
    EXPECT_EQ(wholeFill / 4, quarterFill);
}

// Every width gets a line that fits, keeping the share done; narrow ones drop the rest in turn.
TEST(ProgressLine, FitsEveryWidth) {
    const ProgressState states[] = {{0.37f, 1234, 100000, 3725}, {0.5f, 0, 1, 10}, {1.0f, 60, 60, 1.59}};
    for (const ProgressState& state : states) {
        for (int width = 1; width <= 200; ++width) {
            const std::string line = ProgressLine(state, width);
            EXPECT_LE(static_cast<int>(line.size()), std::max(width - 1, 0)) << width << ": " << line;
            if (width > 6) {
                EXPECT_NE(std::string::npos, line.find('%')) << width << ": " << line;
            }
        }
    }
    const ProgressState midRun{0.37f, 1234, 100000, 3725};
    EXPECT_NE(std::string::npos, ProgressLine(midRun, 100).find("frames/s"));
    EXPECT_NE(std::string::npos, ProgressLine(midRun, 40).find("1234/100000"));
    EXPECT_NE(std::string::npos, ProgressLine({0.37f, 12, 60, 3}, 40).find('['));
    EXPECT_EQ("Rendered 60 frames in 1.59 s, 37.7 frames/s", SummaryLine(60, 1.59));
    EXPECT_EQ("Rendered 1 frame in 0.20 s", SummaryLine(1, 0.2));
}

// Runs the renderer with its standard error on a pseudo-terminal `columns` wide and returns
// all it wrote there.
std::string RenderOnTerminal(const TempFolder& folder, const std::vector<std::string>& args, int columns, int& status) {
    winsize size{};
    size.ws_row = 24;
    size.ws_col = static_cast<unsigned short>(columns);
    int terminal = -1;
    const pid_t child = forkpty(&terminal, nullptr, nullptr, &size);
    if (child == 0) {
        if (chdir(folder.path.c_str()) != 0) _exit(127);
        std::vector<std::string> words = {QUARRO_RENDER_BINARY};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    std::string output;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(terminal, buffer, sizeof buffer);
        if (got <= 0) break;  // EIO once the child has closed its side
        output.append(buffer, static_cast<size_t>(got));
    }
    close(terminal);
    int raw = 0;
    waitpid(child, &raw, 0);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return output;
}

// The pieces of terminal output between carriage returns and line ends (the terminal turns
// "\n" into "\r\n").
std::vector<std::string> Pieces(const std::string& output) {
    std::vector<std::string> pieces;
    std::string piece;
    for (char c : output) {
        if (c == '\r' || c == '\n') {
            if (!piece.empty()) pieces.push_back(piece);
            piece.clear();
        } else {
            piece += c;
        }
    }
    if (!piece.empty()) pieces.push_back(piece);
    return pieces;
}

class ProgressOnTerminal : public RenderCli {};

TEST_F(ProgressOnTerminal, FitsTheWidthAndEndsWhenTheLastFrameIsWritten) {
    for (int columns : {80, 40}) {
        SCOPED_TRACE(columns);
        int status = -1;
        const std::string output =
            RenderOnTerminal(folder, {"scene.mrf", "-n", "40", "-s", "401x301", "-o", "f%02d.png"}, columns, status);
        ASSERT_EQ(0, status) << output;
        const std::vector<std::string> pieces = Pieces(output);
        ASSERT_GE(pieces.size(), 2u) << output;
        const std::string summary = pieces.back();
        EXPECT_EQ(0u, summary.find("Rendered 40 frames in ")) << summary;
        int bars = 0;
        for (size_t i = 0; i + 1 < pieces.size(); ++i) {
            const std::string& bar = pieces[i];
            EXPECT_LE(bar.size(), static_cast<size_t>(columns - 1)) << bar;
            EXPECT_NE(std::string::npos, bar.find('%')) << bar;
            // Whole only once the last frame is written, and last.
            const bool whole = bar.find("100%") != std::string::npos;
            if (i + 2 == pieces.size()) {
                EXPECT_TRUE(whole) << bar;
            }
            if (whole) {
                EXPECT_NE(std::string::npos, bar.find("40/40")) << bar;
            }
            ++bars;
        }
        EXPECT_GE(bars, 1);
        // The last bar's rate is the summary's.
        const std::string last = pieces[pieces.size() - 2];
        const size_t rate = last.find(" frames/s");
        if (columns == 80) {
            ASSERT_NE(std::string::npos, rate) << last;
            const std::string said = last.substr(last.rfind(' ', rate - 1) + 1, rate - last.rfind(' ', rate - 1) - 1);
            EXPECT_NE(std::string::npos, summary.find(", " + said + " frames/s")) << last << " / " << summary;
        }
    }
}

}  // namespace

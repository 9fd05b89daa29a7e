#include "cli/progress_bar.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "files/pending_temps.h"

namespace {

// What the signal notice reads: plain data and lock-free atomics, for a handler that may run
// on any thread between any two instructions. One bar is armed at a time.
struct InterruptNotice {
    std::atomic<bool> armed{false};
    std::atomic<bool> midLine{false};  // the bar's line is not yet ended
    std::atomic<int> written{0};
    std::atomic<int> frames{0};
    char start[1024] = {0};
};
InterruptNotice gNotice;

size_t AppendText(char* to, size_t at, size_t room, const char* text) {
    while (*text != '\0' && at < room) to[at++] = *text++;
    return at;
}

size_t AppendNumber(char* to, size_t at, size_t room, int value) {
    char digits[16];
    int count = 0;
    unsigned number = value < 0 ? 0u : static_cast<unsigned>(value);
    do {
        digits[count++] = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number != 0);
    while (count > 0 && at < room) to[at++] = digits[--count];
    return at;
}

// Async-signal-safe: only write(2) and the atomics above.
void SayInterrupted(int signal) {
    if (!gNotice.armed.load() || (signal != SIGINT && signal != SIGTERM && signal != SIGHUP)) return;
    char text[1200];
    const size_t room = sizeof text;
    size_t at = 0;
    if (gNotice.midLine.load()) at = AppendText(text, at, room, "\n");
    at = AppendText(text, at, room, gNotice.start);
    at = AppendText(text, at, room, "interrupted after ");
    at = AppendNumber(text, at, room, gNotice.written.load());
    at = AppendText(text, at, room, " of ");
    at = AppendNumber(text, at, room, gNotice.frames.load());
    at = AppendText(text, at, room, " frames\n");
    ssize_t ignored = write(STDERR_FILENO, text, at);
    (void)ignored;
}

std::string Clock(double seconds) {
    long total = std::lround(seconds);
    char text[32];
    if (total >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    }
    return text;
}

std::string Format(const char* format, double a, double b = 0.0) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

// Set by SIGWINCH: the terminal's width is read again before the next line.
std::atomic<bool> gResized{true};

void NoteResize(int) { gResized.store(true); }

// The terminal's columns, or 80 when it does not say.
int TerminalWidth() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

const int kBarMax = 40, kBarMin = 10;

}  // namespace

std::string ProgressLine(const ProgressState& state, int width) {
    float fraction = state.fraction >= 0.0f ? std::min(state.fraction, 1.0f) : 0.0f;
    const bool done = state.written >= state.frames;
    // Rendered is not yet written: the job is whole only once the last frame is.
    if (!done) fraction = std::min(fraction, 0.99f);
    const int percent = static_cast<int>(fraction * 100.0f);
    const bool sequence = state.frames > 1;
    const double rate = state.seconds > 0 ? state.written / state.seconds : 0.0;
    std::string time;  // the time left follows the part done so far; it is not guessed before
    if (done) {
        time = "done in " + Clock(state.seconds);
    } else if (fraction > 0.0f && state.seconds > 0) {
        time = Clock(state.seconds * (1.0 - fraction) / fraction) + " left";
    }
    const std::string count = std::to_string(state.written) + "/" + std::to_string(state.frames);
    // From the fullest form to the barest; the first that fits is drawn.
    struct Form {
        bool bar;
        std::vector<std::string> parts;
    };
    std::vector<Form> forms;
    const std::string share = Format("%3.0f%%", percent);
    if (sequence) {
        forms.push_back({true, {share, count + " frames", Format("%.1f frames/s", rate), time}});
        forms.push_back({true, {share, count, Format("%.1f/s", rate), time}});
        forms.push_back({true, {share, count, time}});
        forms.push_back({false, {share, count, time}});
        forms.push_back({false, {share, count}});
    } else {
        forms.push_back({true, {share, time}});
        forms.push_back({false, {share, time}});
    }
    forms.push_back({false, {share}});
    const int room = std::max(width - 1, 0);
    for (const Form& form : forms) {
        std::string rest;
        for (const std::string& part : form.parts) {
            if (!part.empty()) rest += (rest.empty() ? "" : "  ") + part;
        }
        if (!form.bar) {
            if (static_cast<int>(rest.size()) <= room) return rest;
            continue;
        }
        const int barWidth = std::min(kBarMax, room - static_cast<int>(rest.size()) - 3);
        if (barWidth < kBarMin) continue;
        const int filled = static_cast<int>(fraction * static_cast<float>(barWidth));
        return "[" + std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(barWidth - filled), '.') +
               "] " + rest;
    }
    return share.substr(0, static_cast<size_t>(room));
}

std::string SummaryLine(int frames, double seconds) {
    std::string line = "Rendered " + std::to_string(frames) + (frames == 1 ? " frame" : " frames") + " in " +
                       Format("%.2f s", seconds);
    if (frames > 1 && seconds > 0) line += Format(", %.1f frames/s", frames / seconds);
    return line;
}

CProgressBar::CProgressBar(bool wanted, int runFrames, const std::string& notice,
                           std::chrono::steady_clock::time_point runStart)
    : active(wanted && isatty(STDERR_FILENO) == 1), frames(runFrames), start(runStart) {
    gNotice.armed.store(false);
    std::snprintf(gNotice.start, sizeof gNotice.start, "%s", notice.c_str());
    gNotice.written.store(0);
    gNotice.frames.store(runFrames);
    gNotice.midLine.store(false);
    gNotice.armed.store(true);
    SetSignalNotice(&SayInterrupted);
    if (active) {
        struct sigaction resize = {};
        resize.sa_handler = &NoteResize;
        sigemptyset(&resize.sa_mask);
        resize.sa_flags = SA_RESTART;
        sigaction(SIGWINCH, &resize, &previousResize);
        gResized.store(true);
    }
}

CProgressBar::~CProgressBar() {
    if (active) sigaction(SIGWINCH, &previousResize, nullptr);
    SetSignalNotice(nullptr);
    gNotice.armed.store(false);
}

double CProgressBar::Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void CProgressBar::Show(float fraction) {
    if (!(fraction >= 0.0f)) fraction = 0.0f;
    std::lock_guard<std::mutex> lock(drawing);
    lastFraction = fraction > 1.0f ? 1.0f : fraction;
    if (active) Draw(lastFraction, Seconds());
}

void CProgressBar::FrameWritten() {
    gNotice.written.fetch_add(1);
    std::lock_guard<std::mutex> lock(drawing);
    if (active) Draw(lastFraction, Seconds());
}

void CProgressBar::Draw(float fraction, double seconds) {
    if (gResized.exchange(false)) width = TerminalWidth();
    std::string line = ProgressLine(ProgressState{fraction, gNotice.written.load(), frames, seconds}, width);
    if (line == lastLine) return;
    lastLine = line;
    // A shorter line is padded over the end of the longer one before it, within the width.
    const size_t length = line.size();
    const size_t room = static_cast<size_t>(std::max(width - 1, 0));
    if (length < lastLength) line.append(std::min(lastLength, room) - std::min(length, room), ' ');
    lastLength = length;
    gNotice.midLine.store(true);
    std::fprintf(stderr, "\r%s", line.c_str());
    std::fflush(stderr);
    drawn = true;
}

void CProgressBar::Finish(double seconds) {
    std::lock_guard<std::mutex> lock(drawing);
    if (drawn) {
        Draw(lastFraction, seconds);
        std::fputc('\n', stderr);
        gNotice.midLine.store(false);
    }
    drawn = false;
}

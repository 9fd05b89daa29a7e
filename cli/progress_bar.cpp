#include "cli/progress_bar.h"

#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>

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

}  // namespace

std::string ProgressLine(float fraction, int written, int frames, double seconds) {
    if (!(fraction >= 0.0f)) fraction = 0.0f;
    if (fraction > 1.0f) fraction = 1.0f;
    const int kWidth = 40;
    const int filled = static_cast<int>(fraction * kWidth);
    std::string line = "[" + std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(kWidth - filled), '.') + "]";
    char text[160];
    std::snprintf(text, sizeof text, " %3d%%", static_cast<int>(fraction * 100.0f));
    line += text;
    if (frames > 1) {
        const double rate = seconds > 0 ? written / seconds : 0.0;
        std::snprintf(text, sizeof text, "  %d/%d frames  %.1f frames/s", written, frames, rate);
        line += text;
    }
    // The time left follows the part done so far; it is not guessed before there is one.
    if (fraction >= 1.0f) {
        line += "  done in " + Clock(seconds);
    } else if (fraction > 0.0f && seconds > 0) {
        line += "  " + Clock(seconds * (1.0 - fraction) / fraction) + " left";
    }
    return line;
}

CProgressBar::CProgressBar(bool wanted, int runFrames, const std::string& notice)
    : active(wanted && isatty(STDERR_FILENO) == 1), frames(runFrames), start(std::chrono::steady_clock::now()) {
    gNotice.armed.store(false);
    std::snprintf(gNotice.start, sizeof gNotice.start, "%s", notice.c_str());
    gNotice.written.store(0);
    gNotice.frames.store(runFrames);
    gNotice.midLine.store(false);
    gNotice.armed.store(true);
    SetSignalNotice(&SayInterrupted);
}

CProgressBar::~CProgressBar() {
    SetSignalNotice(nullptr);
    gNotice.armed.store(false);
}

void CProgressBar::Show(float fraction) {
    if (!(fraction >= 0.0f)) fraction = 0.0f;
    lastFraction = fraction > 1.0f ? 1.0f : fraction;
    if (active) Draw(lastFraction);
}

void CProgressBar::FrameWritten() { gNotice.written.fetch_add(1); }

void CProgressBar::Draw(float fraction) {
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::string line = ProgressLine(fraction, gNotice.written.load(), frames, seconds);
    if (line == lastLine) return;
    lastLine = line;
    // A shorter line is padded over the end of the longer one before it.
    size_t length = line.size();
    if (length < lastLength) line.append(lastLength - length, ' ');
    lastLength = length;
    gNotice.midLine.store(true);
    std::fprintf(stderr, "\r%s", line.c_str());
    std::fflush(stderr);
    drawn = true;
}

void CProgressBar::Finish() {
    if (drawn) {
        Draw(lastFraction);
        std::fputc('\n', stderr);
        gNotice.midLine.store(false);
    }
    drawn = false;
}

// The renderer's one-line progress bar on the standard error stream, drawn only when that
// stream is a terminal, within the terminal's width (read again when it changes): the part of
// the job done, the frames written, their rate and the time left. A signal that ends the run
// (files/pending_temps.h) ends the bar's line and says how many frames were written.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

#include <signal.h>

// What the bar shows at one moment.
struct ProgressState {
    float fraction = 0.0f;  // of the frames rendered, 0..1
    int written = 0;        // frames written so far
    int frames = 1;         // frames in the run
    double seconds = 0.0;   // since the run started
};

// The bar's text in at most `width` - 1 columns (the last column of a terminal line would
// wrap), shorter forms on narrow terminals. The job reaches 100 % and "done" only when every
// frame is written. The frame counts and rate are left out for a single frame.
std::string ProgressLine(const ProgressState& state, int width);

// "Rendered 60 frames in 1.59 s, 37.7 frames/s": the run's summary, at the rate the bar shows.
std::string SummaryLine(int frames, double seconds);

class CProgressBar {
public:
    // A bar for a run of `frames` frames that began at `start`, drawn if `wanted` and standard
    // error is a terminal. `notice` starts the line said when a signal ends the run
    // ("quarro-render: m.mp4: ").
    CProgressBar(bool wanted, int frames, const std::string& notice, std::chrono::steady_clock::time_point start);
    // Withdraws the signal notice and the resize handler.
    ~CProgressBar();
    CProgressBar(const CProgressBar&) = delete;
    CProgressBar& operator=(const CProgressBar&) = delete;

    // fraction in [0, 1] of the frames rendered; from the render loop's thread.
    void Show(float fraction);
    // Counts one frame written; from any thread.
    void FrameWritten();
    // Draws the bar as it ends, `seconds` after the start, and ends its line, if one was drawn.
    void Finish(double seconds);
    // Seconds since the start.
    double Seconds() const;

private:
    void Draw(float fraction, double seconds);  // with `drawing` held

    bool active = false;
    bool drawn = false;
    int frames = 1;
    int width = 80;
    float lastFraction = 0.0f;
    size_t lastLength = 0;
    std::string lastLine;
    std::chrono::steady_clock::time_point start;
    std::mutex drawing;
    struct sigaction previousResize = {};
};

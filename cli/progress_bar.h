// The renderer's one-line progress bar on the standard error stream, drawn only when that
// stream is a terminal: the part of the job done, the frames written, their rate and the time
// left. A signal that ends the run (files/pending_temps.h) ends the bar's line and says how
// many frames were written.
#pragma once

#include <atomic>
#include <chrono>
#include <string>

class CProgressBar {
public:
    // A bar for a run of `frames` frames, drawn if `wanted` and standard error is a terminal.
    // `notice` starts the line said when a signal ends the run ("quarro-render: m.mp4: ").
    CProgressBar(bool wanted, int frames, const std::string& notice);
    // Withdraws the signal notice.
    ~CProgressBar();
    CProgressBar(const CProgressBar&) = delete;
    CProgressBar& operator=(const CProgressBar&) = delete;

    // fraction in [0, 1] of the whole job; from the render loop's thread.
    void Show(float fraction);
    // Counts one frame written; from any thread.
    void FrameWritten();
    // Draws the finished bar and ends its line, if one was drawn.
    void Finish();

private:
    void Draw(float fraction);

    bool active = false;
    bool drawn = false;
    int frames = 1;
    float lastFraction = 0.0f;
    size_t lastLength = 0;
    std::string lastLine;
    std::chrono::steady_clock::time_point start;
};

// The bar's text: `fraction` of the job done, `written` of `frames` written, `seconds` since
// the start. The frame counts and rate are left out for a single frame.
std::string ProgressLine(float fraction, int written, int frames, double seconds);

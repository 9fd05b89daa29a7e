// A one-line progress bar with the percentage on the standard error stream, drawn only when
// that stream is a terminal.
#pragma once

class CProgressBar {
public:
    // Active only if `wanted` and standard error is a terminal.
    explicit CProgressBar(bool wanted);
    // fraction in [0, 1] of the whole job.
    void Show(float fraction);
    // Ends the bar's line, if one was drawn.
    void Finish();

private:
    bool active = false;
    bool drawn = false;
    int lastPercent = -1;
};

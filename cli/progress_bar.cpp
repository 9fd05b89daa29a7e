#include "cli/progress_bar.h"

#include <unistd.h>

#include <cstdio>

CProgressBar::CProgressBar(bool wanted) : active(wanted && isatty(STDERR_FILENO) == 1) {}

void CProgressBar::Show(float fraction) {
    if (!active) return;
    if (!(fraction >= 0.0f)) fraction = 0.0f;
    if (fraction > 1.0f) fraction = 1.0f;
    int percent = static_cast<int>(fraction * 100.0f);
    if (percent == lastPercent) return;
    lastPercent = percent;
    const int kWidth = 40;
    int filled = static_cast<int>(fraction * kWidth);
    char bar[kWidth + 1];
    for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '.';
    bar[kWidth] = '\0';
    std::fprintf(stderr, "\r[%s] %3d%%", bar, percent);
    std::fflush(stderr);
    drawn = true;
}

void CProgressBar::Finish() {
    if (drawn) std::fputc('\n', stderr);
    drawn = false;
    lastPercent = -1;
}

// How a front end turns "frame i of n", a fraction and an image size into engine settings.
// quarro-render and the Python module both use these, so their frames are the same bytes.
#pragma once

#include <cstdint>

// The window's worker count, and the renderer's and the Python module's default.
constexpr int kMorphThreads = 4;
// The most worker threads a front end asks the engine for.
constexpr int kMaxMorphThreads = 256;

// The fraction of frame `index` in an evenly spaced sequence of `frames` frames running from
// 0 (image A) to 1 (image B): index / (frames - 1), and 0 for a sequence of one frame.
double SequenceFraction(int index, int frames);

// A fraction as the engine takes it: narrowed to float the way the window narrows its slider value.
float NarrowFraction(double fraction);

// An output side as a request takes it: truncated towards zero and clamped to
// kMinOutputSide..kMaxOutputSide; NaN gives kMinOutputSide.
int ClampOutputSide(double value);

// The output side taken from an image side when none is asked for: the side, clamped.
uint32_t DefaultOutputSide(int imageSide);

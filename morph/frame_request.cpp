#include "morph/frame_request.h"

#include "morph/morph_settings.h"

double SequenceFraction(int index, int frames) {
    if (frames <= 1) return 0.0;
    return static_cast<double>(index) / static_cast<double>(frames - 1);
}

float NarrowFraction(double fraction) { return static_cast<float>(fraction); }

int ClampOutputSide(double value) {
    if (!(value >= kMinOutputSide)) return kMinOutputSide;
    if (value >= kMaxOutputSide) return kMaxOutputSide;
    return static_cast<int>(value);
}

uint32_t DefaultOutputSide(int imageSide) { return static_cast<uint32_t>(ClampOutputSide(imageSide)); }

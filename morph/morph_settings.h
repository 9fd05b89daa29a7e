// The inputs of one morph, carried from a command to the engine. The five pointers refer to
// objects owned elsewhere (the editor, or a document command); copying a record shares them.
#pragma once

#include <cstdint>
#include <string>

#include "morph/segment_list.h"

class CPixelImage;

// The largest output width or height a request carries (the window's inputs and the renderer).
constexpr int kMaxOutputSide = 10000;

struct MorphSettings {
    CPixelImage* imageA = nullptr;
    CPixelImage* imageB = nullptr;
    CPixelImage* outputImage = nullptr;
    SegmentList* segmentsA = nullptr;
    SegmentList* segmentsB = nullptr;
    float dissoveFrac = 0.5f;
    float warpFrac = 0.5f;
    float a = 0.01f;
    float b = 2.0f;
    float p = 0.2f;
    uint32_t outputWidth = 0;
    uint32_t outputHeight = 0;
    std::string imagePathA;
    std::string imagePathB;
};

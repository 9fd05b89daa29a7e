// The inputs of one morph, carried from a command to the engine. The five pointers refer to
// objects owned elsewhere (the editor, or a document command); copying a record shares them.
#pragma once

#include <cstdint>
#include <string>

#include "morph/segment_list.h"

class CPixelImage;

// The output widths and heights a request may carry (the window's inputs and the renderer).
constexpr int kMinOutputSide = 1;
constexpr int kMaxOutputSide = 10000;

// The field-weight constants of every morph the window makes and every document it saves;
// the renderer's and the Python module's defaults, so that their frames equal the window's.
constexpr float kFieldWeightA = 0.01f;
constexpr float kFieldWeightB = 2.0f;
constexpr float kFieldWeightP = 0.2f;

struct MorphSettings {
    CPixelImage* imageA = nullptr;
    CPixelImage* imageB = nullptr;
    CPixelImage* outputImage = nullptr;
    SegmentList* segmentsA = nullptr;
    SegmentList* segmentsB = nullptr;
    float dissoveFrac = 0.5f;
    float warpFrac = 0.5f;
    float a = kFieldWeightA;
    float b = kFieldWeightB;
    float p = kFieldWeightP;
    uint32_t outputWidth = 0;
    uint32_t outputHeight = 0;
    std::string imagePathA;
    std::string imagePathB;
};

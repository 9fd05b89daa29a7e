// The arithmetic form of the 8-bit RGB conversion for curve-and-matrix profiles: each input
// channel's curve and sRGB's curve as polynomials, the matrix in floats, evaluated on as many
// pixels at once as the processor's vectors hold (the instruction set chosen at run time). No
// table is read per pixel. SeparableRgb fits the polynomials and uses them only when they give
// the colour engine's own results.
#pragma once

#include <cstddef>

struct RgbCurves {
    static const int kMostDecodeTerms = 8;  // a polynomial of degree 5 to 7 in the 8-bit value
    static const int kEncodeTerms = 4;  // a polynomial of degree 3 in the fourth root of the light
    float toeEnd[3];                    // input values below this are light in proportion...
    float toeSlope[3];                  // ...with this factor
    int decodeTerms;                    // 6, 7 or 8: the fewest that follow every channel's curve
    float decode[3][kMostDecodeTerms];  // light of the rest: sum of decode[c][k] * value^k
    // The same curves as a quadratic for each eight values, for processors whose vectors look up
    // 32 numbers at once (AVX-512): light = sum of segments[c][k][value / 8] * (value % 8)^k.
    bool segmentsFit;
    float segments[3][3][32];
    float matrix[3][3];                 // [output][input], linear light to linear sRGB
    float encodeKnee;                   // light below which sRGB's curve is straight (12.92 * 255 levels)
    float encode[kEncodeTerms];         // the level above it: sum of encode[k] * light^(k/4)
};

// Converts `pixels` RGBA pixels from `in` to `out` (which may be `in`), alpha kept.
void ConvertWithCurves(const RgbCurves& curves, const unsigned char* in, unsigned char* out, size_t pixels);

// The instruction set ConvertWithCurves runs with on this processor.
const char* CurvesTarget();

// True when it uses the segments where they fit, and so needs no polynomial then.
bool CurvesUseSegments();

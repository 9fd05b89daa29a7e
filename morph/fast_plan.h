// The scalar side of the vector kernel: the plan prepared once per morph (pair constants,
// column positions, images, each pair's class over the whole frame), a worker's scratch, and
// MorphRowFast, which picks a row's pairs and how each takes part before the row goes to the
// vector renderer of fast_kernel.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "morph/field_warp.h"

// The constants of one pair that the kernel reads per pixel (warped segment, segment in A,
// segment in B), laid side by side for the vector loop.
struct FastPair {
    float Px, Py, Qx, Qy;
    float dirX, dirY, perpX, perpY;
    float invLengthSq, invLength, lengthPow;
    float aPx, aPy, aDirX, aDirY, aUnitPerpX, aUnitPerpY;
    float bPx, bPy, bDirX, bDirY, bUnitPerpX, bUnitPerpY;
    // Squared distances to P and Q stay 0 or positive normal floats at every output point.
    bool sqrtSafe;
    // The weight bounds of a row can be trusted (finite, moderate geometry, length > 0).
    bool classifiable;
    // The constants of its segments in A and B are finite and moderate.
    bool mapsModerate;
    // One of the FastFrameClass values: how every row of the frame may treat it.
    uint8_t frameClass;
};

// A pair's weight over the whole frame: unknown, below 0.001 everywhere, at or above it everywhere.
enum FastFrameClass : uint8_t { kFrameUnknown = 0, kFrameNever = 1, kFrameAlways = 2 };

// How a row treats a pair that may contribute to it.
enum FastPairMode : uint32_t {
    kDirect = 0,  // always active with mask byte 1: evaluated at every pixel, its byte stays 1
    kReplay = 1,  // mask replayed pixel by pixel
};

// One pair as a row sees it: its index, how the row treats it, and its row constants.
struct FastRowPair {
    uint32_t index;
    uint32_t mode;        // one of the FastPairMode values
    float ryDirY;         // (y - P.y) * dir.y
    float ryPerpY;        // (y - P.y) * perp.y
    float dyP2;           // (y - P.y)^2
    float dyQ2;           // (y - Q.y)^2
    // Direct pairs: columns [insideBegin, insideEnd) map inside the unit square in A and B for
    // sure; columns outside [reachBegin, reachEnd) map outside it for sure.
    uint32_t insideBegin, insideEnd, reachBegin, reachEnd;
};

// An input image as the sampler reads it.
struct FastImage {
    const int32_t* pixels = nullptr;  // RGBA as one 32-bit word per pixel
    int32_t width = 0;
    int32_t height = 0;
    float widthF = 0.0f, heightF = 0.0f;  // the sizes as the sampling position scales by
    float lastX = 0.0f, lastY = 0.0f;     // float(W - 1), float(H - 1)
    int32_t clampX = 0, clampY = 0;       // W - 2 (0 for W < 2), likewise for H
    int32_t stepX = 0, stepY = 0;         // index distance to the right and lower neighbours
};

// Everything prepared once per morph; workers only read it.
class CFastMorphPlan {
public:
    // Prepares the plan for the job (whose lists and images must stay unchanged while the
    // morph runs). false when this job has to be rendered by the plain path.
    bool Prepare(const MorphJob& job);
    void Clear();

    uint32_t width = 0;
    unsigned char* outputPixels = nullptr;
    float a = 0.0f, b = 0.0f;
    int weightMode = 0;  // 2: q * q, 1: q, 0: the standard power per pixel
    std::vector<float> xs;  // x of every column (the same incremental sums in every row), padded
    double xMin = 0.0, xMax = 0.0;
    // The y range over which the pairs' frame classes hold.
    double frameYLo = 0.0, frameYHi = 0.0;
    std::vector<FastPair> pairs;
    FastImage imageA, imageB;
    float dissoveFrac = 0.0f;
    // The cross-dissolve is computed in double lanes (moderate fractions), else read from blend.
    bool blendInDouble = false;
    // blend[cA * 256 + cB]: the truncated double-precision cross-dissolve of two channel values.
    std::vector<int32_t> blend;
};

// A worker's scratch, allocated once per worker.
struct FastRowScratch {
    std::vector<FastRowPair> rowPairs;
    // How the rows rendered so far treated their pairs (for tests and benchmarks).
    uint64_t neverPairs = 0, directPairs = 0, outsidePairs = 0, replayedPairs = 0;
    uint64_t insideColumns = 0, testedColumns = 0;  // of direct pairs
    uint64_t frameClassified = 0;  // pairs that a row took as classified for the whole frame
    // false (and nothing allocated) when the memory could not be had.
    bool Allocate(const CFastMorphPlan& plan);
};

// Renders output row `row` (centre y accumulated by the caller) like MorphRowPlain, updating
// the worker's activeMask the same way.
void MorphRowFast(const CFastMorphPlan& plan, uint32_t row, float y, unsigned char* activeMask,
                  FastRowScratch& scratch);

// Over the columns' x of a plan (non-decreasing, W of them): the first column whose x is at or
// above x, and the first whose x is above x (W when there is none), as std::lower_bound and
// std::upper_bound give them.
uint32_t FirstColumnAtOrAbove(const float* xs, uint32_t W, double x);
uint32_t FirstColumnAbove(const float* xs, uint32_t W, double x);

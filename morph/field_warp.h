// The field warp and cross-dissolve of one output pixel, with no knowledge of threads:
// segment preparation, the in-between segment of a pair, the warp of one point back into
// images A and B, and the plain per-row renderer that the engine schedules.
#pragma once

#include <cstdint>

#include "image/pixel_image.h"
#include "morph/segment_list.h"

// The in-between endpoints of one pair at fraction t (the fraction is always stepped at
// least once by 1e-6, and further while P and Q coincide). Returns false, leaving P and Q
// unspecified, when the step never separates them (both segments are points, or t is so
// large that the step no longer moves it); such a pair can take no part in the warp.
bool InterpolateSegment(const LineSegment& segA, const LineSegment& segB, float t, Point& P, Point& Q);

// Builds the working lists from the editor's lists (y turned downward, derived fields
// computed) and the in-between segments at warpFrac. A pair that InterpolateSegment cannot
// resolve contributes nothing at any pixel, so it is left out of all three lists.
void PrepareSegments(const SegmentList& segmentsA, const SegmentList& segmentsB, float warpFrac, float p,
                     SegmentList& workSegmentsA, SegmentList& workSegmentsB, SegmentList& warpedSegments);

// Everything a worker reads while it renders; nothing in it changes during a morph.
struct MorphJob {
    const CPixelImage* imageA = nullptr;
    const CPixelImage* imageB = nullptr;
    unsigned char* outputPixels = nullptr;
    const SegmentList* workSegmentsA = nullptr;
    const SegmentList* workSegmentsB = nullptr;
    const SegmentList* warpedSegments = nullptr;
    float dissoveFrac = 0.0f;
    float a = 0.0f;
    float b = 0.0f;
    uint32_t outputWidth = 0;
    uint32_t outputHeight = 0;
};

// Maps the output point X (working space) to XA in image A and XB in image B. activeMask has
// one byte per pair; with fullPass false a pair whose byte is 0 is skipped.
void WarpPoint(const MorphJob& job, const Point& X, bool fullPass, unsigned char* activeMask, Point& XA,
               Point& XB);

// The per-pixel step: warp, sample both images, blend (truncating), alpha 255.
void MorphPixel(const MorphJob& job, const Point& X, bool fullPass, unsigned char* activeMask, unsigned char* out);

// Renders output row `row`, whose centre y the caller accumulated, with the worker's mask.
void MorphRowPlain(const MorphJob& job, uint32_t row, float y, unsigned char* activeMask);

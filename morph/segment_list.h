// The segments drawn on one image, held by value; index i of segmentsA and of segmentsB
// together form pair i, so the two lists always have the same length.
#pragma once

#include <vector>

#include "morph/line_segment.h"

using SegmentList = std::vector<LineSegment>;

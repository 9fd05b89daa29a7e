// The vector morph kernel: renders a row many pixels at a time and gives, byte for byte,
// the frame of the plain per-pixel path (MorphRowPlain) for every input.
//
// How it stays identical:
// - every float operation of the plain path is done in the same order on the same operands,
//   only several pixels at once (no fused multiply-add, no reassociation);
// - with b == 2 the weight pow(q, 2) rounded to float is q * q in float (q * q is exact in
//   double, so both are one rounding of the same number); with b == 1 it is q itself;
// - FastSqrt of 0 or of a positive normal float is the correctly rounded square root of the
//   input with its low 8 mantissa bits cleared; pairs whose squared distances could leave
//   that range get the table lookup lane by lane instead;
// - the mask of each pair is per pair and per worker; for each row a pair is proven
//   always-active (its weight stays at or above 0.001 on the whole row, so an active mask
//   byte never clears), never-active (below 0.001 on the whole row: it contributes nowhere
//   and its byte ends 0), or else its mask is replayed exactly, pixel by pixel in column
//   order, from the weights and inside tests of the vector.
#pragma once

#include <cstddef>

#include "morph/fast_plan.h"

namespace quarro {

// Renders one row into `out` from the pairs the row takes part with, updating activeMask.
// Dispatched to the best instruction set this machine has; called by MorphRowFast.
void RenderRow(const CFastMorphPlan* plan, const FastRowPair* rowPairs, size_t count, float y,
               unsigned char* activeMask, unsigned char* out);
const char* TargetName();

}  // namespace quarro

// Name of the instruction set that the kernel runs on this machine (for tests and benchmarks).
const char* FastKernelTarget();

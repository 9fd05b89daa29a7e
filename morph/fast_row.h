// The vector row renderer of the fast kernel, compiled per instruction set in fast_kernel.cpp
// and dispatched to the best one this machine has. Internal to the kernel.
#pragma once

#include <cstddef>

#include "morph/fast_kernel.h"

namespace quarro {

// Renders one row into `out` from the pairs the row takes part with, updating activeMask.
void RenderRow(const CFastMorphPlan* plan, const FastRowPair* rowPairs, size_t count, float y,
               unsigned char* activeMask, unsigned char* out);
const char* TargetName();

}  // namespace quarro

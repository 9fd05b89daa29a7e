// What the decoding helper may spend on one picture, from the size the program validated: the
// address space it may map and the time it may take. A small picture gets little; the largest
// picture this program reads gets enough to decode on a busy two-core machine.
#pragma once

#include "image/format_sniff.h"

struct DecodeBudget {
    long long memoryMiB = 0;  // address space, code and libraries included
    int cpuSeconds = 0;       // CPU time, every thread of the helper together
    // Wall-clock deadline: a multiple of the CPU time, since a busy machine shares its cores among
    // many processes; it stops a helper that waits forever, as the CPU limit stops one that spins.
    int wallSeconds = 0;
};

// The budget for a file of `fileSize` bytes whose checked header is `header`; a header that did
// not give its size (width -1) is budgeted as the largest picture allowed.
DecodeBudget DecodeBudgetFor(const ImageHeader& header, long long fileSize);

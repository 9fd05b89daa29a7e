// Decode budgets from the validated picture size; see decode_budget.h.
#include "image/decode_budget.h"

#include <cmath>

namespace {

// The helper's code, its libraries and the threads some codecs start.
constexpr long long kBaseMemoryMiB = 512;
// Per pixel, at worst: a decoder's own copy (up to 16-bit RGBA), its 8-bit conversion and the reply.
constexpr long long kMemoryPerPixel = 24;
// The helper's start and a small picture's decode, with a loaded machine's slack.
constexpr double kBaseSeconds = 10;
// The slowest decoding path (the general image library on 16-bit pictures), with room to spare.
constexpr double kPixelsPerSecond = 8e6;
// A machine whose every core has two more processes to run gives the helper a third of its time.
constexpr int kWallPerCpuSecond = 3;

}  // namespace

DecodeBudget DecodeBudgetFor(const ImageHeader& header, long long fileSize) {
    long long pixels = header.width > 0 && header.height > 0 ? header.width * header.height * header.depth : kMaxImagePixels;
    DecodeBudget budget;
    budget.memoryMiB = kBaseMemoryMiB + ((fileSize + pixels * kMemoryPerPixel) >> 20);
    budget.cpuSeconds = static_cast<int>(std::ceil(kBaseSeconds + static_cast<double>(pixels) / kPixelsPerSecond));
    budget.wallSeconds = kWallPerCpuSecond * budget.cpuSeconds;
    return budget;
}

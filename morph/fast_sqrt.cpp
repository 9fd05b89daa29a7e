#include "morph/fast_sqrt.h"

#include <cmath>

uint32_t sqrtMantissaTable[65536];

namespace {

uint32_t MantissaOfRoot(uint32_t pattern) {
    float value;
    std::memcpy(&value, &pattern, sizeof value);
    float root = static_cast<float>(std::sqrt(static_cast<double>(value)));
    uint32_t bits;
    std::memcpy(&bits, &root, sizeof bits);
    return bits & 0x007FFFFFu;
}

}  // namespace

void InitFastSqrt() {
    for (uint32_t i = 0; i < 32768u; ++i) {
        // Even biased exponent: the index's top bit is 0, the number lies in [2, 4).
        sqrtMantissaTable[i] = MantissaOfRoot((i << 8) | 0x40000000u);
        // Odd biased exponent: the number lies in [1, 2).
        sqrtMantissaTable[i + 32768u] = MantissaOfRoot((i << 8) | 0x3F800000u);
    }
}

// Table-driven single-precision square root. InitFastSqrt() fills the table once at
// start-up, before any other thread exists; afterwards FastSqrt only reads it.
#pragma once

#include <cstdint>
#include <cstring>

extern uint32_t sqrtMantissaTable[65536];

void InitFastSqrt();

// Square root of a non-negative float with its mantissa truncated to 15 bits
// (relative error at most 2^-16). Negative inputs are outside the domain.
inline float FastSqrt(float x) {
    uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    if (bits == 0) return 0.0f;
    // Halve the unbiased exponent (rounding towards minus infinity) and re-bias it.
    int32_t shifted = static_cast<int32_t>(bits - 0x3F800000u) >> 1;
    uint32_t exponent = (static_cast<uint32_t>(shifted) + 0x3F800000u) & 0x7F800000u;
    uint32_t result = exponent | sqrtMantissaTable[(bits >> 8) & 0xFFFFu];
    float f;
    std::memcpy(&f, &result, sizeof f);
    return f;
}

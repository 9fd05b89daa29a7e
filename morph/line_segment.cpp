#include "morph/line_segment.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "morph/fast_sqrt.h"

namespace {

float FloatFromBits(uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

uint32_t BitsFromFloat(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

}  // namespace

void LineSegment::Precompute(float p) {
    dir = Q - P;
    perp = Point(dir.y, 0.0f - dir.x);
    length = static_cast<float>(std::sqrt(static_cast<double>(dir.x * dir.x + dir.y * dir.y)));
    lengthPow = static_cast<float>(std::pow(static_cast<double>(length), static_cast<double>(p)));
    if (length == 0.0f) {
        // The warp still reads these for a pair whose segment on one image is a point.
        invLength = 0.0f;
        invLengthSq = 0.0f;
        unitPerp = Point(0.0f, 0.0f);
        return;
    }
    // Reciprocal from the bit pattern, refined by one Newton step: exact for powers of two,
    // otherwise at most 1/64 too small.
    invLength = FloatFromBits(0x7F000000u - BitsFromFloat(length));
    invLength = (2.0f - length * invLength) * invLength;
    invLengthSq = invLength * invLength;
    unitPerp = perp * invLength;
}

float LineSegment::DistanceTo(const Point& X, float u, float v) const {
    if (u < 0.0f) {
        Point d = X - P;
        return FastSqrt(d.x * d.x + d.y * d.y);
    }
    if (u > 1.0f) {
        Point d = X - Q;
        return FastSqrt(d.x * d.x + d.y * d.y);
    }
    return std::fabs(v);
}

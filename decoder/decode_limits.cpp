// Size checks shared by the specialist decoders.
#include "decoder/decode_limits.h"

#include <cstddef>

bool WithinDecodeLimits(long long width, long long height, const char* format, std::string& reason) {
    if (width <= 0 || height <= 0) {
        reason = std::string("the ") + format + " image claims " + std::to_string(width) + " x " +
                 std::to_string(height) + " pixels, which is no picture";
        return false;
    }
    if (width > kDecodeMaxSide || height > kDecodeMaxSide || width * height > kDecodeMaxPixels) {
        reason = std::string("the ") + format + " image is " + std::to_string(width) + " x " + std::to_string(height) +
                 " pixels, more than this program reads";
        return false;
    }
    return true;
}

void AllocateDecoded(int width, int height, DecodedImage& out) {
    out.width = width;
    out.height = height;
    out.rgba.assign(static_cast<size_t>(width) * static_cast<size_t>(height) * 4, 0);
}

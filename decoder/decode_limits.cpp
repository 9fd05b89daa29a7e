// Size checks shared by the extra decoders.
#include "decoder/decode_limits.h"

#include <cstddef>

bool WithinDecodeLimits(long long width, long long height, const char* format, std::string& reason) {
    return CheckImageSize((std::string("the ") + format + " image").c_str(), width, height, 1, reason) == 0;
}

void AllocateDecoded(int width, int height, DecodedImage& out) {
    out.width = width;
    out.height = height;
    out.rgba.assign(static_cast<size_t>(width) * static_cast<size_t>(height) * 4, 0);
}

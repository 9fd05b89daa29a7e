// Size checks and pixel reservation shared by the decoders.
#include "decoder/decode_limits.h"

#include <cstddef>
#include <new>

bool WithinDecodeLimits(long long width, long long height, const char* format, std::string& reason) {
    return CheckImageSize((std::string("the ") + format + " image").c_str(), width, height, 1, reason) == 0;
}

void AllocateDecoded(int width, int height, DecodedImage& out) {
    // Zero already (see the header): writing zeros would touch every page before any data arrives.
    ReservePixels(width, height, out);
}

unsigned char* ReservePixels(int width, int height, DecodedImage& out) {
    out.Reset();
    size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
    if (out.place != nullptr && out.placeBytes == bytes) {
        out.inPlace = true;
    } else {
        try {
            out.rgba.resize(bytes);
        } catch (const std::bad_alloc&) {
            out.Reset();
            return nullptr;
        }
    }
    out.width = width;
    out.height = height;
    return out.Pixels();
}

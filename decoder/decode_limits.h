// The largest picture the decoders hand back, checked before any pixel buffer is allocated.
#pragma once

#include <string>

#include "decoder/decoded_image.h"

constexpr long long kDecodeMaxPixels = 1LL << 28;
constexpr long long kDecodeMaxSide = 65535;

// True when a `width` x `height` picture is within the limits; otherwise false with a reason
// that names the size ("the WebP image is 70000 x 20 pixels, more than this program reads").
bool WithinDecodeLimits(long long width, long long height, const char* format, std::string& reason);

// Sizes `out` for `width` x `height` pixels (already within the limits), every byte zero.
void AllocateDecoded(int width, int height, DecodedImage& out);

// The size check every decoder makes before it reserves pixels, with the limits and the
// wording of the program's header check, and the reservation itself.
#pragma once

#include <string>

#include "decoder/decoded_image.h"
#include "image/format_sniff.h"

// True when a `width` x `height` picture is within kMaxImageSide and kMaxImagePixels; otherwise
// false with a reason that names the size ("the WebP image claims 70000 x 20 pixels, more than
// this program reads").
bool WithinDecodeLimits(long long width, long long height, const char* format, std::string& reason);

// Sizes `out` for `width` x `height` pixels (already within the limits), every byte zero, in
// `out`'s place when it holds exactly that many bytes. Nothing is written: the place the helper
// is handed is a fresh memory file, whose pages are zero until a row reaches them, and a vector
// is zeroed as it grows. Without memory, `out` ends up empty (the helper itself exits at once
// through its out-of-memory handler).
void AllocateDecoded(int width, int height, DecodedImage& out);

// Memory for `width` x `height` RGBA pixels (already within the limits): `out`'s place when it
// holds exactly that many bytes, else its own vector; null when there is no memory for it.
// The bytes are zero, as with AllocateDecoded.
unsigned char* ReservePixels(int width, int height, DecodedImage& out);

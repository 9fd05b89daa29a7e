// The EXIF orientation of JPEG (APP1 Exif) and TIFF files, and the turn or mirror it asks for.
#pragma once

#include <cstddef>

#include "decoder/decoded_image.h"

// Turns `out`, decoded in the file's stored order, the way the file's EXIF orientation (1..8,
// JPEG APP1 Exif or the TIFF Orientation tag) says it is to be seen. Any other bytes, a missing
// or out-of-range tag, or pixels that do not match `out`'s size leave `out` as it is.
void ApplyExifOrientation(const unsigned char* data, size_t size, DecodedImage& out);

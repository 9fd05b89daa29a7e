// Decoders for the pictures the general image library refuses or gets wrong (BMP with V4/V5
// headers, CMYK JPEG, TIFF with unassociated alpha, WebP, HEIC, AVIF), and the EXIF
// orientation that every decoded JPEG or TIFF still needs. Runs only in the decoding helper.
#pragma once

#include <cstddef>
#include <string>

#include "decoder/decoded_image.h"

// Identifies the format from the bytes alone. Returns 1 with `out` filled when the bytes are one
// of its cases, 0 when they are not (leave them to the image library; `out` untouched), -1 with
// a reason a user can act on when they are one of its cases but cannot be decoded.
int DecodeExtra(const unsigned char* data, size_t size, DecodedImage& out, std::string& reason);

// Turns `out`, decoded in the file's stored order, the way the file's EXIF orientation (1..8,
// JPEG APP1 Exif or the TIFF Orientation tag) says it is to be seen. Any other bytes, a missing
// or out-of-range tag, or pixels that do not match `out`'s size leave `out` as it is.
void ApplyExifOrientation(const unsigned char* data, size_t size, DecodedImage& out);

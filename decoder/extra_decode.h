// The decoders beside the general image library (decoder/format_decoders.h), reached by the
// format the program identified, and the EXIF orientation that every decoded JPEG or TIFF still
// needs. Runs only in the decoding helper.
#pragma once

#include <cstddef>
#include <string>

#include "decoder/decoded_image.h"
#include "image/format_sniff.h"

// The format's own decoder on `data`: 1 with `out` filled, 0 when the format has none or the
// bytes are not one of its cases (leave them to the image library; `out` untouched), -1 with a
// reason a user can act on. `header` is the bytes' header, read for `header.format`.
int DecodeExtra(const unsigned char* data, size_t size, const ImageHeader& header, DecodedImage& out,
                std::string& reason);

// Turns `out`, decoded in the file's stored order, the way the file's EXIF orientation (1..8,
// JPEG APP1 Exif or the TIFF Orientation tag) says it is to be seen. Any other bytes, a missing
// or out-of-range tag, or pixels that do not match `out`'s size leave `out` as it is.
void ApplyExifOrientation(const unsigned char* data, size_t size, DecodedImage& out);

// The decoding helper's one entry: a file's bytes in memory to 8-bit RGBA pixels. Asks the
// extra decoders first, then the general image library, then turns JPEG and TIFF
// pictures by their EXIF orientation. Untrusted bytes: runs only inside the helper process.
#pragma once

#include <cstddef>
#include <string>

#include "decoder/decoded_image.h"

// 0 with `out` filled, or -1 with a reason a user can act on (`out` then holds nothing).
// `nameHint` is the file's name; only its extension is used, and only for the few formats
// whose bytes carry no signature.
int DecodeImage(const unsigned char* data, size_t size, const std::string& nameHint, DecodedImage& out,
                std::string& reason);

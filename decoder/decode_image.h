// The decoding helper's one entry: a file's bytes in memory to 8-bit RGBA pixels. Reads the
// header again from the whole file with the format's row, checks it and the file's layout, asks
// the format's own decoder, else the general image library, then turns the picture by its EXIF
// orientation where its row says so (decoder/format_decoders.h). Untrusted bytes: runs only
// inside the helper process.
#pragma once

#include <cstddef>
#include <string>

#include "decoder/decoded_image.h"
#include "image/format_sniff.h"

// 0 with `out` filled, or -1 with a reason a user can act on (`out` then holds nothing).
// `format` is what the program identified from the file's first bytes and name; it is not
// identified again here.
int DecodeImage(const unsigned char* data, size_t size, ImageFormat format, DecodedImage& out, std::string& reason);

// A fast PNG writer for frames: encodes to memory with a chosen zlib level and the "up" row
// filter, as RGB when every pixel is opaque, then saves through the checked, atomic byte save.
// Safe to call from any thread (it shares nothing with the image library).
#pragma once

#include <string>
#include <vector>

#include "image/pixel_image.h"

// The default zlib level: the frame files stay about as small as the image library's while
// encoding takes a fraction of its time.
const int kDefaultPngLevel = 1;

// True when the path's extension is .png, in any case.
bool IsPngPath(const std::string& path);

// Encodes a 4-byte RGBA image (top row first) as PNG into `png`. 0 on success; -1 with
// `reason` for an empty image, an unsupported layout or an encoder error. `level` is 0..9.
int EncodePng(const CPixelImage& image, int level, std::vector<unsigned char>& png, std::string& reason);

// EncodePng, then the whole file replaced at once (ReplaceFileWithBytes). 0 or -1 with `reason`.
int WritePngFile(const std::string& path, const CPixelImage& image, int level, std::string& reason);

// A fast PNG writer for frames: encodes to memory with a chosen zlib level and the "up" row
// filter, as RGB when every pixel is opaque, then saves through the checked, atomic byte save.
// The rows are deflated in bands on every core; the file's bytes depend on the frame and the
// level alone, never on the machine or the number of threads. Safe to call from any thread
// (it shares nothing with the image library); its threads end before it returns.
#pragma once

#include <string>
#include <vector>

#include "image/pixel_image.h"

// The default zlib level: the frame files stay about as small as the image library's while
// encoding takes a fraction of its time.
const int kDefaultPngLevel = 1;

// Encodes a 4-byte RGBA image (top row first) as PNG into `png`. 0 on success; -1 with
// `reason` for an empty image, an unsupported layout or an encoder error. `level` is 0..9.
// Uses as many threads as the machine has cores.
int EncodePng(const CPixelImage& image, int level, std::vector<unsigned char>& png, std::string& reason);

// EncodePng on at most `threads` threads, the caller's included (0: one per core). The bytes
// are the same for every count.
int EncodePng(const CPixelImage& image, int level, int threads, std::vector<unsigned char>& png,
              std::string& reason);

// The number of row bands a picture of `rowBytes` x `rows` filtered bytes is deflated in: a
// function of the size alone, so that every machine writes the same file.
int PngBandCount(size_t rowBytes, int rows);

// EncodePng, then the whole file replaced at once (ReplaceFileWithBytes). 0 or -1 with `reason`.
int WritePngFile(const std::string& path, const CPixelImage& image, int level, std::string& reason);

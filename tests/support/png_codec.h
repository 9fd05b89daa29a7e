// An encoder and decoder that share nothing with the image library under test, so that
// orientation and channel order are checked against a second opinion.
#pragma once

#include <string>
#include <vector>

struct PngPicture {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgba;  // top row first, 4 bytes per pixel
};

// Decodes any PNG into 8-bit RGBA, top row first; false if the file is not a readable PNG.
bool DecodePng(const std::string& path, PngPicture& picture);
// Writes a PNG of the given colour type (PNG_COLOR_TYPE_GRAY, _RGB, _RGBA or _PALETTE with
// `palette` as R, G, B triples); rows are given top row first, one byte per sample.
bool EncodePng(const std::string& path, int width, int height, int colorType, const std::vector<unsigned char>& rows,
               const std::vector<unsigned char>& palette = {});

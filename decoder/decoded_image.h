// The pixels a decoder hands back: 8-bit RGBA, top row first, whatever the file's own layout.
#pragma once

#include <vector>

struct DecodedImage { int width = 0, height = 0; std::vector<unsigned char> rgba; };  // 4 bytes per pixel RGBA, top row first

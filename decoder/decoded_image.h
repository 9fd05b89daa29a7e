// The pixels a decoder hands back: 8-bit RGBA, top row first, whatever the file's own layout.
// The caller may set aside the memory for them (the helper's shared reply); a decoder then
// writes straight there when the picture has exactly that many bytes.
#pragma once

#include <cstddef>
#include <vector>

struct DecodedImage {
    int width = 0, height = 0;
    std::vector<unsigned char> rgba;  // 4 bytes per pixel RGBA, top row first, unless they went to `place`
    unsigned char* place = nullptr;   // memory set aside by the caller, or null; never freed here
    size_t placeBytes = 0;
    int placeFile = -1;               // the memory file behind `place`, which rows may be written to
    bool inPlace = false;             // true when the pixels are at `place` and `rgba` is empty

    unsigned char* Pixels() { return inPlace ? place : rgba.data(); }
    const unsigned char* Pixels() const { return inPlace ? place : rgba.data(); }
    size_t PixelBytes() const { return inPlace ? placeBytes : rgba.size(); }
    // Forgets the picture but keeps the place set aside for it.
    void Reset() {
        width = height = 0;
        rgba.clear();
        rgba.shrink_to_fit();
        inPlace = false;
    }
};

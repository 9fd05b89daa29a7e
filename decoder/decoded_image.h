// The pixels a decoder hands back: 8-bit RGBA, top row first, whatever the file's own layout.
// The caller may set aside the memory for them (the helper's shared reply); a decoder then
// writes straight there when the picture has exactly that many bytes.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct DecodedImage {
    int width = 0, height = 0;
    std::vector<unsigned char> rgba;  // 4 bytes per pixel RGBA, top row first, unless they went to `place`
    unsigned char* place = nullptr;   // memory set aside by the caller, or null; never freed here
    size_t placeBytes = 0;
    int placeFile = -1;               // the memory file behind `place`, which rows may be written to
    bool inPlace = false;             // true when the pixels are at `place` and `rgba` is empty
    // Asked by the caller: the numbers as stored, not converted to sRGB by the file's colour profile.
    bool keepStoredColour = false;
    // What became of the file's colour description: "converted to sRGB from ..." or, with
    // `colourWarning`, why it was not used; empty for untagged and sRGB pictures.
    std::string colourNote;
    bool colourWarning = false;
    bool colourSeenTo = false;        // the decoder converted (or judged) the colours itself

    unsigned char* Pixels() { return inPlace ? place : rgba.data(); }
    const unsigned char* Pixels() const { return inPlace ? place : rgba.data(); }
    size_t PixelBytes() const { return inPlace ? placeBytes : rgba.size(); }
    // Forgets the picture but keeps the place set aside for it and what the caller asked.
    void Reset() {
        width = height = 0;
        rgba.clear();
        rgba.shrink_to_fit();
        inPlace = false;
        colourNote.clear();
        colourWarning = colourSeenTo = false;
    }
};

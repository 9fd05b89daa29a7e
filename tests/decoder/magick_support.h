// Test set-up for the decoders: synthetic pictures, and ImageMagick from Debian as the
// independent decoder and encoder that the results are compared against.
#pragma once

#include <string>

#include "decoder/decoded_image.h"

// The absolute path of a Debian tool (/usr/bin first, then the search path), or "" if missing.
std::string FindTool(const std::string& name);

// A picture of `width` x `height` whose every pixel differs from its neighbours and from its
// mirror images, so any turn, flip or channel swap shows; alpha varies when `withAlpha`.
DecodedImage TestPattern(int width, int height, bool withAlpha);

// Writes `picture` to `path` with ImageMagick; `options` go between input and output
// (e.g. "-colorspace CMYK -quality 95"), the output's format follows `path` or a "FMT:" prefix.
bool MagickWrite(const DecodedImage& picture, const std::string& options, const std::string& path);

// Decodes `path` with ImageMagick into 8-bit RGBA, turned by its EXIF orientation if `autoOrient`.
bool MagickDecode(const std::string& path, bool autoOrient, DecodedImage& picture);

// Decodes the first frame of the animation at `path` with ImageMagick as it is seen on its
// canvas (coalesced), into 8-bit RGBA.
bool MagickDecodeFirstFrame(const std::string& path, DecodedImage& picture);

// Runs a shell command with its output discarded; true if it exited 0.
bool RunQuiet(const std::string& command);

// The largest difference of any one channel of any pixel; 256 when the sizes differ.
int LargestDifference(const DecodedImage& a, const DecodedImage& b);

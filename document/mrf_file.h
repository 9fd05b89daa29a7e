// The .mrf morph document: little-endian binary with the magic "MRF", two image paths, five
// morph parameters and the segment pairs. The writer reads a record the editor filled; the
// reader fills a record whose segmentsA and segmentsB point at lists of the caller's.
#pragma once

#include <cstddef>
#include <string>

#include "morph/morph_settings.h"

// 0 when the whole document was written, -1 otherwise.
int WriteMorphFile(const std::string& path, const MorphSettings& settings);
// 0 when the whole document was read, -1 otherwise.
int ReadMorphFile(const std::string& path, MorphSettings& settings);
// The same reader over a document held in memory (tests and the fuzzer).
int ReadMorphBuffer(const unsigned char* data, size_t size, MorphSettings& settings);
// Replaces every backslash before the first zero byte by a slash.
void ToForwardSlashes(char* text, size_t size);

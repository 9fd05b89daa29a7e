// The .mrf morph document: little-endian binary with the magic "MRF", two image paths, five
// morph parameters and the segment pairs. The writer reads a record the editor filled; the
// reader fills a record whose segmentsA and segmentsB point at lists of the caller's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "morph/morph_settings.h"

// Limits of the format: a path field (text and its zero byte) and the pair count are at most
// 65535, so a path holds at most 65534 bytes of text.
constexpr uint32_t kMorphFieldLimit = 65535;

// 0 when the whole document was written, -1 otherwise. Nothing is written for a set-up the
// reader would refuse (more than 65535 pairs, a path longer than 65534 bytes, lists of
// different lengths). The file is replaced only once complete and on disk, so a failed save
// leaves the earlier file as it was and nothing beside it.
int WriteMorphFile(const std::string& path, const MorphSettings& settings);
// The same, with the reason of a failure ("No space left on device", "the output folder x
// does not exist", ...) in `reason`.
int WriteMorphFile(const std::string& path, const MorphSettings& settings, std::string& reason);
// The same, storing `pathA` and `pathB` as the pictures' paths instead of the images' names
// (the window's spellings of picture_spelling.h).
int WriteMorphFile(const std::string& path, const MorphSettings& settings, const std::string& pathA,
                   const std::string& pathB, std::string& reason);
// The bytes that WriteMorphFile writes, in `bytes`; 0, or -1 for a set-up it refuses.
int EncodeMorphDocument(const MorphSettings& settings, std::vector<unsigned char>& bytes);
// 0 when the whole document was read, -1 otherwise. Paths come back with slashes for
// backslashes; a path field without a zero byte is taken whole; bytes after the last record
// are ignored. Safe on any input: reads stay within the document and allocations within the
// format's limits.
// Anything but a regular file (a FIFO, a device) is refused at once.
int ReadMorphFile(const std::string& path, MorphSettings& settings);
// The same, with the reason of a refusal ("version 2 is newer than this reader", "the pair
// records end inside pair 17 of 20", "is a FIFO, not a regular file", ...) in `reason`.
int ReadMorphFile(const std::string& path, MorphSettings& settings, std::string& reason);
// The same reader over a file the caller opened (OpenInputFile) and still owns.
int ReadMorphDescriptor(int fd, MorphSettings& settings, std::string& reason);
// The same reader over a document held in memory (tests and the fuzzer).
int ReadMorphBuffer(const unsigned char* data, size_t size, MorphSettings& settings);
int ReadMorphBuffer(const unsigned char* data, size_t size, MorphSettings& settings, std::string& reason);
// Replaces every backslash before the first zero byte by a slash.
void ToForwardSlashes(char* text, size_t size);

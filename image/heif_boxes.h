// HEIF and AVIF files read as what they are, a tree of boxes: the brands of the leading 'ftyp'
// box and the size of the primary image, found through meta -> pitm and iprp -> ipma -> ipco ->
// ispe. Bytes that merely look like a box (inside EXIF or XMP text) are never taken for one.
#pragma once

#include "image/byte_reader.h"

// True when the 'ftyp' box names a HEIF brand (HEVC or AV1 images, image collections) as its
// major brand or among its compatible ones; `av1` then says whether it names an AVIF brand.
bool IsHeifFile(const ByteReader& bytes, bool* av1 = nullptr);

// True with the primary image's spatial extent (its 'ispe' property, before any rotation or
// crop) when the boxes that give it lie within the bytes; false when they do not or are damaged.
bool HeifPrimarySize(const ByteReader& bytes, long long& width, long long& height);

// The decodes a derived picture (a grid of tiles, an overlay) costs: every 'dimg' reference of
// the file's 'iref' box, and how many distinct items they name. False when there is no 'iref'
// box within the bytes.
bool HeifDerivedReferences(const ByteReader& bytes, long long& references, long long& distinct);

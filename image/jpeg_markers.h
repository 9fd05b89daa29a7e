// The one walk over a JPEG file's markers, skipping what libjpeg skips between them, and the
// frame header it leads to. Shared by the header check, the EXIF orientation and the decoders.
#pragma once

#include <cstdint>

#include "image/byte_reader.h"

struct JpegSegment {
    int code = 0;            // the marker's second byte: 0xC0 for a baseline frame, 0xDA for a scan, ...
    uint64_t body = 0;       // where the segment's bytes start, after its length field
    uint64_t bodySize = 0;   // 0 for the markers that carry no length (SOI, EOI, RSTn, TEM)
};

// The segment whose marker is the first at or after `at`, with `at` moved past it. Like libjpeg,
// bytes other than 0xFF before a marker, 0xFF 0x00 pairs and repeated 0xFF fill bytes are passed
// over. False when the bytes end first or a length field is below its own two bytes. Start at 2,
// just after the start-of-image marker.
bool NextJpegSegment(const ByteReader& bytes, uint64_t& at, JpegSegment& segment);

// The first frame header, as libjpeg reads it before the first scan.
struct JpegFrame {
    int code = -1;           // its marker: 0xC0 to 0xCF but 0xC4, 0xC8 and 0xCC; -1 when there is none
    long long width = -1, height = -1;
    int bitDepth = 0;
    int components = 0;
    int horizontal[4] = {}, vertical[4] = {};  // sampling factors of the first four components
    uint64_t end = 0;        // the offset just past the frame header
    bool progressive() const { return code == 0xC2 || code == 0xC6 || code == 0xCA || code == 0xCE; }
    bool arithmetic() const { return code >= 0xC9; }
};

// 0xC0..0xCF without the Huffman-table, extension and arithmetic-conditioning markers.
bool IsJpegFrameMarker(int code);

// True with `frame` filled when a frame header comes before the first scan and lies within the bytes.
bool ReadJpegFrame(const ByteReader& bytes, JpegFrame& frame);

// The fewest bytes a file with this frame can take: every coded 8 x 8 block of every component
// costs at least one bit, sequential or progressive (a DC scan codes each block at least once).
long long JpegLeastBytes(const JpegFrame& frame);

// JPEG marker walk and frame header; see jpeg_markers.h.
#include "image/jpeg_markers.h"

#include <algorithm>

namespace {

bool HasNoLength(int code) { return code == 0xD8 || code == 0xD9 || code == 0x01 || (code >= 0xD0 && code <= 0xD7); }

long long CeilDiv(long long a, long long b) { return (a + b - 1) / b; }

}  // namespace

bool IsJpegFrameMarker(int code) { return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC; }

bool NextJpegSegment(const ByteReader& bytes, uint64_t& at, JpegSegment& segment) {
    long long c;
    for (;;) {
        // Anything up to a 0xFF is discarded, then every 0xFF but the last; 0xFF 0x00 is no marker.
        while (bytes.U8(at, c) && c != 0xFF) ++at;
        while (bytes.U8(at + 1, c) && c == 0xFF) ++at;
        if (!bytes.U8(at + 1, c)) return false;
        if (c != 0) break;
        at += 2;
    }
    segment = JpegSegment();
    segment.code = static_cast<int>(c);
    if (HasNoLength(segment.code)) {
        at += 2;
        segment.body = at;
        return true;
    }
    long long length;
    if (!bytes.U16(at + 2, true, length) || length < 2) return false;
    segment.body = at + 4;
    segment.bodySize = static_cast<uint64_t>(length - 2);
    at += 2 + static_cast<uint64_t>(length);
    return true;
}

bool ReadJpegFrame(const ByteReader& bytes, JpegFrame& frame) {
    frame = JpegFrame();
    if (!bytes.Matches(0, "\xff\xd8", 2)) return false;
    uint64_t at = 2;
    JpegSegment segment;
    while (NextJpegSegment(bytes, at, segment)) {
        if (segment.code == 0xDA || segment.code == 0xD9) return false;
        if (!IsJpegFrameMarker(segment.code)) continue;
        long long depth, height, width, count;
        if (!bytes.U8(segment.body, depth) || !bytes.U16(segment.body + 1, true, height) ||
            !bytes.U16(segment.body + 3, true, width) || !bytes.U8(segment.body + 5, count) ||
            !bytes.Has(segment.body + 6, static_cast<uint64_t>(count) * 3)) {
            return false;
        }
        frame.code = segment.code;
        frame.bitDepth = static_cast<int>(depth);
        frame.height = height;
        frame.width = width;
        frame.components = static_cast<int>(count);
        for (int i = 0; i < std::min(frame.components, 4); ++i) {
            long long factors = 0;
            bytes.U8(segment.body + 6 + 3 * static_cast<uint64_t>(i) + 1, factors);
            frame.horizontal[i] = static_cast<int>(factors >> 4);
            frame.vertical[i] = static_cast<int>(factors & 15);
        }
        frame.end = at;
        return true;
    }
    return false;
}

long long JpegLeastBytes(const JpegFrame& frame) {
    if (frame.code < 0 || frame.width <= 0 || frame.height <= 0 || frame.components <= 0) return -1;
    int hMax = 1, vMax = 1;
    int counted = std::min(frame.components, 4);
    for (int i = 0; i < counted; ++i) {
        hMax = std::max(hMax, frame.horizontal[i]);
        vMax = std::max(vMax, frame.vertical[i]);
    }
    // Components past the fourth (rare; libjpeg takes up to ten) are left out: the bound stays low.
    long long blocks = 0;
    for (int i = 0; i < counted; ++i) {
        long long h = std::max(frame.horizontal[i], 1), v = std::max(frame.vertical[i], 1);
        blocks += CeilDiv(CeilDiv(frame.width * h, hMax), 8) * CeilDiv(CeilDiv(frame.height * v, vMax), 8);
    }
    return static_cast<long long>(frame.end) + CeilDiv(blocks, 8);
}

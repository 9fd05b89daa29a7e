// libFuzzer entry point for the document reader (built and run by scripts/fuzz). Any input
// must be read without leaving the buffer or allocating without bound; an input the reader
// accepts must survive being written again and read back, bit for bit.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "document/mrf_file.h"
#include "image/pixel_image.h"

namespace {

bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool SameSegments(const SegmentList& a, const SegmentList& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (!SameBits(a[i].P.x, b[i].P.x) || !SameBits(a[i].P.y, b[i].P.y) || !SameBits(a[i].Q.x, b[i].Q.x) ||
            !SameBits(a[i].Q.y, b[i].Q.y)) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SegmentList listA, listB;
    MorphSettings read;
    read.segmentsA = &listA;
    read.segmentsB = &listB;
    if (ReadMorphBuffer(data, size, read) != 0) return 0;
    if (listA.size() != listB.size() || listA.size() > kMorphFieldLimit) std::abort();
    // A path field of 65535 bytes without a zero byte holds one byte more than a writable path.
    if (read.imagePathA.size() >= kMorphFieldLimit || read.imagePathB.size() >= kMorphFieldLimit) return 0;

    CPixelImage imageA, imageB;
    imageA.fileName = read.imagePathA;
    imageB.fileName = read.imagePathB;
    MorphSettings write = read;
    write.imageA = &imageA;
    write.imageB = &imageB;
    std::vector<unsigned char> bytes;
    if (EncodeMorphDocument(write, bytes) != 0) std::abort();

    SegmentList againA, againB;
    MorphSettings again;
    again.segmentsA = &againA;
    again.segmentsB = &againB;
    if (ReadMorphBuffer(bytes.data(), bytes.size(), again) != 0) std::abort();
    if (again.imagePathA != read.imagePathA || again.imagePathB != read.imagePathB) std::abort();
    if (!SameBits(again.warpFrac, read.warpFrac) || !SameBits(again.dissoveFrac, read.dissoveFrac) ||
        !SameBits(again.a, read.a) || !SameBits(again.b, read.b) || !SameBits(again.p, read.p)) {
        std::abort();
    }
    if (!SameSegments(againA, listA) || !SameSegments(againB, listB)) std::abort();
    return 0;
}

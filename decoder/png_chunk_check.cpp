#include "decoder/png_chunk_check.h"

#include <zlib.h>

#include <cstdint>
#include <cstring>

namespace {

// Image data below this many bytes is checked at once: a thread would cost more.
const size_t kThreadedBytes = 1 << 20;
const size_t kThreadStack = 64 << 10;

uint32_t Be32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// Walks the chunks from `at` on: calls `visit(at, length, type)` for each until it returns
// false or the end chunk is passed; returns where it stopped.
template <typename Visit>
size_t WalkChunks(const unsigned char* data, size_t size, size_t at, Visit visit) {
    while (at + 12 <= size) {
        size_t length = Be32(data + at);
        if (length > size - at - 12) break;
        const unsigned char* type = data + at + 4;
        if (!visit(at, length, type)) return at;
        at += 12 + length;
        if (std::memcmp(type, "IEND", 4) == 0) break;
    }
    return size;
}

bool CrcRight(const unsigned char* data, size_t at, size_t length) {
    uLong crc = crc32_z(0, data + at + 4, 4 + length);
    return crc == Be32(data + at + 8 + length);
}

bool IsData(const unsigned char* type) { return std::memcmp(type, "IDAT", 4) == 0; }

}  // namespace

PngChunkCheck::PngChunkCheck(const unsigned char* data, size_t size) : data(data), size(size) {
    dataStart = WalkChunks(data, size, 8, [&](size_t at, size_t length, const unsigned char* type) {
        if (IsData(type)) return false;
        headIntact = headIntact && CrcRight(data, at, length);
        return true;
    });
    if (!headIntact || dataStart >= size || size - dataStart < kThreadedBytes) {
        CheckData(this);
        return;
    }
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, kThreadStack);
    threaded = pthread_create(&thread, &attributes, CheckData, this) == 0;
    pthread_attr_destroy(&attributes);
    if (!threaded) CheckData(this);
}

PngChunkCheck::~PngChunkCheck() { DataIntact(); }

bool PngChunkCheck::DataIntact() {
    if (threaded) {
        pthread_join(thread, nullptr);
        threaded = false;
    }
    return dataIntact;
}

void* PngChunkCheck::CheckData(void* self) {
    PngChunkCheck& check = *static_cast<PngChunkCheck*>(self);
    bool intact = true;
    WalkChunks(check.data, check.size, check.dataStart, [&](size_t at, size_t length, const unsigned char* type) {
        if (!IsData(type)) return false;
        intact = intact && CrcRight(check.data, at, length);
        return intact;
    });
    check.dataIntact = intact;
    return nullptr;
}

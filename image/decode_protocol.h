// How the program and its decoding helper talk. The helper is started as
//     quarro-decode NAME CPU_SECONDS MEMORY_MIB
// with the file to decode open on descriptor 0 and the reply pipe on descriptor 3. The reply is
// one DecodeReplyHeader, then for kDecodeReplyPixels width x height x 4 bytes of RGBA (top row
// first), for kDecodeReplyRefused `width` bytes of reason text; then the helper exits 0.
#pragma once

#include <cstdint>

constexpr int kDecodeFileDescriptor = 0;
constexpr int kDecodeReplyDescriptor = 3;

constexpr uint32_t kDecodeReplyMagic = 0x31524451;  // "QDR1" read as little-endian bytes
constexpr uint32_t kDecodeReplyPixels = 0;
constexpr uint32_t kDecodeReplyRefused = 1;
constexpr uint32_t kDecodeMaxReasonBytes = 1024;

// Exit status of a helper that ran out of its memory allowance outside the image library.
constexpr int kDecodeExitOutOfMemory = 3;
// Exit status of a helper started wrongly (arguments, descriptors).
constexpr int kDecodeExitUsage = 2;

struct DecodeReplyHeader {
    uint32_t magic = kDecodeReplyMagic;
    uint32_t kind = kDecodeReplyPixels;
    uint32_t width = 0;   // for a refusal: the reason's length in bytes
    uint32_t height = 0;
};

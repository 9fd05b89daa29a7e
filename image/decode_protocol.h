// How the program and its decoding helper talk. The helper is started with no arguments and
// one end of a Unix stream socket on descriptor 3 (0 to 2 lead nowhere), and the status socket
// on descriptor 4: the helper reports there, as an int, the wait status of its decoding process
// when that ends, and stops decoding when the program closes its end. It may be started
// ahead of need and wait. It takes one DecodeRequest, sent with the open file to decode
// attached (SCM_RIGHTS) and, when the program knows the picture's size, a second descriptor:
// a sealed memory file of `pixelBytes` bytes for the pixels. It answers on the same socket with
// one DecodeReplyHeader and its colour note, then for kDecodeReplyPixels width x height x 4 bytes
// of RGBA (top row first), for kDecodeReplyShared nothing (the pixels, as many bytes, are in the memory file),
// for kDecodeReplyRefused `width` bytes of reason text; then it exits 0. A socket closed before
// any request ends it quietly.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

constexpr int kDecodeChannelDescriptor = 3;
constexpr int kDecodeStatusDescriptor = 4;
// A pidfd of the program that started the helper, where the kernel gives one: the supervisor
// stops the decoding when that program ends, whatever children of it keep the sockets open.
constexpr int kDecodeHostDescriptor = 5;

constexpr uint32_t kDecodeRequestMagic = 0x31514451;  // "QDQ1" read as little-endian bytes
constexpr uint32_t kDecodeReplyMagic = 0x31524451;    // "QDR1"
constexpr uint32_t kDecodeReplyPixels = 0;
constexpr uint32_t kDecodeReplyRefused = 1;
constexpr uint32_t kDecodeReplyShared = 2;
constexpr uint32_t kDecodeMaxReasonBytes = 1024;

// Exit status of a helper that ran out of its memory allowance outside the image library.
constexpr int kDecodeExitOutOfMemory = 3;
// Exit status of a helper started wrongly (arguments, descriptors, request).
constexpr int kDecodeExitUsage = 2;

struct DecodeRequest {
    uint32_t magic = kDecodeRequestMagic;
    int32_t cpuSeconds = 0;   // 0: no limit
    int64_t memoryMiB = 0;    // address space; 0: no limit
    char name[256] = {};      // the file's name, for messages
    uint32_t format = 0;      // the ImageFormat the program identified; the helper does not identify again
    uint32_t keepStoredColour = 0;  // 1: the numbers as stored, not converted by the file's colour profile
    int64_t width = -1;       // the size the program validated from the file's first bytes; -1: not known
    int64_t height = -1;
    int64_t pixelBytes = 0;   // the size of the memory file sent for the pixels; 0: none sent
};

struct DecodeReplyHeader {
    uint32_t magic = kDecodeReplyMagic;
    uint32_t kind = kDecodeReplyPixels;
    uint32_t width = 0;   // for a refusal: the reason's length in bytes
    uint32_t height = 0;
    // Pixels: the length of the colour note that follows the header, before any pixels (what
    // became of the file's colour profile), at most kDecodeMaxReasonBytes; 0 for none.
    uint32_t colourNoteBytes = 0;
    uint32_t colourWarning = 0;  // 1: the note says why the colours are as stored
};

// The helper's side: waits for the request and the descriptors sent with it. 1 with the file
// (and the pixels' memory file when the request names one, else `pixels` is -1), 0 when the
// socket closed first, -1 for anything else (a short or strange request, a missing descriptor).
inline int ReceiveDecodeRequest(int channel, DecodeRequest& request, int& file, int& pixels) {
    file = pixels = -1;
    size_t done = 0;
    char* bytes = reinterpret_cast<char*>(&request);
    while (done < sizeof request) {
        alignas(struct cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))];
        struct iovec part = {bytes + done, sizeof request - done};
        struct msghdr message = {};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        ssize_t n = recvmsg(channel, &message, MSG_CMSG_CLOEXEC);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n == 0 && done == 0 && file < 0 ? 0 : -1;
        for (struct cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS || file >= 0) continue;
            if (c->cmsg_len == CMSG_LEN(sizeof(int))) {
                std::memcpy(&file, CMSG_DATA(c), sizeof file);
            } else if (c->cmsg_len == CMSG_LEN(2 * sizeof(int))) {
                std::memcpy(&file, CMSG_DATA(c), sizeof file);
                std::memcpy(&pixels, CMSG_DATA(c) + sizeof file, sizeof pixels);
            }
        }
        if (message.msg_flags & MSG_CTRUNC) return -1;
        done += static_cast<size_t>(n);
    }
    request.name[sizeof request.name - 1] = '\0';
    bool pixelsAsSaid = (request.pixelBytes > 0) == (pixels >= 0);
    return request.magic == kDecodeRequestMagic && file >= 0 && pixelsAsSaid ? 1 : -1;
}

// How the program and its decoding helper talk, one unit for both sides. The helper is started
// with no arguments and one end of a Unix stream socket on descriptor 3 (0 to 2 lead nowhere),
// and the status socket on descriptor 4: the helper reports there, as an int, the wait status of
// its decoding process when that ends, and stops decoding when the program writes on or closes
// its end. It may be started ahead of need and wait. It takes one DecodeRequest, sent with the
// open file to decode attached (SCM_RIGHTS) and, when the program knows the picture's size, a
// second descriptor: a sealed memory file of `pixelBytes` bytes for the pixels. It answers on
// the same socket with one DecodeReplyHeader and its text (a refusal's reason or the colour
// note), then for kDecodeReplyPixels width x height x 4 bytes of RGBA (top row first), for
// kDecodeReplyShared nothing (the pixels, as many bytes, are in the memory file); then it
// exits 0. A socket closed before any request ends it quietly.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

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

// The reply as it travels.
struct DecodeReplyHeader {
    uint32_t magic = kDecodeReplyMagic;
    uint32_t kind = kDecodeReplyPixels;
    uint32_t width = 0;  // for a refusal: the reason's length in bytes
    uint32_t height = 0;
    // Pixels: the length of the colour note that follows the header, before any pixels (what
    // became of the file's colour profile), at most kDecodeMaxReasonBytes; 0 for none.
    uint32_t colourNoteBytes = 0;
    uint32_t colourWarning = 0;  // 1: the note says why the colours are as stored
};

// A reply as either side sees it.
struct DecodeReply {
    uint32_t kind = kDecodeReplyRefused;
    uint32_t width = 0, height = 0;
    std::string text;  // a refusal's reason, else the colour note (cut to kDecodeMaxReasonBytes)
    bool colourWarning = false;
};

// The program's side sends the request with the file and, if `pixels` >= 0, the pixels' memory
// file: 0, or -1 when the helper is gone. The helper's side waits for it: 1 with the file (and
// the pixels' memory file when the request names one, else `pixels` is -1), 0 when the socket
// closed first, -1 for anything else (a short or strange request, a missing descriptor).
int SendDecodeRequest(int channel, const DecodeRequest& request, int file, int pixels);
int ReceiveDecodeRequest(int channel, DecodeRequest& request, int& file, int& pixels);

// The helper's side: the reply, then for kDecodeReplyPixels width x height x 4 bytes from
// `pixels`. False when the socket would not take it all.
bool SendDecodeReply(int channel, const DecodeReply& reply, const unsigned char* pixels);
// The reply's bytes before any pixels, for a refusal that must be ready before it is sent.
std::string DecodeReplyBytes(const DecodeReply& reply);

// The program's way of reading what the helper sends: the bytes that came, fewer when the
// helper stopped sending or the time ran out.
using DecodeRead = std::function<size_t(void* data, size_t size)>;

// What the program validated and set aside, against which a reply is checked.
struct DecodeExpectation {
    long long width = -1, height = -1, depth = 1;  // the validated size; -1: not known
    bool shared = false;                           // a memory file for the pixels was sent
};

// The program's side: reads a reply and checks it against `expected` before anything is
// allocated for it. Pixels sent on the socket go to `place(width, height)`, which returns
// width x height x 4 bytes or nullptr when there is no memory for them. 0, or -1 with the fault
// ("the decoder's reply was cut short", ...). A refusal is a reply like another: 0, with its kind.
int ReceiveDecodeReply(const DecodeRead& read, const DecodeExpectation& expected,
                       const std::function<unsigned char*(uint32_t width, uint32_t height)>& place,
                       DecodeReply& reply, std::string& fault);

// The supervisor's report of how the decoding process ended (a wait status, as waitpid gives it).
void SendDecodeStatus(int statusSocket, int waitStatus);
// The program's side: true with the status once the whole report came.
bool ReceiveDecodeStatus(const DecodeRead& read, int& waitStatus);
// The program asks the helper to stop: a byte on the status socket.
void SendDecodeStop(int statusSocket);

// Reads from `fd`, which must not block, until `size` bytes came, the descriptor ended, one of
// `ended` (-1 for none) became readable and what was sent before is read, or `deadline` passed
// (then `timedOut` is set). The bytes read. The program's reads of both sockets go through here.
size_t ReadWithin(int fd, void* data, size_t size, std::chrono::steady_clock::time_point deadline,
                  std::initializer_list<int> ended, bool& timedOut);

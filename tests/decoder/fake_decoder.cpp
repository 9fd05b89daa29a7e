// A stand-in for quarro-decode that misbehaves in the way its file's name asks ("crash.png",
// "spin.png", ...), for the tests of how the program takes a helper's faults.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "decoder/supervise.h"
#include "image/decode_protocol.h"

namespace {

void Send(const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = write(kDecodeChannelDescriptor, p, size);
        if (n <= 0) _exit(1);
        p += n;
        size -= static_cast<size_t>(n);
    }
}

void SendHeader(uint32_t kind, uint32_t width, uint32_t height, uint32_t magic = kDecodeReplyMagic) {
    DecodeReplyHeader header;
    header.magic = magic;
    header.kind = kind;
    header.width = width;
    header.height = height;
    Send(&header, sizeof header);
}

}  // namespace

int main() {
    SuperviseDecoding();
    DecodeRequest request;
    int file, shared;
    if (ReceiveDecodeRequest(kDecodeChannelDescriptor, request, file, shared) != 1) return kDecodeExitUsage;
    std::string mode = request.name;
    mode = mode.substr(0, mode.find('.'));
    std::vector<unsigned char> pixels(3 * 2 * 4, 200);
    if (mode == "good") {
        SendHeader(kDecodeReplyPixels, 3, 2);
        Send(pixels.data(), pixels.size());
    } else if (mode == "crash") {
        signal(SIGSEGV, SIG_DFL);  // past a sanitizer's own handler
        raise(SIGSEGV);
    } else if (mode == "spin") {
        for (;;) pause();
    } else if (mode == "hog") {
        _exit(kDecodeExitOutOfMemory);
    } else if (mode == "short") {
        SendHeader(kDecodeReplyPixels, 3, 2);
        Send(pixels.data(), pixels.size() - 1);
    } else if (mode == "long") {
        SendHeader(kDecodeReplyPixels, 3, 2);
        Send(pixels.data(), pixels.size());
        Send(pixels.data(), 1);
    } else if (mode == "huge") {
        SendHeader(kDecodeReplyPixels, 70000, 70000);
    } else if (mode == "stranger") {
        SendHeader(kDecodeReplyPixels, 3, 2, 0x12345678);
    } else if (mode == "refuse") {
        const char reason[] = "the picture is\nodd";
        SendHeader(kDecodeReplyRefused, sizeof reason - 1, 0);
        Send(reason, sizeof reason - 1);
    } else if (mode == "windy") {
        SendHeader(kDecodeReplyRefused, 1u << 30, 0);
    } else if (mode == "shared" || mode == "shrink") {
        // "shrink" first tries to cut the memory file short under the program's feet.
        if (shared < 0 || (mode == "shrink" && ftruncate(shared, 0) == 0)) _exit(1);
        if (pwrite(shared, pixels.data(), pixels.size(), 0) != static_cast<ssize_t>(pixels.size())) _exit(1);
        SendHeader(kDecodeReplyShared, 3, 2);
    } else if (mode == "unshared") {
        SendHeader(kDecodeReplyShared, 1, 6);  // as many bytes, another shape
    } else if (mode == "failed") {
        return 9;
    } else if (mode == "surroundings") {
        // What the host passed on: environment, blocked and ignored signals, open descriptors.
        int entries = 0, blocked = 0, ignored = 0, open = 0;
        while (environ[entries] != nullptr) ++entries;
        sigset_t mask;
        sigprocmask(SIG_SETMASK, nullptr, &mask);
        for (int number = 1; number < NSIG; ++number) {
            struct sigaction action;
            blocked += sigismember(&mask, number) == 1;
            ignored += sigaction(number, nullptr, &action) == 0 && action.sa_handler == SIG_IGN;
        }
        for (int fd = 0; fd < 64; ++fd) open += fcntl(fd, F_GETFD) >= 0;
        std::string reason = "environment " + std::to_string(entries) + ", blocked " + std::to_string(blocked) +
                             ", ignored " + std::to_string(ignored) + ", descriptors " + std::to_string(open);
        SendHeader(kDecodeReplyRefused, static_cast<uint32_t>(reason.size()), 0);
        Send(reason.data(), reason.size());
    }
    return 0;
}

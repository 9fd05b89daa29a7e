// A stand-in for quarro-decode that misbehaves in the way its file's name asks ("crash.png",
// "spin.png", ...), for the tests of how the program takes a helper's faults.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "decoder/supervise.h"
#include "decoder/protocol.h"

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

// A well-formed reply, as the real helper sends it.
void Reply(uint32_t kind, uint32_t width, uint32_t height, const std::string& text, const unsigned char* pixels) {
    DecodeReply reply;
    reply.kind = kind;
    reply.width = width;
    reply.height = height;
    reply.text = text;
    if (!SendDecodeReply(kDecodeChannelDescriptor, reply, pixels)) _exit(1);
}

// A reply's header alone, as a faulty helper may send it.
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
    // A copy of the helper's end of the status socket, kept only by "vanish".
    int statusCopy = fcntl(kDecodeStatusDescriptor, F_DUPFD_CLOEXEC, 20);
    SuperviseDecoding();
    DecodeRequest request;
    int file, shared;
    if (ReceiveDecodeRequest(kDecodeChannelDescriptor, request, file, shared) != 1) return kDecodeExitUsage;
    std::string mode = request.name;
    mode = mode.substr(0, mode.find('.'));
    if (mode != "vanish" && statusCopy >= 0) close(statusCopy);
    std::vector<unsigned char> pixels(3 * 2 * 4, 200);
    if (mode == "good") {
        Reply(kDecodeReplyPixels, 3, 2, "", pixels.data());
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
        Reply(kDecodeReplyRefused, 0, 0, "the picture is\nodd", nullptr);
    } else if (mode == "windy") {
        SendHeader(kDecodeReplyRefused, 1u << 30, 0);
    } else if (mode == "shared" || mode == "shrink") {
        // "shrink" first tries to cut the memory file short under the program's feet.
        if (shared < 0 || (mode == "shrink" && ftruncate(shared, 0) == 0)) _exit(1);
        if (pwrite(shared, pixels.data(), pixels.size(), 0) != static_cast<ssize_t>(pixels.size())) _exit(1);
        Reply(kDecodeReplyShared, 3, 2, "", nullptr);
    } else if (mode == "lingering") {
        // A child keeps a writable mapping of the pixels until the program has closed its socket.
        void* place = mmap(nullptr, pixels.size(), PROT_READ | PROT_WRITE, MAP_SHARED, shared, 0);
        if (place == MAP_FAILED) _exit(1);
        if (fork() == 0) {
            char byte;
            while (recv(kDecodeChannelDescriptor, &byte, 1, 0) > 0) {
            }
            _exit(0);
        }
        Reply(kDecodeReplyShared, 3, 2, "", nullptr);
    } else if (mode == "vanish") {
        // The supervisor is killed before it reports, while a child keeps the helper's end of the
        // status socket (as a child the host forked at the wrong moment could) until the program
        // closes the channel: only the supervisor's own end tells the program.
        if (fork() == 0) {
            char byte;
            while (recv(kDecodeChannelDescriptor, &byte, 1, 0) > 0) {
            }
            _exit(0);
        }
        kill(getppid(), SIGKILL);
        for (;;) pause();
    } else if (mode == "selfsealed") {
        if (fcntl(shared, F_ADD_SEALS, F_SEAL_SEAL) != 0) _exit(1);
        Reply(kDecodeReplyShared, 3, 2, "", nullptr);
    } else if (mode == "oversized" || mode == "cropped") {
        // Pixels on the socket, more or fewer than the file's header claims.
        uint32_t side = mode == "oversized" ? 4 : 2;
        std::vector<unsigned char> other(side * side * 4, 200);
        Reply(kDecodeReplyPixels, side, side, "", other.data());
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
        Reply(kDecodeReplyRefused, 0, 0, reason, nullptr);
    }
    return 0;
}

#include "decoder/mapped_input.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "decoder/protocol.h"

namespace {

// Files up to this size are mapped with their pages at once, as one read would bring them: a
// fault for every few pages of a photograph would cost more than the reading.
const size_t kPopulatedFileBytes = 64 << 20;

// What the bus-error handler needs, all made before it may run: it only writes and exits.
const unsigned char* gInput = nullptr;
size_t gInputBytes = 0;
int gChannel = -1;
std::string gRefusal;

void OnBusError(int, siginfo_t* info, void*) {
    const unsigned char* at = static_cast<const unsigned char*>(info->si_addr);
    if (info->si_code > 0 && at >= gInput && at < gInput + gInputBytes) {
        const char* next = gRefusal.data();
        size_t left = gRefusal.size();
        while (left > 0) {
            ssize_t n = write(gChannel, next, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) _exit(1);
            next += n;
            left -= static_cast<size_t>(n);
        }
        _exit(0);
    }
    // Another fault: the handler is gone (SA_RESETHAND), and the signal kills once it returns.
    raise(SIGBUS);
}

}  // namespace

bool MapInputFile(int fd, const unsigned char*& data, size_t& size, std::string& reason) {
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        reason = "the decoder was not handed a regular file";
        return false;
    }
    if (info.st_size > kMaxInputBytes) {
        reason = "the file holds " + std::to_string(info.st_size) + " bytes, more than this program reads";
        return false;
    }
    size = static_cast<size_t>(info.st_size);
    static const unsigned char kNothing = 0;
    data = &kNothing;
    if (size == 0) return true;
    int flags = MAP_PRIVATE | (size <= kPopulatedFileBytes ? MAP_POPULATE : 0);
    void* place = mmap(nullptr, size, PROT_READ, flags, fd, 0);
    if (place == MAP_FAILED) {
        if (errno == ENOMEM) _exit(kDecodeExitOutOfMemory);
        reason = std::string("the file could not be read: ") + std::strerror(errno);
        return false;
    }
    data = static_cast<const unsigned char*>(place);
    return true;
}

void RefuseWhenInputShrinks(const unsigned char* data, size_t size, int channel) {
    DecodeReply refusal;
    refusal.text = "the file was cut short while it was read: read it again once it is written in full";
    gRefusal = DecodeReplyBytes(refusal);
    gInput = data;
    gInputBytes = size;
    gChannel = channel;
    struct sigaction action = {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, nullptr);
}

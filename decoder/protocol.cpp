#include "decoder/protocol.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "files/write_all.h"
#include "image/format_sniff.h"

int SendDecodeRequest(int channel, const DecodeRequest& request, int file, int pixels) {
    int attach[2] = {file, pixels};
    size_t count = pixels >= 0 ? 2 : 1;
    alignas(struct cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))] = {};
    struct iovec part = {const_cast<DecodeRequest*>(&request), sizeof request};
    struct msghdr message = {};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = CMSG_SPACE(count * sizeof(int));
    struct cmsghdr* attached = CMSG_FIRSTHDR(&message);
    attached->cmsg_level = SOL_SOCKET;
    attached->cmsg_type = SCM_RIGHTS;
    attached->cmsg_len = CMSG_LEN(count * sizeof(int));
    std::memcpy(CMSG_DATA(attached), attach, count * sizeof(int));
    ssize_t sent;
    do {
        sent = sendmsg(channel, &message, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(sizeof request) ? 0 : -1;
}

int ReceiveDecodeRequest(int channel, DecodeRequest& request, int& file, int& pixels) {
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

std::string DecodeReplyBytes(const DecodeReply& reply) {
    const std::string text = reply.text.substr(0, kDecodeMaxReasonBytes);
    DecodeReplyHeader header;
    header.kind = reply.kind;
    const bool refused = reply.kind == kDecodeReplyRefused;
    header.width = refused ? static_cast<uint32_t>(text.size()) : reply.width;
    header.height = refused ? 0 : reply.height;
    header.colourNoteBytes = refused ? 0 : static_cast<uint32_t>(text.size());
    header.colourWarning = !refused && reply.colourWarning ? 1 : 0;
    return std::string(reinterpret_cast<const char*>(&header), sizeof header) + text;
}

bool SendDecodeReply(int channel, const DecodeReply& reply, const unsigned char* pixels) {
    const std::string bytes = DecodeReplyBytes(reply);
    const size_t pixelBytes = reply.kind == kDecodeReplyPixels ? size_t{reply.width} * reply.height * 4 : 0;
    return WriteAll(channel, bytes.data(), bytes.size()) && WriteAll(channel, pixels, pixelBytes);
}

namespace {

std::string Size(long long width, long long height) { return std::to_string(width) + " x " + std::to_string(height); }

// The size a reply claims against what the program validated; empty when it may stand. Pixels
// in the memory file fill it as the validated size or that size turned a quarter (an EXIF or HEIF
// rotation); pixels on the socket may be fewer (a cropped picture, one layer of several) but
// never more, as the helper itself checks.
std::string SizeFault(const DecodeReplyHeader& header, const DecodeExpectation& expected) {
    std::string claims = "the decoder's reply claims " + Size(header.width, header.height) + " pixels";
    if (header.kind == kDecodeReplyShared) {
        bool asValidated = header.width == expected.width && header.height == expected.height;
        bool turned = header.width == expected.height && header.height == expected.width;
        if (!expected.shared) return "the decoder's reply is not one this program understands";
        if (asValidated || turned) return std::string();
        return claims + ", not the " + Size(expected.width, expected.height) + " set aside for them";
    }
    std::string fault;
    if (CheckImageSize("the decoder's reply", header.width, header.height, 1, fault) != 0) return fault;
    long long area = static_cast<long long>(header.width) * header.height;
    if (expected.width > 0 && area > expected.width * expected.height * expected.depth) {
        return claims + ", more than the " + Size(expected.width, expected.height) + " its header claims";
    }
    return std::string();
}

}  // namespace

int ReceiveDecodeReply(const DecodeRead& read, const DecodeExpectation& expected,
                       const std::function<unsigned char*(uint32_t width, uint32_t height)>& place,
                       DecodeReply& reply, std::string& fault) {
    const std::string cutShort = "the decoder's reply was cut short";
    DecodeReplyHeader header;
    if (read(&header, sizeof header) != sizeof header) {
        fault = cutShort;
        return -1;
    }
    const bool refused = header.kind == kDecodeReplyRefused;
    if (header.magic != kDecodeReplyMagic ||
        (!refused && header.kind != kDecodeReplyPixels && header.kind != kDecodeReplyShared)) {
        fault = "the decoder's reply is not one this program understands";
        return -1;
    }
    // Every length and size is checked before anything is allocated for it.
    uint32_t textBytes = refused ? header.width : header.colourNoteBytes;
    if (textBytes > kDecodeMaxReasonBytes) {
        fault = "the decoder's reply was longer than it may be";
        return -1;
    }
    reply.text.assign(textBytes, '\0');
    if (read(&reply.text[0], textBytes) != textBytes) {
        fault = cutShort;
        return -1;
    }
    reply.kind = header.kind;
    reply.width = refused ? 0 : header.width;
    reply.height = refused ? 0 : header.height;
    reply.colourWarning = !refused && header.colourWarning != 0;
    if (refused) return 0;
    fault = SizeFault(header, expected);
    if (!fault.empty()) return -1;
    if (header.kind == kDecodeReplyShared) return 0;
    unsigned char* pixels = place(header.width, header.height);
    if (pixels == nullptr) {
        fault = "there is not enough memory for a " + Size(header.width, header.height) + " picture";
        return -1;
    }
    size_t bytes = size_t{header.width} * header.height * 4;
    if (read(pixels, bytes) != bytes) {
        fault = "the decoder's reply was cut short of the pixels it promised";
        return -1;
    }
    return 0;
}

void SendDecodeStatus(int statusSocket, int waitStatus) {
    ssize_t ignored = send(statusSocket, &waitStatus, sizeof waitStatus, MSG_NOSIGNAL);
    (void)ignored;
}

bool ReceiveDecodeStatus(const DecodeRead& read, int& waitStatus) {
    int report = 0;
    if (read(&report, sizeof report) != sizeof report) return false;
    waitStatus = report;
    return true;
}

void SendDecodeStop(int statusSocket) {
    char stop = 0;
    ssize_t ignored = send(statusSocket, &stop, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    (void)ignored;
}

size_t ReadWithin(int fd, void* data, size_t size, std::chrono::steady_clock::time_point deadline,
                  std::initializer_list<int> ended, bool& timedOut) {
    char* p = static_cast<char*>(data);
    size_t done = 0;
    bool endedSeen = false;
    struct pollfd wait[3] = {{fd, POLLIN, 0}, {-1, POLLIN, 0}, {-1, POLLIN, 0}};
    nfds_t watched = 1;
    for (int other : ended) {
        if (other >= 0 && watched < 3) wait[watched++].fd = other;
    }
    while (done < size) {
        ssize_t n = read(fd, p + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n == 0) break;
        if (errno == EINTR) continue;
        if (errno != EAGAIN || endedSeen) break;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        poll(wait, watched, static_cast<int>(std::min<long long>(left, 1000)) + 1);
        // Ended: what was sent is all there; one more read takes the rest.
        for (nfds_t i = 1; i < watched; ++i) endedSeen = endedSeen || wait[i].revents != 0;
    }
    return done;
}

#include "image/decode_client.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "files/input_file.h"
#include "image/decode_budget.h"
#include "decoder/protocol.h"
#include "image/decoder_location.h"
#include "image/format_sniff.h"
#include "image/helper_process.h"

namespace {

using Clock = std::chrono::steady_clock;

// Bytes read here for the header check, first a few, then more when the size was not among
// them; formats whose size lies further in are checked by the helper.
const size_t kFirstHeaderBytes = 64 << 10;
const size_t kHeaderBytes = 1 << 20;

std::mutex gSettingsMutex;
std::string gDecoderPath;
double gTimeLimitSeconds = 0;  // 0: from the picture's size

// Descriptors of ours, closed on every path out.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd(fd) {}
    ~Descriptor() { Reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    void Reset(int other = -1) {
        if (fd >= 0) close(fd);
        fd = other;
    }
    int fd;
};

std::string FileReason(const std::string& openReason) {
    if (openReason.compare(0, 3, "is ") == 0) return "the path " + openReason;
    std::string text = openReason;
    if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return "the file cannot be opened: " + text;
}

std::string BaseName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A started helper: its process and our end of its socket.
struct Helper {
    HelperProcess process;
    Descriptor channel;
};

int StartHelper(const std::string& program, Helper& helper, std::string& reason) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        reason = std::string("no socket to the decoder: ") + std::strerror(errno);
        return -1;
    }
    Descriptor ours(ends[0]), theirs(ends[1]);
    // Room for a good part of a picture per wake-up while the pixels stream in.
    int buffer = 1 << 20;
    setsockopt(theirs.fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    setsockopt(ours.fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    if (StartHelperProcess(program, theirs.fd, helper.process, reason) != 0) return -1;
    helper.channel.Reset(ours.fd);
    ours.fd = -1;
    return 0;
}

// A memory file of `bytes` bytes for the helper to decode into, its size sealed so that the
// helper can neither shrink it under our reads nor grow it against our memory; -1 on failure.
// Writes are sealed once the helper has ended (AdoptPixelMemory).
int MakePixelMemory(long long bytes) {
    Descriptor memory(memfd_create("quarro-pixels", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (memory.fd < 0 || ftruncate(memory.fd, static_cast<off_t>(bytes)) != 0 ||
        fcntl(memory.fd, F_ADD_SEALS, F_SEAL_GROW | F_SEAL_SHRINK) != 0) {
        return -1;
    }
    int fd = memory.fd;
    memory.fd = -1;
    return fd;
}

// Hands the helper the open file, the pixels' memory file (if `pixels` >= 0, of `pixelBytes`
// bytes) and its limits. 0, or -1 when the helper is gone.
int SendRequest(Helper& helper, int file, int pixels, long long pixelBytes, const std::string& name,
                const ImageHeader& header, int cpuSeconds, long long memoryMiB, bool keepStoredColour) {
    DecodeRequest request;
    request.keepStoredColour = keepStoredColour ? 1 : 0;
    request.cpuSeconds = cpuSeconds;
    request.memoryMiB = memoryMiB;
    request.format = static_cast<uint32_t>(header.format);
    request.width = header.width;
    request.height = header.height;
    request.pixelBytes = pixels >= 0 ? pixelBytes : 0;
    std::strncpy(request.name, name.c_str(), sizeof request.name - 1);
    return SendDecodeRequest(helper.channel.fd, request, file, pixels);
}

// One helper started ahead of need, so that a picture does not wait for the helper's start:
// only in a host that said it reads pictures one after another. It belongs to the process that
// started it (a forked child leaves it alone) and to one program.
std::mutex gSpareMutex;
bool gKeepSpare = false;
std::unique_ptr<Helper> gSpare;
pid_t gSpareOwner = -1;
std::string gSpareProgram;

// The spare for `program`, if there is one; the caller owns it from now on.
std::unique_ptr<Helper> TakeSpare(const std::string& program) {
    std::lock_guard<std::mutex> lock(gSpareMutex);
    std::unique_ptr<Helper> spare = std::move(gSpare);
    // Another program's spare stops as it is dropped; in a forked copy of the host, dropping
    // closes only the copy's descriptors, and the parent keeps its spare.
    if (spare != nullptr && (gSpareOwner != getpid() || gSpareProgram != program)) return nullptr;
    return spare;
}

bool SparesKept() {
    std::lock_guard<std::mutex> lock(gSpareMutex);
    return gKeepSpare;
}

void StartSpare(const std::string& program) {
    {
        std::lock_guard<std::mutex> lock(gSpareMutex);
        if (gSpare != nullptr && gSpareOwner == getpid()) return;
    }
    // Started without the lock, so that another thread's picture never waits for this start;
    // a spare that is not kept, as another thread's came first, stops as it is dropped here.
    auto spare = std::make_unique<Helper>();
    std::string ignored;
    if (StartHelper(program, *spare, ignored) != 0) return;
    std::lock_guard<std::mutex> lock(gSpareMutex);
    if (!gKeepSpare || (gSpare != nullptr && gSpareOwner == getpid())) return;
    std::swap(gSpare, spare);  // what it replaces stops as `spare` is dropped
    gSpareOwner = getpid();
    gSpareProgram = program;
}

// Seals the memory file the helper decoded into against writes, once the helper has ended and
// no mapping of it should be left that could write to it: its bytes change no more, whoever else
// may hold it. The seals must be exactly ours and that one; a helper that added others, or left
// a writable mapping behind, is not believed. True when sealed so.
bool SealPixelMemory(int fd) {
    const int sealed = F_SEAL_GROW | F_SEAL_SHRINK | F_SEAL_WRITE | F_SEAL_SEAL;
    return fcntl(fd, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_SEAL) == 0 && fcntl(fd, F_GET_SEALS) == sealed;
}

// Makes the sealed memory file the picture's own buffer, without a copy. The mapping is private:
// a process forked from ours later, writing to its copy of the picture, does not write to ours.
int AdoptPixelMemory(int fd, long long bytes, int width, int height, CPixelImage& image, std::string& reason) {
    void* place = mmap(nullptr, static_cast<size_t>(bytes), PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, 0);
    if (place == MAP_FAILED) {
        reason = "there is not enough memory for a " + std::to_string(width) + " x " + std::to_string(height) +
                 " picture";
        return -1;
    }
    image.AdoptMapping(static_cast<unsigned char*>(place), static_cast<size_t>(bytes), width, height, 4);
    return 0;
}

// The reason of a helper that did not end with a whole reply and exit status 0, if that is so.
bool HelperFailed(int status, bool timedOut, double seconds, int cpuSeconds, long long memoryMiB, std::string& reason) {
    char limit[32];
    std::snprintf(limit, sizeof limit, "%g", seconds);
    if (timedOut) {
        reason = std::string("the decoder took longer than ") + limit + " s and was stopped";
        return true;
    }
    if (WIFSIGNALED(status)) {
        int signal = WTERMSIG(status);
        if (signal == SIGXCPU) {
            reason = "the decoder used more than " + std::to_string(cpuSeconds) + " s of CPU time and was stopped";
        } else if (signal == SIGSYS) {
            reason = "the decoder attempted a forbidden system call and was stopped";
        } else {
            reason = "the decoder crashed (signal " + std::to_string(signal) + ", " + strsignal(signal) + ")";
        }
        return true;
    }
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (code == kDecodeExitOutOfMemory) {
        reason = "the decoder ran out of its " + std::to_string(memoryMiB) + " MiB of memory";
        return true;
    }
    if (code != 0) {
        reason = "the decoder failed (exit status " + std::to_string(code) + ")";
        return true;
    }
    return false;
}

// Reason text from the helper, kept to printable characters.
std::string CleanText(const std::string& text) {
    std::string clean;
    for (char c : text) clean += (c >= 0x20 && c < 0x7F) ? c : '?';
    return clean.empty() ? "the decoder refused the file without saying why" : clean;
}

// One picture on its way: the open file and what its header said, then the helper it went to.
struct PendingDecode {
    Descriptor file;
    ImageHeader header;
    std::string name;
    bool keepStoredColour = false;
    double seconds = 0;  // on the clock
    int cpuSeconds = 0;
    long long memoryMiB = 0;
    long long pixelBytes = 0;  // of the shared memory file, if there is one
    Descriptor shared;
    std::unique_ptr<Helper> helper;
    Clock::time_point deadline;
};

// Opens the file, the one open of it, and checks its header and size in this process, and sets
// aside the memory its pixels will take: 0, or -1 with the reason in `read`. `seconds` is the
// time limit set, 0 for none.
int InspectPicture(ImageFileRead& read, double seconds, PendingDecode& picture) {
    const std::string& path = read.path;
    std::string& reason = read.reason;
    errno = 0;
    picture.file.Reset(OpenInputFile(path, read.openReason));
    if (picture.file.fd < 0) {
        read.openError = errno;
        reason = FileReason(read.openReason);
        return -1;
    }
    struct stat info;
    if (fstat(picture.file.fd, &info) != 0) {
        reason = std::string("the file cannot be read: ") + std::strerror(errno);
        return -1;
    }
    // Most headers give the size within their first bytes; a JPEG's may follow large metadata.
    std::vector<unsigned char> head;
    ImageHeader& header = picture.header;
    for (size_t want : {kFirstHeaderBytes, kHeaderBytes}) {
        head.resize(static_cast<size_t>(std::min<long long>(info.st_size, static_cast<long long>(want))));
        ssize_t got = head.empty() ? 0 : pread(picture.file.fd, head.data(), head.size(), 0);
        if (got < 0) {
            reason = std::string("the file cannot be read: ") + std::strerror(errno);
            return -1;
        }
        bool whole = static_cast<size_t>(got) < want;
        head.resize(static_cast<size_t>(got));
        header = ImageHeader();
        if (InspectImageHeader(head.data(), head.size(), path, header, reason) != 0) return -1;
        if (header.width >= 0 || whole) break;
    }
    if (CheckEncodedSize(head.data(), head.size(), info.st_size, header, reason) != 0) return -1;

    DecodeBudget budget = DecodeBudgetFor(header, info.st_size);
    picture.memoryMiB = budget.memoryMiB;
    picture.cpuSeconds = seconds > 0 ? static_cast<int>(std::ceil(seconds)) : budget.cpuSeconds;
    picture.seconds = seconds > 0 ? seconds : budget.wallSeconds;
    picture.name = BaseName(path);
    // A picture of a validated size is decoded straight into memory shared with the helper;
    // without one (or without memory files) its pixels come through the socket.
    picture.pixelBytes = header.width > 0 && header.depth == 1 ? header.width * header.height * 4 : 0;
    picture.shared.Reset(picture.pixelBytes > 0 ? MakePixelMemory(picture.pixelBytes) : -1);
    return 0;
}

// Hands the picture to the spare helper, if there is one, else to a new one; its time on the
// clock starts now. 0, or -1 with the reason.
int HandPicture(const std::string& program, PendingDecode& picture, std::string& reason) {
    auto send = [&picture](Helper& helper) {
        return SendRequest(helper, picture.file.fd, picture.shared.fd, picture.pixelBytes, picture.name,
                           picture.header, picture.cpuSeconds, picture.memoryMiB, picture.keepStoredColour);
    };
    picture.helper = TakeSpare(program);
    if (picture.helper != nullptr && send(*picture.helper) != 0) picture.helper = nullptr;
    if (picture.helper == nullptr) {
        picture.helper = std::make_unique<Helper>();
        if (StartHelper(program, *picture.helper, reason) != 0) return -1;
        if (send(*picture.helper) != 0) {
            reason = "the decoder could not be handed the file";
            return -1;
        }
    }
    picture.file.Reset();
    Helper& helper = *picture.helper;
    fcntl(helper.channel.fd, F_SETFL, fcntl(helper.channel.fd, F_GETFL) | O_NONBLOCK);
    picture.deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(picture.seconds));
    return 0;
}

// Waits for the helper's reply and its end: 0 with `target` holding the picture and `colour`
// what was done with its colours, or -1 with the reason and `target` untouched.
int CollectPicture(PendingDecode& picture, CPixelImage& target, ImageColour& colour, std::string& reason) {
    Helper& helper = *picture.helper;
    // The reply is read in full before the exit status is looked at, so that a helper never
    // waits on a full socket. A child the host forked may hold a copy of the helper's end of the
    // channel, so its end of file may never come: reads end when the supervisor has reported or ended.
    bool timedOut = false;
    const int channel = helper.channel.fd;
    auto read = [&](void* data, size_t size) {
        return ReadWithin(channel, data, size, picture.deadline, {helper.process.status, helper.process.pidfd},
                          timedOut);
    };
    DecodeExpectation expected;
    expected.width = picture.header.width;
    expected.height = picture.header.height;
    expected.depth = picture.header.depth;
    expected.shared = picture.shared.fd >= 0;
    CPixelImage loaded;
    auto place = [&loaded](uint32_t width, uint32_t height) {
        loaded.Allocate(static_cast<int>(width), static_cast<int>(height), 4);
        return loaded.pixels;
    };
    DecodeReply reply;
    std::string replyFault;
    ReceiveDecodeReply(read, expected, place, reply, replyFault);
    // Anything beyond the reply is a fault; it is all there once the helper has ended.
    int status = WaitHelperProcess(helper.process, picture.deadline, timedOut);
    if (replyFault.empty() && !timedOut) {
        char extra;
        if (recv(channel, &extra, 1, MSG_DONTWAIT) > 0) {
            replyFault = "the decoder's reply was longer than the pixels it promised";
        }
    }
    if (replyFault.empty() && reply.kind == kDecodeReplyShared && !SealPixelMemory(picture.shared.fd)) {
        replyFault = "the decoder's pixel memory could not be sealed against changes";
    }
    helper.channel.Reset();
    if (HelperFailed(status, timedOut, picture.seconds, picture.cpuSeconds, picture.memoryMiB, reason)) return -1;
    if (!replyFault.empty()) {
        reason = replyFault;
        return -1;
    }
    if (reply.kind == kDecodeReplyRefused) {
        reason = CleanText(reply.text);
        return -1;
    }
    if (reply.kind == kDecodeReplyShared &&
        AdoptPixelMemory(picture.shared.fd, picture.pixelBytes, static_cast<int>(reply.width),
                         static_cast<int>(reply.height), loaded, reason) != 0) {
        return -1;
    }
    target.Swap(loaded);
    colour.note = reply.text.empty() ? reply.text : CleanText(reply.text);
    colour.warning = !reply.text.empty() && reply.colourWarning;
    return 0;
}

}  // namespace

void SetImageDecoderPath(const std::string& path) {
    std::lock_guard<std::mutex> lock(gSettingsMutex);
    gDecoderPath = path;
}

void KeepImageDecoderSpare(bool keep) {
    std::lock_guard<std::mutex> lock(gSpareMutex);
    gKeepSpare = keep;
    if (!keep) gSpare = nullptr;
}

void SetImageDecodeTimeLimit(double seconds) {
    std::lock_guard<std::mutex> lock(gSettingsMutex);
    gTimeLimitSeconds = seconds > 0 ? seconds : 0;
}

int FindImageDecoder(std::string& program, std::string& reason) {
    {
        std::lock_guard<std::mutex> lock(gSettingsMutex);
        program = gDecoderPath;
    }
    if (program.empty()) program = DecoderBesideProgram(QUARRO_DECODER_FROM_PROGRAM);
    if (program.empty()) {
        reason = "the decoder program cannot be looked for: this program's own file is unknown";
        return -1;
    }
    int checked;
    return CheckedDecoderProgram(program, checked, reason);
}

int DecodeImageFile(const std::string& path, CPixelImage& target, std::string& reason) {
    return DecodeImageFile(path, target, reason, nullptr);
}

int DecodeImageFile(const std::string& path, CPixelImage& target, std::string& reason, ImageColour* colour) {
    std::vector<ImageFileRead> reads(1);
    reads[0].path = path;
    if (colour != nullptr) reads[0].colour.keepStored = colour->keepStored;
    DecodeImageFiles(reads);
    reason = reads[0].reason;
    if (reads[0].result != 0) return -1;
    target.Swap(reads[0].image);
    if (colour != nullptr) *colour = reads[0].colour;
    return 0;
}

int DecodeImageFiles(std::vector<ImageFileRead>& reads) {
    double seconds;
    {
        std::lock_guard<std::mutex> lock(gSettingsMutex);
        seconds = gTimeLimitSeconds;
    }
    // Every picture is handed to a helper of its own before any reply is waited for, so that
    // the helpers decode side by side.
    std::vector<PendingDecode> pending(reads.size());
    std::string program, programReason;
    const bool found = FindImageDecoder(program, programReason) == 0;
    for (size_t i = 0; i < reads.size(); ++i) {
        ImageFileRead& read = reads[i];
        read.result = -1;
        read.image.Clear();
        read.colour.note.clear();
        read.colour.warning = false;
        read.openReason.clear();
        read.openError = 0;
        pending[i].keepStoredColour = read.colour.keepStored;
        if (InspectPicture(read, seconds, pending[i]) != 0) continue;
        if (!found) {
            read.reason = programReason;
            continue;
        }
        if (HandPicture(program, pending[i], read.reason) != 0) pending[i].helper = nullptr;
    }
    // A host that reads one picture after another has the next one's helper start meanwhile.
    if (found && SparesKept()) StartSpare(program);
    // Each reply is collected on a thread of its own (the caller's for the first), so that a
    // helper whose pixels come through the socket never waits for another's reply to be read.
    auto collect = [&reads, &pending](size_t i) {
        if (pending[i].helper != nullptr) {
            reads[i].result = CollectPicture(pending[i], reads[i].image, reads[i].colour, reads[i].reason);
        }
    };
    std::vector<std::thread> collectors;
    size_t onThreads = 1;
    for (; onThreads < reads.size(); ++onThreads) {
        if (pending[onThreads].helper == nullptr) continue;
        try {
            collectors.emplace_back(collect, onThreads);
        } catch (const std::system_error&) {
            break;  // the rest are collected here
        }
    }
    if (!reads.empty()) collect(0);
    for (size_t i = onThreads; i < reads.size(); ++i) collect(i);
    for (std::thread& collector : collectors) collector.join();
    int failures = 0;
    for (const ImageFileRead& read : reads) failures += read.result != 0;
    return failures;
}

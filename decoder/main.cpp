// quarro-decode: decodes one picture for the program, confined, and hands back its pixels.
// One process per picture; it may be started before the picture is chosen and wait for it.
// See decoder/protocol.h for how it is started and what it replies.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "decoder/colour_description.h"
#include "decoder/colour_library.h"
#include "decoder/decode_image.h"
#include "decoder/format_decoders.h"
#include "decoder/mapped_input.h"
#include "decoder/protocol.h"
#include "decoder/sandbox.h"
#include "decoder/supervise.h"

namespace {

void OnNoMemory() { _exit(kDecodeExitOutOfMemory); }

[[noreturn]] void Refuse(const std::string& reason) {
    DecodeReply reply;
    reply.text = reason;
    _exit(SendDecodeReply(kDecodeChannelDescriptor, reply, nullptr) ? 0 : 1);
}

// Maps the memory file the program made for the pixels as `image`'s place, and keeps it open for
// rows written to it. It must hold exactly the bytes the request says; the program sealed its
// size, so it stays so.
int MapPixels(int fd, int64_t bytes, DecodedImage& image, std::string& reason) {
    struct stat info;
    if (fstat(fd, &info) != 0 || info.st_size != bytes) {
        reason = "the decoder was handed pixel memory of another size than the request says";
        return -1;
    }
    // Pages are made as the decoder writes them: a file that fails early costs only those.
    void* place = mmap(nullptr, static_cast<size_t>(bytes), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (place == MAP_FAILED) {
        close(fd);
        reason = std::string("the decoder could not map the pixel memory: ") + std::strerror(errno);
        return -1;
    }
    image.place = static_cast<unsigned char*>(place);
    image.placeBytes = static_cast<size_t>(bytes);
    image.placeFile = fd;
    return 0;
}

// The pixels' memory file goes to this number, which the filter made ahead of need names.
const int kPixelDescriptor = 9;

// Moves `pixels` to kPixelDescriptor, `file` out of its way first. 0 or -1.
int MoveDescriptor(int& file, int& pixels) {
    if (file == kPixelDescriptor && (file = fcntl(file, F_DUPFD_CLOEXEC, kPixelDescriptor + 1)) < 0) return -1;
    if (pixels == kPixelDescriptor) return 0;
    if (dup3(pixels, kPixelDescriptor, O_CLOEXEC) < 0) return -1;
    close(pixels);
    pixels = kPixelDescriptor;
    return 0;
}

}  // namespace

#ifdef QUARRO_SANITIZED_BUILD
// Sanitizer builds run without the address-space limit; their allocator caps each allocation
// instead, so that a memory blow-up stays a refusal there too.
extern "C" const char* __asan_default_options() { return "max_allocation_size_mb=2048:allocator_may_return_null=1"; }
extern "C" const char* __tsan_default_options() { return "max_allocation_size_mb=2048:allocator_may_return_null=1"; }
#endif

int main(int argc, char**) {
    if (argc != 1 || fcntl(kDecodeChannelDescriptor, F_GETFD) < 0) return kDecodeExitUsage;
    // A crash of a decoder leaves no core file in the user's folder.
    if (LimitCoreDumps() != 0) return kDecodeExitUsage;
    SuperviseDecoding();
    // Nothing but the socket and the silenced standard streams stays open.
    syscall(SYS_close_range, kDecodeChannelDescriptor + 1, ~0U, 0);
    std::set_new_handler(OnNoMemory);
    // Started ahead of need, the helper waits here with its libraries loaded and its filter made.
    PreparedFilter filter;
    std::string filterFault;
    PrepareSyscallFilter(kPixelDescriptor, filter, filterFault);
    DecodeRequest request;
    int file, pixels;
    int received = ReceiveDecodeRequest(kDecodeChannelDescriptor, request, file, pixels);
    if (received == 0) _exit(0);
    if (received < 0) _exit(kDecodeExitUsage);
    if (!filterFault.empty()) Refuse(filterFault);
    if (pixels >= 0 && MoveDescriptor(file, pixels) != 0) Refuse("the decoder could not place its descriptors");

    if (request.cpuSeconds > 0 && LimitCpuTime(request.cpuSeconds) != 0) {
        Refuse("the decoder's CPU-time limit could not be set");
    }
    std::string reason;
    // Mapped, not read: the pages a decoder or the colour check reaches are all the file costs,
    // and the mapping counts against the address-space limit, whose budget includes the file.
    const unsigned char* bytes = nullptr;
    size_t byteCount = 0;
    if (!MapInputFile(file, bytes, byteCount, reason)) Refuse(reason);
    close(file);
    // A file cut short by another process while it is read is a refusal, not a crash.
    RefuseWhenInputShrinks(bytes, byteCount, kDecodeChannelDescriptor);
    DecodedImage image;
    // The pixels' memory is mapped before the limits and the filter, which then have no mapping
    // of a file to allow.
    if (pixels >= 0 && MapPixels(pixels, request.pixelBytes, image, reason) != 0) Refuse(reason);
    // The format is the program's identification; the helper's table row follows it.
    ImageFormat format = request.format < 256 ? static_cast<ImageFormat>(request.format) : ImageFormat::kUnknown;
    // The libraries only some formats need are opened for those alone, and before the limits
    // and the filter: their mappings count against the address space, and inside the filter no
    // file opens and no code is mapped.
    if (LoadDecoderLibraries(format, reason) != 0) Refuse(reason);
    // The colour engine, for pictures that describe their colours other than as sRGB; without
    // it they are shown as stored, with the reason.
    image.keepStoredColour = request.keepStoredColour != 0;
    std::string noEngine;
    if (!image.keepStoredColour && MayNeedColourEngine(bytes, byteCount, format)) LoadLcmsLibrary(noEngine);
    if (request.memoryMiB > 0 && LimitAddressSpace(request.memoryMiB << 20) != 0) {
        Refuse("the decoder's memory limit could not be set");
    }
#ifndef QUARRO_SANITIZED_BUILD
    // Where the kernel allows it; the sanitizer runtimes read /proc as they report.
    EnterEmptyWorld();
#endif
    if (EnterPreparedFilter(filter, reason) != 0) Refuse(reason);

    if (DecodeImage(bytes, byteCount, format, image, reason) != 0) Refuse(reason);
    DecodeReply reply;
    reply.kind = image.inPlace ? kDecodeReplyShared : kDecodeReplyPixels;
    reply.width = static_cast<uint32_t>(image.width);
    reply.height = static_cast<uint32_t>(image.height);
    reply.text = image.colourNote;
    reply.colourWarning = image.colourWarning;
    bool sent = SendDecodeReply(kDecodeChannelDescriptor, reply, image.inPlace ? nullptr : image.rgba.data());
    // No exit handlers: nothing is left to flush, and a leak checker has no business here.
    _exit(sent ? 0 : 1);
}

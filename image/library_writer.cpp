// The image library's writer, kept for the rare formats. The library keeps global state (the
// bound image, its write callbacks), so every use of it takes turns through one lock.
#include <IL/il.h>
#include <IL/ilu.h>

#include <climits>
#include <cstring>
#include <mutex>
#include <new>

#include "image/image_file.h"
#include "image/image_writers.h"
#include "image/library_image.h"

namespace {

std::mutex gLibraryTurn;

ILenum LibraryFormat(int bytesPerPixel) {
    switch (bytesPerPixel) {
        case 1: return IL_LUMINANCE;
        case 3: return IL_RGB;
        case 4: return IL_RGBA;
        default: return 0;
    }
}

// Hands the library the source's pixels in their own layout; false when it refuses them.
bool SetLibraryPixels(const CPixelImage& source) {
    ILenum format = LibraryFormat(source.bytesPerPixel);
    if (format == 0 || source.pixels == nullptr || source.width <= 0 || source.height <= 0) return false;
    return ilTexImage(static_cast<ILuint>(source.width), static_cast<ILuint>(source.height), 1,
                      static_cast<ILubyte>(source.bytesPerPixel), format, IL_UNSIGNED_BYTE,
                      source.pixels) == IL_TRUE;
}

// The library writes through these callbacks into the bytes of a MemorySink, so that every
// byte reaches the disk through the checked writes of ReplaceFileWithBytes.
struct MemorySink {
    std::vector<unsigned char>* bytes;
    size_t position = 0;
    bool failed = false;

    // Makes room for `count` bytes at the position; false when memory or the library's
    // int-sized positions run out.
    bool Reserve(size_t count) {
        if (failed || position + count > static_cast<size_t>(INT_MAX)) return !(failed = true);
        if (position + count <= bytes->size()) return true;
        try {
            bytes->resize(position + count);
        } catch (const std::bad_alloc&) {
            failed = true;
        }
        return !failed;
    }
};

MemorySink* gSink = nullptr;  // under gLibraryTurn

ILHANDLE ILAPIENTRY SinkOpen(ILconst_string) { return gSink; }
void ILAPIENTRY SinkClose(ILHANDLE) {}
ILint ILAPIENTRY SinkPutc(ILubyte byte, ILHANDLE handle) {
    MemorySink* sink = static_cast<MemorySink*>(handle);
    if (!sink->Reserve(1)) return IL_EOF;
    (*sink->bytes)[sink->position++] = byte;
    return byte;
}
ILint ILAPIENTRY SinkWrite(const void* data, ILuint size, ILuint count, ILHANDLE handle) {
    MemorySink* sink = static_cast<MemorySink*>(handle);
    size_t length = static_cast<size_t>(size) * count;
    if (length == 0) return static_cast<ILint>(count);
    if (!sink->Reserve(length)) return 0;
    std::memcpy(sink->bytes->data() + sink->position, data, length);
    sink->position += length;
    return static_cast<ILint>(count);
}
ILint ILAPIENTRY SinkSeek(ILHANDLE handle, ILint offset, ILint origin) {
    MemorySink* sink = static_cast<MemorySink*>(handle);
    long long base = origin == IL_SEEK_SET ? 0 : origin == IL_SEEK_CUR ? static_cast<long long>(sink->position)
                                                                        : static_cast<long long>(sink->bytes->size());
    long long target = base + offset;
    if (target < 0 || target > INT_MAX) return -1;
    sink->position = static_cast<size_t>(target);
    return 0;
}
ILint ILAPIENTRY SinkTell(ILHANDLE handle) { return static_cast<ILint>(static_cast<MemorySink*>(handle)->position); }

}  // namespace

int EncodeWithLibrary(const WritableFormat& format, const CPixelImage& image, std::vector<unsigned char>& bytes,
                      std::string& reason) {
    std::lock_guard<std::mutex> turn(gLibraryTurn);
    bytes.clear();
    if (!InitImageLibrary()) {
        reason = "the image library could not be started";
        return -1;
    }
    LibraryImage libraryImage;
    if (!SetLibraryPixels(image)) {
        reason = "the image library refused the pixels";
        return -2;
    }
    // Files store their bottom row first; ours is top row first.
    iluFlipImage();
    MemorySink sink{&bytes};
    gSink = &sink;
    ilSetWrite(SinkOpen, SinkClose, SinkPutc, SinkSeek, SinkTell, SinkWrite);
    // The library chooses the flavour of some formats by the name (.pnm: binary PPM).
    const std::string extensions = format.extensions;
    const std::string name = "image." + extensions.substr(0, extensions.find(' '));
    ILboolean saved = ilSave(format.libraryType, name.c_str());
    ilResetWrite();
    gSink = nullptr;
    while (ilGetError() != IL_NO_ERROR) {
    }
    if (saved != IL_TRUE || sink.failed || bytes.empty()) {
        reason = sink.failed ? "out of memory while encoding the image" : "the image library could not encode the image";
        bytes.clear();
        return -1;
    }
    return 0;
}

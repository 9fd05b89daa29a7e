#include "image/image_file.h"

#include <IL/il.h>
#include <IL/ilu.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "files/printable_name.h"
#include "image/decode_client.h"
#include "image/library_image.h"
#include "files/output_path.h"
#include "files/replace_file.h"

namespace {

// Set only by a successful InitImageLibrary; the library stays started for the process.
bool gImageLibraryStarted = false;

// Release 1.6.7 in the library's own version numbering.
const int kMinimumLibraryVersion = 167;

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

// The image library writes through these callbacks into the bytes of a MemorySink, so that
// every byte reaches the disk through the checked writes of ReplaceFileWithBytes.
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

MemorySink* gSink = nullptr;

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

enum class EncodeResult { Encoded, PixelsRefused, NotSaved };

// The library's own JPEG quality, which the window's saves keep.
const int kLibraryJpegQuality = 99;

EncodeResult Encode(const std::string& path, const CPixelImage& source, std::vector<unsigned char>& bytes,
                    std::string& reason, int jpegQuality = -1) {
    bytes.clear();
    ILenum type = WritableImageType(path, reason);
    if (type == 0) return EncodeResult::NotSaved;
    if (!InitImageLibrary()) {
        reason = "the image library could not be started";
        return EncodeResult::NotSaved;
    }
    LibraryImage image;
    if (!SetLibraryPixels(source)) {
        reason = "the image library refused the pixels";
        return EncodeResult::PixelsRefused;
    }
    // Files store their bottom row first; ours is top row first.
    iluFlipImage();
    MemorySink sink{&bytes};
    gSink = &sink;
    ilSetWrite(SinkOpen, SinkClose, SinkPutc, SinkSeek, SinkTell, SinkWrite);
    // The quality is library state: set for this save only.
    ilSetInteger(IL_JPG_QUALITY, jpegQuality < 0 ? kLibraryJpegQuality : jpegQuality);
    // The library chooses the flavour of some formats by the name (.pnm: binary PPM).
    ILboolean saved = ilSave(type, path.c_str());
    ilSetInteger(IL_JPG_QUALITY, kLibraryJpegQuality);
    ilResetWrite();
    gSink = nullptr;
    while (ilGetError() != IL_NO_ERROR) {
    }
    if (saved != IL_TRUE || sink.failed || bytes.empty()) {
        reason = sink.failed ? "out of memory while encoding the image" : "the image library could not encode the image";
        bytes.clear();
        return EncodeResult::NotSaved;
    }
    return EncodeResult::Encoded;
}

}  // namespace

bool CheckImageLibraryVersion(int versionNumber) {
    if (versionNumber < kMinimumLibraryVersion) {
        std::printf("DevIL version is different...exiting!\n");
        std::fflush(stdout);
        return false;
    }
    return true;
}

bool InitImageLibrary() {
    if (gImageLibraryStarted) return true;
    ilInit();
    if (!CheckImageLibraryVersion(ilGetInteger(IL_VERSION_NUM))) return false;
    ilEnable(IL_FILE_OVERWRITE);
    ilEnable(IL_ORIGIN_SET);
    ilOriginFunc(IL_ORIGIN_UPPER_LEFT);
    gImageLibraryStarted = true;
    return true;
}

int ReadImageFile(const std::string& path, CPixelImage& target, std::string& reason) {
    return ReadImageFile(path, target, reason, nullptr);
}

int ReadImageFile(const std::string& path, CPixelImage& target, std::string& reason, ImageColour* colour) {
    if (!InitImageLibrary()) {
        reason = "the image library is older than this program needs";
        return -1;
    }
    return DecodeImageFile(path, target, reason, colour);
}

int ReadImageFiles(std::vector<ImageFileRead>& reads) {
    if (!InitImageLibrary()) {
        for (ImageFileRead& read : reads) {
            read.result = -1;
            read.reason = "the image library is older than this program needs";
        }
        return static_cast<int>(reads.size());
    }
    return DecodeImageFiles(reads);
}

int ReadImageFile(const std::string& path, CPixelImage& target) {
    std::string reason;
    return ReadImageFile(path, target, reason);
}

int EncodeImageFile(const std::string& path, const CPixelImage& source, std::vector<unsigned char>& bytes,
                    std::string& reason) {
    return Encode(path, source, bytes, reason) == EncodeResult::Encoded ? 0 : -1;
}

int WriteImageFile(const std::string& path, const CPixelImage& source, std::string& reason) {
    return WriteImageFile(path, source, -1, reason);
}

int WriteImageFile(const std::string& path, const CPixelImage& source, int jpegQuality, std::string& reason) {
    if (CheckImageOutputPath(path, reason) != 0) return -1;
    std::vector<unsigned char> bytes;
    if (Encode(path, source, bytes, reason, jpegQuality) != EncodeResult::Encoded) return -1;
    return ReplaceFileWithBytes(path, bytes.data(), bytes.size(), reason);
}

bool IsJpegPath(const std::string& path) {
    std::string ignored;
    return WritableImageType(path, ignored) == IL_JPG;
}

int WriteImageFile(const std::string& path, const CPixelImage& source) {
    std::string reason;
    EncodeResult result = EncodeResult::Encoded;
    std::vector<unsigned char> bytes;
    if (CheckImageOutputPath(path, reason) != 0) {
        result = EncodeResult::NotSaved;
    } else {
        result = Encode(path, source, bytes, reason);
        if (result == EncodeResult::Encoded && ReplaceFileWithBytes(path, bytes.data(), bytes.size(), reason) != 0) {
            result = EncodeResult::NotSaved;
        }
    }
    if (result == EncodeResult::Encoded) return 0;
    if (result == EncodeResult::PixelsRefused) {
        std::printf("ERROR: could not reformat image.\n");
    } else {
        std::printf("ERROR: could not save image to %s.\n", PrintableName(path).c_str());
    }
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", PrintableName(path).c_str(), PrintableName(reason).c_str());
    return -1;
}

int CPixelImage::Load(const std::string& path) {
    std::string reason;
    return Load(path, reason);
}

int CPixelImage::Load(const std::string& path, std::string& reason) {
    int result = ReadImageFile(path, *this, reason);
    if (result == 0) fileName = path;
    return result;
}

int CPixelImage::Save(const std::string& path) {
    int result = WriteImageFile(path, *this);
    if (result == 0) fileName = path;
    return result;
}

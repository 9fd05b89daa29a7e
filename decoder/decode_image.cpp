#include "decoder/decode_image.h"

#include <IL/il.h>

#include <cctype>
#include <cstring>
#include <limits>

#include "decoder/extra_decode.h"
#include "image/format_sniff.h"
#include "image/library_image.h"

namespace {

ILenum LibraryType(ImageFormat format) {
    switch (format) {
        case ImageFormat::kPng: return IL_PNG;
        case ImageFormat::kMng: return IL_MNG;
        case ImageFormat::kJpeg: return IL_JPG;
        case ImageFormat::kBmp: return IL_BMP;
        case ImageFormat::kGif: return IL_GIF;
        case ImageFormat::kTiff: return IL_TIF;
        case ImageFormat::kPsd: return IL_PSD;
        case ImageFormat::kPcx: return IL_PCX;
        case ImageFormat::kDcx: return IL_DCX;
        case ImageFormat::kDds: return IL_DDS;
        case ImageFormat::kIco: return IL_ICO;
        case ImageFormat::kIlbm: return IL_ILBM;
        case ImageFormat::kPic: return IL_PIC;
        case ImageFormat::kPnm: return IL_PNM;
        case ImageFormat::kSgi: return IL_SGI;
        case ImageFormat::kPsp: return IL_PSP;
        case ImageFormat::kLif: return IL_LIF;
        case ImageFormat::kPcd: return IL_PCD;
        case ImageFormat::kMdl: return IL_MDL;
        case ImageFormat::kWal: return IL_WAL;
        case ImageFormat::kCut: return IL_CUT;
        case ImageFormat::kTga: return IL_TGA;
        case ImageFormat::kRaw: return IL_RAW;
        default: return IL_TYPE_UNKNOWN;
    }
}

// The library's last error in words; its own error strings live in a second library the
// helper does not load.
std::string LibraryError(const char* formatName) {
    ILenum error = ilGetError();
    while (ilGetError() != IL_NO_ERROR) {
    }
    std::string format = formatName;
    switch (error) {
        case IL_OUT_OF_MEMORY: return "the image library ran out of memory decoding this " + format + " file";
        case IL_FORMAT_NOT_SUPPORTED: return "this kind of " + format + " file is not supported";
        case IL_INVALID_FILE_HEADER: return "the " + format + " header is damaged";
        case IL_ILLEGAL_FILE_VALUE:
        case IL_FILE_READ_ERROR:
        case IL_INVALID_VALUE: return "the " + format + " file is damaged or cut short";
        case IL_LIB_GIF_ERROR:
        case IL_LIB_JPEG_ERROR:
        case IL_LIB_PNG_ERROR:
        case IL_LIB_TIFF_ERROR:
        case IL_LIB_MNG_ERROR: return "the " + format + " decoder found the file damaged";
        default: return "the image library could not decode this " + format + " file";
    }
}

// An uncompressed TGA must hold every pixel byte its header promises; the library reads past
// the end of one that does not.
bool TgaHoldsItsPixels(const unsigned char* data, size_t size, std::string& reason) {
    if (size < 18) {
        reason = "the TGA file is cut short inside its header";
        return false;
    }
    int imageType = data[2];
    if (imageType != 1 && imageType != 2 && imageType != 3) return true;  // run-length coded: checked as decoded
    size_t mapBytes = data[1] == 1 ? static_cast<size_t>(data[5] | data[6] << 8) * ((data[7] + 7u) / 8u) : 0;
    size_t pixelBytes = static_cast<size_t>(data[12] | data[13] << 8) * static_cast<size_t>(data[14] | data[15] << 8) *
                        ((data[16] + 7u) / 8u);
    size_t needed = 18 + data[0] + mapBytes + pixelBytes;
    if (size < needed) {
        reason = "the TGA file is cut short: it holds " + std::to_string(size) + " of its " + std::to_string(needed) +
                 " bytes";
        return false;
    }
    return true;
}

// Every PNG chunk up to IEND must lie within the file; the library's reader can spin forever on
// a chunk that claims more bytes than there are.
bool PngChunksFit(const unsigned char* data, size_t size, std::string& reason) {
    size_t at = 8;
    while (at + 8 <= size) {
        size_t length = static_cast<size_t>(data[at]) << 24 | data[at + 1] << 16 | data[at + 2] << 8 | data[at + 3];
        std::string type(reinterpret_cast<const char*>(data + at + 4), 4);
        if (length > size - at - 8 || size - at - 8 - length < 4) {
            reason = "the PNG file is cut short: its " + std::string(std::isalpha(static_cast<unsigned char>(type[0])) ? type : "?") +
                     " chunk claims " + std::to_string(length) + " bytes";
            return false;
        }
        if (type == "IEND") return true;
        at += 12 + length;
    }
    reason = "the PNG file is cut short before its end chunk";
    return false;
}

unsigned long Le32At(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | (0ul + p[3]) << 24; }

// Every image an icon file lists must lie within the file, after the directory, and hold the
// pixels its own header promises; the library follows the directory's offsets blindly.
bool IcoEntriesFit(const unsigned char* data, size_t size, std::string& reason) {
    size_t count = data[4] | data[5] << 8;
    size_t directoryEnd = 6 + 16 * count;
    if (count == 0 || directoryEnd > size) {
        reason = "the ICO file is cut short inside its directory";
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        const unsigned char* entry = data + 6 + 16 * i;
        size_t bytes = Le32At(entry + 8), offset = Le32At(entry + 12);
        std::string which = "the ICO file's image " + std::to_string(i + 1);
        if (offset < directoryEnd || offset > size || bytes > size - offset) {
            reason = which + " lies beyond the file's end";
            return false;
        }
        const unsigned char* image = data + offset;
        if (bytes >= 8 && std::memcmp(image, "\x89PNG", 4) == 0) {
            if (!PngChunksFit(image, bytes, reason)) return false;
            continue;
        }
        long long width = bytes >= 40 ? static_cast<int32_t>(Le32At(image + 4)) : 0;
        long long height = bytes >= 40 ? static_cast<int32_t>(Le32At(image + 8)) / 2 : 0;
        int bits = bytes >= 40 ? image[14] | image[15] << 8 : 0;
        bool known = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
        if (bytes < 40 || Le32At(image) != 40 || !known || width <= 0 || height <= 0 || width > 1024 || height > 1024) {
            reason = which + " has a damaged header";
            return false;
        }
        long long needed = 40 + (bits <= 8 ? 4LL << bits : 0) + (width * bits + 31) / 32 * 4 * height +
                           (width + 31) / 32 * 4 * height;
        if (static_cast<long long>(bytes) < needed) {
            reason = which + " is cut short: it holds " + std::to_string(bytes) + " of its " + std::to_string(needed) +
                     " bytes";
            return false;
        }
    }
    return true;
}

// Formats whose size sits in a header at the start, which every such file has.
bool SizeIsInTheHeader(ImageFormat format) {
    switch (format) {
        case ImageFormat::kPng: case ImageFormat::kMng: case ImageFormat::kJpeg: case ImageFormat::kBmp:
        case ImageFormat::kGif: case ImageFormat::kPsd: case ImageFormat::kPcx: case ImageFormat::kDds:
        case ImageFormat::kPic: case ImageFormat::kPnm: case ImageFormat::kSgi: case ImageFormat::kLif:
        case ImageFormat::kWal: case ImageFormat::kCut: case ImageFormat::kTga: case ImageFormat::kRaw:
            return true;
        default: return false;
    }
}

bool StartLibrary() {
    static bool started = false;
    if (started) return true;
    ilInit();
    if (ilGetInteger(IL_VERSION_NUM) < 167) return false;
    ilEnable(IL_ORIGIN_SET);
    ilOriginFunc(IL_ORIGIN_UPPER_LEFT);
    started = true;
    return true;
}

int DecodeWithLibrary(const unsigned char* data, size_t size, const ImageHeader& header, DecodedImage& out,
                      std::string& reason) {
    const char* name = ImageFormatName(header.format);
    ILenum type = LibraryType(header.format);
    if (type == IL_TYPE_UNKNOWN) {
        reason = std::string("this program has no decoder for ") + name + " files";
        return -1;
    }
    if (size > std::numeric_limits<ILuint>::max()) {
        reason = "the file is too large";
        return -1;
    }
    if (header.format == ImageFormat::kTga && !TgaHoldsItsPixels(data, size, reason)) return -1;
    if (header.format == ImageFormat::kPng && !PngChunksFit(data, size, reason)) return -1;
    if (header.format == ImageFormat::kIco && !IcoEntriesFit(data, size, reason)) return -1;
    if (!StartLibrary()) {
        reason = "the image library is too old";
        return -1;
    }
    LibraryImage image;
    if (ilLoadL(type, data, static_cast<ILuint>(size)) != IL_TRUE) {
        reason = LibraryError(name);
        return -1;
    }
    // The library's own idea of the size, checked before the conversion allocates for it.
    long long width = ilGetInteger(IL_IMAGE_WIDTH);
    long long height = ilGetInteger(IL_IMAGE_HEIGHT);
    long long depth = ilGetInteger(IL_IMAGE_DEPTH);
    std::string what = std::string("the decoded ") + name + " picture";
    if (CheckImageSize(what.c_str(), width, height, depth, reason) != 0) return -1;
    if (ilConvertImage(IL_RGBA, IL_UNSIGNED_BYTE) != IL_TRUE) {
        reason = LibraryError(name);
        return -1;
    }
    // The library's data must hold every byte of the picture the size promises; a damaged
    // file can leave it shorter.
    size_t bytes = static_cast<size_t>(width * height * 4);
    const ILubyte* pixels = ilGetData();
    if (pixels == nullptr || ilGetInteger(IL_IMAGE_WIDTH) != width || ilGetInteger(IL_IMAGE_HEIGHT) != height ||
        ilGetInteger(IL_IMAGE_BYTES_PER_PIXEL) != 4 || static_cast<size_t>(ilGetInteger(IL_IMAGE_SIZE_OF_DATA)) < bytes) {
        reason = "the image library gave back fewer pixels than the " + std::string(name) + " picture holds";
        return -1;
    }
    out.width = static_cast<int>(width);
    out.height = static_cast<int>(height);
    out.rgba.assign(pixels, pixels + bytes);
    return 0;
}

}  // namespace

int DecodeImage(const unsigned char* data, size_t size, const std::string& nameHint, DecodedImage& out,
                std::string& reason) {
    out = DecodedImage();
    ImageHeader header;
    if (InspectImageHeader(data, size, nameHint, header, reason) != 0) return -1;
    if (header.width < 0 && SizeIsInTheHeader(header.format)) {
        // Here the whole file is at hand: a size the header should give and does not means a
        // file cut short or a JPEG without a frame, on which the image library can spin forever.
        reason = std::string("the ") + ImageFormatName(header.format) + " file ends before the picture's size";
        return -1;
    }
    if (CheckEncodedSize(data, size, static_cast<long long>(size), header, reason) != 0) return -1;

    int special = DecodeExtra(data, size, out, reason);
    if (special < 0) {
        out = DecodedImage();
        return -1;
    }
    if (special == 0 && DecodeWithLibrary(data, size, header, out, reason) != 0) {
        out = DecodedImage();
        return -1;
    }
    if (header.format == ImageFormat::kJpeg || header.format == ImageFormat::kTiff) {
        ApplyExifOrientation(data, size, out);
    }
    return 0;
}

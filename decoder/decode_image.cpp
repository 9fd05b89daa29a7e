#include "decoder/decode_image.h"

#include <cctype>
#include <cstring>
#include <limits>

#include "decoder/colour_convert.h"
#include "decoder/decode_limits.h"
#include "decoder/extra_decode.h"
#include "decoder/format_decoders.h"
#include "decoder/il_library.h"
#include "image/byte_reader.h"
#include "image/format_table.h"

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
std::string LibraryError(const IlLibrary& il, const char* formatName) {
    ILenum error = il.GetError();
    while (il.GetError() != IL_NO_ERROR) {
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

// Every PNG chunk up to IEND must lie within the file; the library's reader can spin forever on
// a chunk that claims more bytes than there are.
bool PngChunksFit(const ByteReader& png, std::string& reason) {
    uint64_t at = 8;
    long long length;
    while (png.U32(at, true, length) && png.Has(at + 4, 4)) {
        std::string type(reinterpret_cast<const char*>(png.data() + at + 4), 4);
        if (!png.Has(at + 8, static_cast<uint64_t>(length) + 4)) {
            bool named = std::isalpha(static_cast<unsigned char>(type[0]));
            reason = "the PNG file is cut short: its " + (named ? type : "?") + " chunk claims " + std::to_string(length) +
                     " bytes";
            return false;
        }
        if (type == "IEND") return true;
        at += 12 + static_cast<uint64_t>(length);
    }
    reason = "the PNG file is cut short before its end chunk";
    return false;
}

// Every image an icon file lists must lie within the file, after the directory, and hold the
// pixels its own header promises; the library follows the directory's offsets blindly.
bool IcoEntriesFit(const ByteReader& ico, std::string& reason) {
    long long count;
    if (!ico.U16(4, false, count) || count == 0 || !ico.Has(6, 16 * static_cast<uint64_t>(count))) {
        reason = "the ICO file is cut short inside its directory";
        return false;
    }
    uint64_t directoryEnd = 6 + 16 * static_cast<uint64_t>(count);
    for (long long i = 0; i < count; ++i) {
        uint64_t entry = 6 + 16 * static_cast<uint64_t>(i);
        long long bytes = 0, offset = 0;
        ico.U32(entry + 8, false, bytes), ico.U32(entry + 12, false, offset);
        std::string which = "the ICO file's image " + std::to_string(i + 1);
        if (static_cast<uint64_t>(offset) < directoryEnd || !ico.Has(static_cast<uint64_t>(offset), static_cast<uint64_t>(bytes))) {
            reason = which + " lies beyond the file's end";
            return false;
        }
        ByteReader image = ico.Slice(static_cast<uint64_t>(offset), static_cast<uint64_t>(bytes));
        if (image.Matches(0, "\x89PNG", 4) && image.Has(0, 8)) {
            if (!PngChunksFit(image, reason)) return false;
            continue;
        }
        long long headerSize = 0, width = 0, height = 0, bits = 0;
        bool read = image.Has(0, 40) && image.U32(0, false, headerSize) && image.I32(4, false, width) &&
                    image.I32(8, false, height) && image.U16(14, false, bits);
        height /= 2;  // the colour rows, then as many rows of the transparency mask
        bool known = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
        if (!read || headerSize != 40 || !known || width <= 0 || height <= 0 || width > 1024 || height > 1024) {
            reason = which + " has a damaged header";
            return false;
        }
        long long needed = 40 + (bits <= 8 ? 4LL << bits : 0) + (width * bits + 31) / 32 * 4 * height +
                           (width + 31) / 32 * 4 * height;
        if (bytes < needed) {
            reason = which + " is cut short: it holds " + std::to_string(bytes) + " of its " + std::to_string(needed) +
                     " bytes";
            return false;
        }
    }
    return true;
}

// The channel packets after a PIC file's 104-byte header (each says whether another follows)
// must name an alpha channel: the image library overruns its buffer on RGB-only files.
bool PicChannelsFit(const ByteReader& pic, std::string& reason) {
    long long chained = 1, channels = 0, all = 0;
    for (uint64_t at = 104; chained != 0; at += 4) {
        if (!pic.U8(at, chained) || !pic.U8(at + 3, channels)) {
            reason = "the PIC file is cut short inside its list of channels";
            return false;
        }
        all |= channels;
    }
    if ((all & 0x10) == 0) {
        reason = "this program reads PIC files with an alpha channel only";
        return false;
    }
    return true;
}

bool StartLibrary(const IlLibrary& il) {
    static bool started = false;
    if (started) return true;
    il.Init();
    if (il.GetInteger(IL_VERSION_NUM) < 167) return false;
    il.Enable(IL_ORIGIN_SET);
    il.OriginFunc(IL_ORIGIN_UPPER_LEFT);
    started = true;
    return true;
}

// One image of the library for one decode, deleted again on every path out.
class LibraryImage {
public:
    explicit LibraryImage(const IlLibrary& il) : il(il) {
        il.GenImages(1, &name);
        il.BindImage(name);
    }
    ~LibraryImage() { il.DeleteImages(1, &name); }
    LibraryImage(const LibraryImage&) = delete;
    LibraryImage& operator=(const LibraryImage&) = delete;

private:
    const IlLibrary& il;
    ILuint name = 0;
};

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
    ByteReader file(data, size);
    if (header.format == ImageFormat::kIco && !IcoEntriesFit(file, reason)) return -1;
    if (header.format == ImageFormat::kPic && !PicChannelsFit(file, reason)) return -1;
    const IlLibrary* library = LoadIlLibrary(reason);
    if (library == nullptr) return -1;
    const IlLibrary& il = *library;
    if (!StartLibrary(il)) {
        reason = "the image library is too old";
        return -1;
    }
    LibraryImage image(il);
    if (il.LoadL(type, data, static_cast<ILuint>(size)) != IL_TRUE) {
        reason = LibraryError(il, name);
        return -1;
    }
    // The library's own idea of the size, checked before the conversion allocates for it.
    long long width = il.GetInteger(IL_IMAGE_WIDTH);
    long long height = il.GetInteger(IL_IMAGE_HEIGHT);
    long long depth = il.GetInteger(IL_IMAGE_DEPTH);
    std::string what = std::string("the decoded ") + name + " picture";
    if (CheckImageSize(what.c_str(), width, height, depth, reason) != 0) return -1;
    if (il.ConvertImage(IL_RGBA, IL_UNSIGNED_BYTE) != IL_TRUE) {
        reason = LibraryError(il, name);
        return -1;
    }
    // The library's data must hold every byte of the picture the size promises; a damaged
    // file can leave it shorter.
    size_t bytes = static_cast<size_t>(width * height * 4);
    const ILubyte* pixels = il.GetData();
    if (pixels == nullptr || il.GetInteger(IL_IMAGE_WIDTH) != width || il.GetInteger(IL_IMAGE_HEIGHT) != height ||
        il.GetInteger(IL_IMAGE_BYTES_PER_PIXEL) != 4 || static_cast<size_t>(il.GetInteger(IL_IMAGE_SIZE_OF_DATA)) < bytes) {
        reason = "the image library gave back fewer pixels than the " + std::string(name) + " picture holds";
        return -1;
    }
    unsigned char* target = ReservePixels(static_cast<int>(width), static_cast<int>(height), out);
    if (target == nullptr) {
        reason = "the " + std::string(name) + " picture needs more memory than the decoder may take";
        return -1;
    }
    std::memcpy(target, pixels, bytes);
    return 0;
}

}  // namespace

int LoadDecodingLibraries(ImageFormat format, std::string& reason) {
    if (LoadDecoderLibraries(format, reason) != 0) return -1;
    bool libraryMayDecode = LibraryType(format) != IL_TYPE_UNKNOWN && !DecodesEveryFile(format);
    return libraryMayDecode && LoadIlLibrary(reason) == nullptr ? -1 : 0;
}

int DecodeImage(const unsigned char* data, size_t size, ImageFormat format, DecodedImage& out, std::string& reason) {
    out.Reset();
    const ImageFormatRow& row = FormatRow(format);
    if (row.format == ImageFormat::kUnknown || format == ImageFormat::kPalette) {
        reason = "the decoder was handed no format it reads";
        return -1;
    }
    // The whole file is at hand here: the header is read again from all of it, by the same row.
    ImageHeader header;
    ReadImageHeader(data, size, format, header);
    std::string what = std::string("the ") + row.name + " header";
    if (header.width >= 0 && CheckImageSize(what.c_str(), header.width, header.height, header.depth, reason) != 0) return -1;
    if (header.width < 0 && row.sizeInHeader) {
        // A size the header should give and does not means a file cut short or a JPEG without
        // a frame, on which the image library can spin forever.
        reason = std::string("the ") + row.name + " file ends before the picture's size";
        return -1;
    }
    if (header.width < 0 && row.readHeader != nullptr) {
        reason = std::string("the ") + row.name + " file does not say the picture's size";
        return -1;
    }
    if (CheckEncodedSize(data, size, static_cast<long long>(size), header, reason) != 0) return -1;

    // A chunk that runs past the end is named before any decoder starts on the file.
    if (format == ImageFormat::kPng && !PngChunksFit(ByteReader(data, size), reason)) return -1;
    int own = DecodeExtra(data, size, header, out, reason);
    if (own < 0 || (own == 0 && DecodeWithLibrary(data, size, header, out, reason) != 0)) {
        out.Reset();
        return -1;
    }
    // The limits were set from the header's size: a decoder that made more pixels than it claims
    // (turned or cropped pictures have as many or fewer) is not believed.
    long long made = static_cast<long long>(out.width) * out.height;
    if (header.width > 0 && made > header.width * header.height * header.depth) {
        reason = std::string("the decoded ") + row.name + " picture is " + std::to_string(out.width) + " x " +
                 std::to_string(out.height) + " pixels, more than the " + std::to_string(header.width) + " x " +
                 std::to_string(header.height) + " its header claims";
        out.Reset();
        return -1;
    }
    ConvertDecodedColours(data, size, format, out);
    if (format == ImageFormat::kJpeg || format == ImageFormat::kTiff) ApplyExifOrientation(data, size, out);
    return 0;
}

#include "decoder/decode_image.h"

#include <cctype>
#include <cstring>
#include <limits>

#include "decoder/colour_convert.h"
#include "decoder/decode_limits.h"
#include "decoder/exif_orientation.h"
#include "decoder/format_decoders.h"
#include "decoder/il_library.h"
#include "image/byte_reader.h"
#include "image/format_table.h"

namespace {

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
    ILenum type = DecoderRowOf(header.format).libraryType;
    if (type == IL_TYPE_UNKNOWN) {
        reason = std::string("this program has no decoder for ") + name + " files";
        return -1;
    }
    if (size > std::numeric_limits<ILuint>::max()) {
        reason = "the file is too large";
        return -1;
    }
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

int DecodeImage(const unsigned char* data, size_t size, ImageFormat format, DecodedImage& out, std::string& reason) {
    out.Reset();
    const ImageFormatRow& row = FormatRow(format);
    const DecoderRow& decoder = DecoderRowOf(format);
    if (row.format == ImageFormat::kUnknown || decoder.format != format) {
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

    if (decoder.layoutFits != nullptr && !decoder.layoutFits(ByteReader(data, size), reason)) return -1;
    int own = DecodeWithOwnDecoder(data, size, header, out, reason);
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
    if (decoder.exifOrientation) ApplyExifOrientation(data, size, out);
    return 0;
}

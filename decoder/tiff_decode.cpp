// Every TIFF through libtiff's RGBA reader (the first page), written straight into the pixels'
// memory. The pixels come back in the order they are stored and with their alpha as stored:
// unassociated (straight) alpha is not premultiplied, and ApplyExifOrientation turns the
// picture afterwards by its Orientation, as it does every JPEG's. 16-bit RGB strips with a colour
// profile other than sRGB's are read row by row and converted before they are cut to 8 bits.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "decoder/colour_convert.h"
#include "decoder/decode_limits.h"
#include "decoder/format_decoders.h"
#include "decoder/tiff_library.h"
#include "image/byte_reader.h"

namespace {

// The file's bytes as libtiff's client procedures see them.
struct MemoryFile {
    const unsigned char* data;
    size_t size;
    size_t at;
    std::string lastError;
};

tmsize_t ReadBytes(thandle_t handle, void* buffer, tmsize_t count) {
    MemoryFile* file = static_cast<MemoryFile*>(handle);
    if (count <= 0 || file->at >= file->size) return 0;
    size_t n = std::min(static_cast<size_t>(count), file->size - file->at);
    std::memcpy(buffer, file->data + file->at, n);
    file->at += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t RefuseWrite(thandle_t, void*, tmsize_t) { return 0; }

toff_t SeekBytes(thandle_t handle, toff_t offset, int whence) {
    MemoryFile* file = static_cast<MemoryFile*>(handle);
    toff_t base = whence == SEEK_CUR ? file->at : whence == SEEK_END ? file->size : 0;
    if (offset > static_cast<toff_t>(-1) - base) return static_cast<toff_t>(-1);
    // Positions past the end are allowed, as with a file; reads there return nothing.
    file->at = static_cast<size_t>(base + offset);
    return file->at;
}

int CloseNothing(thandle_t) { return 0; }
toff_t SizeOf(thandle_t handle) { return static_cast<MemoryFile*>(handle)->size; }
int MapNothing(thandle_t, void**, toff_t*) { return 0; }
void UnmapNothing(thandle_t, void*, toff_t) {}

int KeepError(TIFF*, void* user, const char*, const char* format, va_list args) {
    char message[256];
    std::vsnprintf(message, sizeof message, format, args);
    static_cast<MemoryFile*>(user)->lastError = message;
    return 1;
}

int IgnoreWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct OpenTiff {
    const TiffLibrary& library;
    TIFF* tiff = nullptr;
    ~OpenTiff() {
        if (tiff != nullptr) library.Close(tiff);
    }
};

bool HasUnassociatedAlpha(const TiffLibrary& library, TIFF* tiff) {
    uint16_t count = 0;
    uint16_t* kinds = nullptr;
    if (!library.GetField(tiff, TIFFTAG_EXTRASAMPLES, &count, &kinds) || kinds == nullptr) return false;
    for (uint16_t i = 0; i < count; ++i) {
        if (kinds[i] == EXTRASAMPLE_UNASSALPHA) return true;
    }
    return false;
}

// True when the first directory, as the header places it, does not end before the bytes do:
// a file cut short that keeps its directory last.
bool FirstDirectoryCut(const unsigned char* data, size_t size) {
    ByteReader b(data, size);
    bool be = b.Matches(0, "MM", 2);
    bool big = be ? b.Matches(2, "\0+", 2) : b.Matches(2, "+\0", 2);
    long long offset, count;
    if (!(big ? b.U64(8, be, offset) : b.U32(4, be, offset))) return true;
    if (!(big ? b.U64(static_cast<uint64_t>(offset), be, count) : b.U16(static_cast<uint64_t>(offset), be, count))) {
        return true;
    }
    return static_cast<uint64_t>(count) > size || !b.Has(static_cast<uint64_t>(offset), static_cast<uint64_t>(count) * (big ? 20 : 12));
}

// 16-bit RGB (with straight alpha or none) in strips, converted by `conversion` from the samples
// to the pixels row by row: 1, 0 when the picture is not such a one (nothing read), -1 refused.
int DecodeWideRows(const TiffLibrary& tiff, TIFF* file, bool straightAlpha, const ColourConversion& conversion,
                   uint32_t width, uint32_t height, DecodedImage& out, std::string& reason) {
    uint16_t bits = 0, samples = 0, photometric = 0, planar = PLANARCONFIG_CONTIG;
    tiff.GetField(file, TIFFTAG_BITSPERSAMPLE, &bits);
    tiff.GetField(file, TIFFTAG_SAMPLESPERPIXEL, &samples);
    tiff.GetField(file, TIFFTAG_PHOTOMETRIC, &photometric);
    tiff.GetField(file, TIFFTAG_PLANARCONFIG, &planar);
    bool wide = bits == 16 && photometric == PHOTOMETRIC_RGB && planar == PLANARCONFIG_CONTIG && !tiff.IsTiled(file) &&
                (samples == 3 || (samples == 4 && straightAlpha));
    if (!wide || tiff.ScanlineSize(file) != static_cast<tmsize_t>(width) * samples * 2) return 0;
    unsigned char* pixels = ReservePixels(static_cast<int>(width), static_cast<int>(height), out);
    if (pixels == nullptr) {
        reason = "the TIFF image needs more memory than the decoder may take";
        return -1;
    }
    std::vector<uint16_t> row(static_cast<size_t>(width) * samples), rgba(static_cast<size_t>(width) * 4, 65535);
    for (uint32_t y = 0; y < height; ++y) {
        if (tiff.ReadScanline(file, row.data(), y, 0) != 1) {
            reason = "the TIFF image could not be decoded: its row " + std::to_string(y + 1) + " is damaged";
            return -1;
        }
        for (size_t x = 0; x < width; ++x) std::memcpy(&rgba[4 * x], &row[samples * x], samples * 2);
        conversion.Convert(rgba.data(), pixels + static_cast<size_t>(y) * width * 4, width);
    }
    return 1;
}

}  // namespace

int DecodeTiff(const unsigned char* data, size_t size, const ImageHeader&, DecodedImage& out, std::string& reason) {
    const TiffLibrary* library = LoadTiffLibrary(reason);
    if (library == nullptr) return -1;
    const TiffLibrary& tiff = *library;
    MemoryFile file{data, size, 0, ""};
    TIFFOpenOptions* options = tiff.OpenOptionsAlloc();
    tiff.OpenOptionsSetErrorHandlerExtR(options, KeepError, &file);
    tiff.OpenOptionsSetWarningHandlerExtR(options, IgnoreWarning, &file);
    // No single buffer beyond the largest picture's pixels (plus room for a strip's overhead).
    tiff.OpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(kMaxImagePixels * 4 + (1 << 20)));
    OpenTiff open{tiff};
    open.tiff = tiff.ClientOpenExt("image", "rm", &file, ReadBytes, RefuseWrite, SeekBytes, CloseNothing, SizeOf,
                                   MapNothing, UnmapNothing, options);
    tiff.OpenOptionsFree(options);
    if (open.tiff == nullptr) {
        // The image library reads TIFF through the same libtiff, so it would fail here too.
        reason = FirstDirectoryCut(data, size)
                     ? "the TIFF data ends early"
                     : "the TIFF file could not be read" + (file.lastError.empty() ? "" : ": " + file.lastError);
        return -1;
    }
    bool straightAlpha = HasUnassociatedAlpha(tiff, open.tiff);

    uint32_t width = 0, height = 0;
    tiff.GetField(open.tiff, TIFFTAG_IMAGEWIDTH, &width);
    tiff.GetField(open.tiff, TIFFTAG_IMAGELENGTH, &height);
    if (!WithinDecodeLimits(width, height, "TIFF", reason)) return -1;
    ColourDescription colours;
    if (!out.keepStoredColour) FindColourDescription(data, size, ImageFormat::kTiff, colours);
    uint16_t bits = 0;
    tiff.GetField(open.tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    if (bits == 16 && colours.NeedsConversion()) {
        ColourConversion conversion;
        DecodedImage judged;
        if (conversion.Prepare(colours, ColourSamples::kRgba16, false, judged)) {
            int wide = DecodeWideRows(tiff, open.tiff, straightAlpha, conversion, width, height, out, reason);
            if (wide != 0) {
                out.colourNote = judged.colourNote;
                out.colourSeenTo = true;
                return wide;
            }
        }
    }
    if (straightAlpha) {
        // libtiff's RGBA reader premultiplies straight alpha; called associated, the samples
        // pass through as stored, which is the straight alpha wanted here.
        uint16_t count = 0;
        uint16_t* kinds = nullptr;
        tiff.GetField(open.tiff, TIFFTAG_EXTRASAMPLES, &count, &kinds);
        std::vector<uint16_t> associated(kinds, kinds + count);
        for (uint16_t& kind : associated) {
            if (kind == EXTRASAMPLE_UNASSALPHA) kind = EXTRASAMPLE_ASSOCALPHA;
        }
        tiff.SetField(open.tiff, TIFFTAG_EXTRASAMPLES, count, associated.data());
    }
    char message[1024] = "";
    TIFFRGBAImage image;
    if (!tiff.RGBAImageOK(open.tiff, message) || !tiff.RGBAImageBegin(&image, open.tiff, 1, message)) {
        reason = std::string("the TIFF image could not be decoded: ") + message;
        return -1;
    }
    // Rows as stored, first row first: the orientation is applied later, once, for every decoder.
    image.req_orientation = image.orientation;
    // 16-bit samples keep their high byte, as the image library and the PNG decoder cut them,
    // rather than libtiff's rounding.
    if (image.Bitdepth16To8 != nullptr) {
        for (unsigned value = 0; value < 65536; ++value) image.Bitdepth16To8[value] = static_cast<uint8_t>(value >> 8);
    }
    // Left unset: libtiff writes every pixel or fails, and a file that claims a large picture
    // but fails at its first strip then costs no more than the pages it touched.
    unsigned char* pixels = ReservePixels(static_cast<int>(width), static_cast<int>(height), out);
    if (pixels == nullptr) {
        tiff.RGBAImageEnd(&image);
        reason = "the TIFF image needs more memory than the decoder may take";
        return -1;
    }
    // libtiff's packed pixels (R in the low byte) are RGBA bytes in a little-endian memory.
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the TIFF raster is read as RGBA bytes");
    int ok = tiff.RGBAImageGet(&image, reinterpret_cast<uint32_t*>(pixels), width, height);
    tiff.RGBAImageEnd(&image);
    if (!ok) {
        reason = "the TIFF image could not be decoded" + (file.lastError.empty() ? "" : ": " + file.lastError);
        return -1;
    }
    return 1;
}

// Every TIFF through libtiff's RGBA reader (the first page), written straight into the pixels'
// memory. The pixels come back in the order they are stored and with their alpha as stored:
// unassociated (straight) alpha is not premultiplied, and ApplyExifOrientation turns the
// picture afterwards by its Orientation, as it does every JPEG's. 16-bit RGB and grey pictures with
// a colour profile other than sRGB's, in strips or tiles, are read a band at a time and converted
// before they are cut to 8 bits.
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

// 16-bit RGB or grey, with straight alpha or none, in strips or tiles, its samples together or
// in planes of their own, converted by `conversion` from the samples to the pixels one band of
// strips or tiles at a time: 1, 0 when the picture is not such a one (nothing read), -1 refused.
int DecodeWideRows(const TiffLibrary& tiff, TIFF* file, bool straightAlpha, const ColourConversion& conversion,
                   uint32_t width, uint32_t height, DecodedImage& out, std::string& reason) {
    uint16_t bits = 0, samples = 0, photometric = 0, planar = PLANARCONFIG_CONTIG;
    tiff.GetField(file, TIFFTAG_BITSPERSAMPLE, &bits);
    tiff.GetField(file, TIFFTAG_SAMPLESPERPIXEL, &samples);
    tiff.GetField(file, TIFFTAG_PHOTOMETRIC, &photometric);
    tiff.GetField(file, TIFFTAG_PLANARCONFIG, &planar);
    const bool grey = photometric == PHOTOMETRIC_MINISBLACK;
    const uint16_t colours = grey ? 1 : 3;
    if (bits != 16 || (!grey && photometric != PHOTOMETRIC_RGB) ||
        !(samples == colours || (samples == colours + 1 && straightAlpha))) {
        return 0;
    }
    // A band is a row of tiles, or a strip of each plane as a tile as wide as the picture, or,
    // when the samples lie together in strips, a row: a picture in one strip then costs no more
    // memory than a row.
    const bool tiled = tiff.IsTiled(file) != 0;
    const bool separate = planar == PLANARCONFIG_SEPARATE, byRow = !tiled && !separate;
    const uint16_t planes = separate ? samples : 1, perUnit = separate ? 1 : samples;
    uint32_t unitWidth = width, unitRows = 1;
    if (tiled) {
        tiff.GetField(file, TIFFTAG_TILEWIDTH, &unitWidth);
        tiff.GetField(file, TIFFTAG_TILELENGTH, &unitRows);
    } else if (separate) {
        unitRows = height;
        tiff.GetField(file, TIFFTAG_ROWSPERSTRIP, &unitRows);
        unitRows = std::min(unitRows, height);
    }
    // A tile claimed far larger than the picture is left to libtiff's own reader and its checks.
    if (unitWidth == 0 || unitRows == 0 ||
        static_cast<uint64_t>(unitWidth) * unitRows > static_cast<uint64_t>(width) * height + (1u << 20)) {
        return 0;
    }
    const size_t unitBytes = static_cast<size_t>(unitWidth) * unitRows * perUnit * 2;
    const tmsize_t expected = tiled ? tiff.TileSize(file) : byRow ? tiff.ScanlineSize(file) : tiff.StripSize(file);
    if (static_cast<tmsize_t>(unitBytes) != expected) return 0;
    unsigned char* pixels = ReservePixels(static_cast<int>(width), static_cast<int>(height), out);
    if (pixels == nullptr) {
        reason = "the TIFF image needs more memory than the decoder may take";
        return -1;
    }
    std::vector<uint16_t> unit(unitBytes / 2), band(static_cast<size_t>(width) * unitRows * 4, 65535);
    for (uint32_t top = 0; top < height; top += unitRows) {
        const uint32_t rows = std::min(unitRows, height - top);
        for (uint32_t left = 0; left < width; left += unitWidth) {
            const uint32_t columns = std::min(unitWidth, width - left);
            for (uint16_t plane = 0; plane < planes; ++plane) {
                tmsize_t read = static_cast<tmsize_t>(unitBytes);
                if (byRow) {
                    read = tiff.ReadScanline(file, unit.data(), top, 0) == 1 ? read : -1;
                } else if (tiled) {
                    read = tiff.ReadEncodedTile(file, tiff.ComputeTile(file, left, top, 0, plane), unit.data(), read);
                } else {
                    read = tiff.ReadEncodedStrip(file, tiff.ComputeStrip(file, top, plane), unit.data(), read);
                }
                // A strip at the bottom may hold only the rows left.
                if (read < static_cast<tmsize_t>(static_cast<size_t>(unitWidth) * (rows - 1) * perUnit * 2 +
                                                 static_cast<size_t>(columns) * perUnit * 2)) {
                    reason = "the TIFF image could not be decoded: its " +
                             std::string(tiled ? "tile" : byRow ? "row" : "strip") + " at row " + std::to_string(top + 1) +
                             " is damaged";
                    return -1;
                }
                for (uint32_t y = 0; y < rows; ++y) {
                    const uint16_t* from = &unit[static_cast<size_t>(y) * unitWidth * perUnit];
                    uint16_t* to = &band[(static_cast<size_t>(y) * width + left) * 4];
                    for (uint32_t x = 0; x < columns; ++x) {
                        for (uint16_t c = 0; c < perUnit; ++c) {
                            const uint16_t channel = static_cast<uint16_t>(plane + c), value = from[x * perUnit + c];
                            if (channel == colours) {
                                to[4 * x + 3] = value;
                            } else if (grey) {
                                to[4 * x] = to[4 * x + 1] = to[4 * x + 2] = value;
                            } else {
                                to[4 * x + channel] = value;
                            }
                        }
                    }
                }
            }
        }
        conversion.Convert(band.data(), pixels + static_cast<size_t>(top) * width * 4, static_cast<size_t>(rows) * width);
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
        uint16_t photometric = 0;
        tiff.GetField(open.tiff, TIFFTAG_PHOTOMETRIC, &photometric);
        if (conversion.Prepare(colours, ColourSamples::kRgba16, photometric == PHOTOMETRIC_MINISBLACK, judged)) {
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

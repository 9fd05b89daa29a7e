// Rows of the format table for the everyday formats: PNG, JPEG, BMP, GIF, TIFF, WebP, HEIF and
// AVIF, and the portable any-maps. Each reads only through ByteReader and never past its bytes.
#include <algorithm>
#include <cctype>

#include "image/format_readers.h"
#include "image/heif_boxes.h"
#include "image/jpeg_markers.h"

namespace {

// Deflate codes at most 258 bytes in a match of 1 bit (fixed codes) or so: no stream gets
// better than about 1032 bytes out of one.
constexpr long long kDeflateBestRatio = 1032;
// Twelve-bit LZW codes stand for strings of at most 4096 bytes: no more than 2731 bytes a byte.
constexpr long long kLzwBestRatio = 2731;

// PNG -------------------------------------------------------------------------------------------

bool IsPng(const ByteReader& b) { return b.Matches(0, "\x89PNG\r\n\x1a\n", 8); }

// The image data: IDAT chunks (and an animation's fdAT), their lengths summed up to IEND.
void CountPngData(const ByteReader& b, ImageHeader& header) {
    uint64_t at = 8;
    long long length, data = 0;
    while (b.U32(at, true, length) && b.Has(at + 4, 4)) {
        if (b.Matches(at + 4, "IEND", 4)) {
            header.dataBytes = data;
            return;
        }
        if (b.Matches(at + 4, "IDAT", 4) || b.Matches(at + 4, "fdAT", 4)) data = std::min(data + length, 1LL << 40);
        at += 12 + static_cast<uint64_t>(length);
    }
    header.dataBytes = data;
    header.dataBeyondBytes = true;
}

void ReadPng(const ByteReader& b, ImageHeader& header) {
    static const int kChannels[] = {1, 0, 3, 1, 2, 0, 4};  // by colour type; 0: no such type
    long long depth, colourType;
    b.U32(16, true, header.width), b.U32(20, true, header.height);
    if (b.U8(24, depth) && b.U8(25, colourType) && colourType <= 6) {
        header.bitDepth = static_cast<int>(depth);
        header.channels = kChannels[colourType];
    }
    CountPngData(b, header);
}

// The raw scanlines, a filter byte each, deflated at best into the image data.
long long PngLeastBytes(const ByteReader&, const ImageHeader& h) {
    if (h.channels == 0 || h.bitDepth == 0) return -1;
    return CeilDiv(h.height * (1 + CeilDiv(h.width * h.bitDepth * h.channels, 8)), kDeflateBestRatio);
}

bool IsMng(const ByteReader& b) { return b.Matches(0, "\x8aMNG\r\n\x1a\n", 8); }

void ReadMng(const ByteReader& b, ImageHeader& header) { b.U32(16, true, header.width), b.U32(20, true, header.height); }

// JPEG ------------------------------------------------------------------------------------------

bool IsJpeg(const ByteReader& b) { return b.Matches(0, "\xff\xd8\xff", 3); }

void ReadJpeg(const ByteReader& b, ImageHeader& header) {
    JpegFrame frame;
    if (!ReadJpegFrame(b, frame)) return;
    header.width = frame.width;
    header.height = frame.height;
    header.channels = frame.components;
    header.bitDepth = frame.bitDepth;
}

// Arithmetic coding spends far less than a bit on a flat block: a small picture is not bounded.
long long JpegLeast(const ByteReader& b, const ImageHeader& h) {
    JpegFrame frame;
    if (!ReadJpegFrame(b, frame) || (frame.arithmetic() && h.width * h.height <= kUnboundedPixels)) return -1;
    return JpegLeastBytes(frame);
}

// BMP -------------------------------------------------------------------------------------------

constexpr long long kBmpCoreHeader = 12;  // OS/2 1.x: 16-bit sizes, no compression field

bool IsBmp(const ByteReader& b) { return b.Matches(0, "BM", 2) && b.Has(0, 26); }

// The pixels run-length codes (RLE8, or RLE4 with `fourBits`) from `at` give before their
// end-of-bitmap, into carriedPixels: a delta or a row's early end moves on without coding any.
void CountBmpRuns(const ByteReader& b, uint64_t at, bool fourBits, ImageHeader& header) {
    long long count, code, pixels = 0, rows = 0, area = header.width * header.height;
    while (b.U8(at, count) && b.U8(at + 1, code)) {
        at += 2;
        if (count > 0) {
            pixels += count;
        } else if (code == 1) {
            header.carriedPixels = std::min(pixels, area);
            return;
        } else if (code == 0) {
            ++rows;
        } else if (code == 2) {
            at += 2;
        } else {
            pixels += code;
            at += static_cast<uint64_t>(CeilDiv(fourBits ? CeilDiv(code, 2) : code, 2) * 2);
        }
        // Past the last row, or with every pixel given, the decoder reads no further.
        if (rows > header.height || pixels >= area) {
            header.carriedPixels = std::min(pixels, area);
            return;
        }
    }
    header.carriedPixels = pixels;
    header.framesBeyondBytes = true;
}

void ReadBmp(const ByteReader& b, ImageHeader& header) {
    long long headerSize, w, h, bits, compression = 0, start;
    if (!b.U32(14, false, headerSize)) return;
    bool core = headerSize == kBmpCoreHeader;
    if (core ? !(b.U16(18, false, w) && b.U16(20, false, h)) : !(b.I32(18, false, w) && b.I32(22, false, h))) return;
    header.width = std::abs(w);
    header.height = std::abs(h);  // negative: rows stored top first
    if (b.U16(core ? 24 : 28, false, bits)) header.bitDepth = static_cast<int>(bits);
    bool runs = !core && b.U32(30, false, compression) && (compression == 1 || compression == 2);
    if (runs && b.U32(10, false, start)) CountBmpRuns(b, static_cast<uint64_t>(start), compression == 2, header);
}

// Plain rows are padded to four bytes. A run-length code (RLE8 or RLE4) spends at least two
// bytes on a run of at most 255 pixels.
long long BmpLeastBytes(const ByteReader& b, const ImageHeader& h) {
    long long headerSize, compression = 0;
    if (!b.U32(14, false, headerSize) || h.bitDepth == 0) return -1;
    if (headerSize != kBmpCoreHeader && !b.U32(30, false, compression)) return -1;
    long long start = 14 + headerSize;
    if (compression == 0 || compression == 3 || compression == 6) return start + CeilDiv(h.width * h.bitDepth, 32) * 4 * h.height;
    if (compression == 1 || compression == 2) return start + 2 * CeilDiv(h.width * h.height, 255);
    return -1;  // a JPEG or PNG inside: refused by the decoder
}

// GIF -------------------------------------------------------------------------------------------

bool IsGif(const ByteReader& b) { return b.Matches(0, "GIF87a", 6) || b.Matches(0, "GIF89a", 6); }

// Passes over the data sub-blocks that start at `at` (a length byte, then that many bytes, up
// to a zero length); false when they run past the bytes given.
bool SkipGifSubBlocks(const ByteReader& b, uint64_t& at) {
    long long length;
    while (b.U8(at, length)) {
        at += 1 + static_cast<uint64_t>(length);
        if (length == 0) return true;
    }
    return false;
}

// The bytes of the data sub-blocks that start at `at`, up to a zero length; false when they run
// past the bytes given.
bool CountGifSubBlocks(const ByteReader& b, uint64_t at, long long& bytes) {
    long long length;
    bytes = 0;
    while (b.U8(at, length)) {
        if (length == 0) return true;
        bytes += length;
        at += 1 + static_cast<uint64_t>(length);
    }
    return false;
}

// The logical screen, and the first frame (the one shown) into carriedPixels: its area, or as
// much of it as its LZW codes can give at best. The screen may be at most kCanvasPerCarriedPixel
// times that; later frames are never decoded and count for nothing.
void ReadGif(const ByteReader& b, ImageHeader& header) {
    long long flags, block, w, h;
    if (!b.U16(6, false, header.width) || !b.U16(8, false, header.height) || !b.U8(10, flags)) return;
    uint64_t at = 13 + ((flags & 0x80) ? 3ULL << ((flags & 7) + 1) : 0);
    long long carried = 0;
    for (;;) {
        if (!b.U8(at, block)) {
            header.framesBeyondBytes = true;  // the bytes end before the trailer
            break;
        }
        if (block == 0x3B) break;
        bool whole;
        if (block == 0x21) {  // an extension: its label, then sub-blocks
            at += 2;
            whole = SkipGifSubBlocks(b, at);
        } else if (block == 0x2C && b.U16(at + 5, false, w) && b.U16(at + 7, false, h) && b.U8(at + 9, flags)) {
            at += 10 + ((flags & 0x80) ? 3ULL << ((flags & 7) + 1) : 0) + 1;  // descriptor, local colours, code size
            long long codes;
            whole = CountGifSubBlocks(b, at, codes);
            carried = std::min(w * h, codes * kLzwBestRatio);
            if (whole) break;
        } else if (block == 0x2C) {
            whole = false;
        } else {
            return;  // damaged: what follows is not known, so nothing is claimed about the frames
        }
        if (!whole) {
            header.framesBeyondBytes = true;
            break;
        }
    }
    header.carriedPixels = carried;
}

long long GifLeastBytes(const ByteReader&, const ImageHeader& h) { return 13 + CeilDiv(h.width * h.height, kLzwBestRatio); }

// TIFF ------------------------------------------------------------------------------------------

// Classic TIFF (42) and BigTIFF (43), either byte order.
bool IsTiff(const ByteReader& b) {
    return b.Matches(0, "II*\0", 4) || b.Matches(0, "MM\0*", 4) || b.Matches(0, "II+\0", 4) || b.Matches(0, "MM\0+", 4);
}

struct TiffFields {
    long long width = -1, height = -1, bits = 1, samples = 1, compression = 1;
    long long dataBytes = -1;       // the strips' or tiles' byte counts summed; -1 without them
    bool dataBeyondBytes = false;   // some of the counts lie past the bytes given
};

// The byte counts of `n` strips or tiles of `size` bytes each from `at`, summed into `fields`.
void SumTiffCounts(const ByteReader& b, uint64_t at, long long n, int size, bool be, TiffFields& fields) {
    long long sum = std::max(fields.dataBytes, 0LL);
    for (long long i = 0; i < n; ++i) {
        uint64_t count;
        if (!b.Unsigned(at + static_cast<uint64_t>(i) * static_cast<uint64_t>(size), size, be, count)) {
            fields.dataBeyondBytes = true;
            break;
        }
        sum = static_cast<long long>(std::min<uint64_t>(static_cast<uint64_t>(sum) + count, uint64_t{1} << 50));
    }
    fields.dataBytes = sum;
}

// The first value of each field of the first directory that the checks need.
bool ReadTiffFields(const ByteReader& b, TiffFields& fields) {
    bool big = b.Matches(0, "MM", 2) ? b.Matches(2, "\0+", 2) : b.Matches(2, "+\0", 2);
    bool be = b.Matches(0, "MM", 2);
    long long directory, count;
    if (!(big ? b.U64(8, be, directory) : b.U32(4, be, directory))) return false;
    if (!(big ? b.U64(static_cast<uint64_t>(directory), be, count) : b.U16(static_cast<uint64_t>(directory), be, count))) {
        return false;
    }
    uint64_t entrySize = big ? 20 : 12, countSize = big ? 8 : 2, fieldSize = big ? 8 : 4;
    for (long long i = 0; i < count; ++i) {
        uint64_t entry = static_cast<uint64_t>(directory) + countSize + static_cast<uint64_t>(i) * entrySize;
        long long tag, type, n;
        if (!b.U16(entry, be, tag) || !b.U16(entry + 2, be, type)) return fields.width >= 0;
        if (!(big ? b.U64(entry + 4, be, n) : b.U32(entry + 4, be, n))) return fields.width >= 0;
        int size = type == 3 ? 2 : type == 4 ? 4 : type == 16 ? 8 : 0;  // SHORT, LONG, LONG8
        if (size == 0 || n < 1) continue;
        uint64_t at = entry + 4 + fieldSize;
        long long offset;
        if (static_cast<uint64_t>(n) * static_cast<uint64_t>(size) > fieldSize) {
            if (!(big ? b.U64(at, be, offset) : b.U32(at, be, offset))) continue;
            at = static_cast<uint64_t>(offset);
        }
        if (tag == 279 || tag == 325) {  // StripByteCounts, TileByteCounts
            SumTiffCounts(b, at, n, size, be, fields);
            continue;
        }
        uint64_t raw;
        if (!b.Unsigned(at, size, be, raw) || raw > (uint64_t{1} << 40)) continue;
        long long value = static_cast<long long>(raw);
        switch (tag) {
            case 256: fields.width = value; break;
            case 257: fields.height = value; break;
            case 258: fields.bits = value; break;
            case 259: fields.compression = value; break;
            case 277: fields.samples = value; break;
            default: break;
        }
    }
    return true;
}

void ReadTiff(const ByteReader& b, ImageHeader& header) {
    TiffFields fields;
    if (!ReadTiffFields(b, fields) || fields.width < 0 || fields.height < 0) return;
    header.width = fields.width;
    header.height = fields.height;
    header.bitDepth = static_cast<int>(std::min(fields.bits, 64LL));
    header.channels = static_cast<int>(std::min(fields.samples, 64LL));
    header.dataBytes = fields.dataBytes;
    header.dataBeyondBytes = fields.dataBeyondBytes;
}

// Zstandard's best: a run-length block of 128 KiB in four bytes.
constexpr long long kZstdBestRatio = 32768;
// LZMA's best: a repeated match of 273 bytes costs its range coder about a third of a bit.
constexpr long long kLzmaBestRatio = 16384;

// The strips' or tiles' bytes, by compression: none, PackBits (two bytes for a run of up to
// 128), LZW, deflate (PixarLog is deflate too), Zstandard, LZMA, JPEG (a bit per 8 x 8 block of
// the first component) and the fax codes (a bit per row). Every other coding libtiff reads
// (JBIG, LERC, WebP, ThunderScan, ...) sets no bound.
long long TiffLeastBytes(const ByteReader& b, const ImageHeader& h) {
    TiffFields fields;
    if (!ReadTiffFields(b, fields)) return -1;
    long long raw = CeilDiv(h.width * std::max(h.bitDepth, 1) * std::max(h.channels, 1), 8) * h.height;
    switch (fields.compression) {
        case 1: return raw;
        case 32773: return 2 * CeilDiv(raw, 128);
        case 5: return CeilDiv(raw, kLzwBestRatio);
        case 8: case 32946: case 32909: return CeilDiv(raw, kDeflateBestRatio);
        case 50000: return CeilDiv(raw, kZstdBestRatio);
        case 34925: return CeilDiv(raw, kLzmaBestRatio);
        case 6: case 7: return CeilDiv(CeilDiv(h.width, 8) * CeilDiv(h.height, 8), 8);
        case 2: case 3: case 4: return CeilDiv(h.height, 8);
        default: return kNoDataBound;
    }
}

// WebP ------------------------------------------------------------------------------------------

bool IsWebp(const ByteReader& b) { return b.Matches(0, "RIFF", 4) && b.Matches(8, "WEBP", 4); }

// The pixels a bitstream chunk (VP8 or VP8L) at `at` can cover, `area` at most: none when it
// holds no more than its own header (a frame that only claims a size), the whole area otherwise,
// since a lossless stream may code a flat picture in next to nothing. `end` bounds the chunks.
void CountWebpBitstream(const ByteReader& b, uint64_t at, uint64_t end, long long area, ImageHeader& header) {
    long long chunkSize;
    for (; at + 8 <= end; at += 8 + static_cast<uint64_t>(chunkSize) + (chunkSize & 1)) {
        if (!b.U32(at + 4, false, chunkSize)) break;
        bool lossy = b.Matches(at, "VP8 ", 4), lossless = b.Matches(at, "VP8L", 4);
        if (!lossy && !lossless) continue;
        // What of the chunk the bytes given hold; the rest counts once they are the whole file.
        uint64_t held = std::min<uint64_t>(static_cast<uint64_t>(chunkSize), b.size() - std::min<uint64_t>(b.size(), at + 8));
        if (held < static_cast<uint64_t>(chunkSize)) header.framesBeyondBytes = true;
        header.carriedPixels = held > (lossy ? 10u : 5u) ? area : 0;
        return;
    }
    header.carriedPixels = 0;
    header.framesBeyondBytes = at + 8 > b.size();
}

// An animation's first frame (the 'ANMF' chunk shown first) into carriedPixels: the canvas may be
// at most kCanvasPerCarriedPixel times what it covers. Later frames are never decoded.
void ReadWebpFrames(const ByteReader& b, ImageHeader& header) {
    long long riffSize, chunkSize;
    if (!b.U32(4, false, riffSize)) return;
    uint64_t end = 8 + static_cast<uint64_t>(riffSize), at = 12;
    while (at + 8 <= end) {
        uint64_t w, h;
        bool frame = b.Matches(at, "ANMF", 4);
        if (!b.U32(at + 4, false, chunkSize) ||
            (frame && !(b.Unsigned(at + 14, 3, false, w) && b.Unsigned(at + 17, 3, false, h)))) {
            header.carriedPixels = 0;
            header.framesBeyondBytes = true;
            return;
        }
        if (frame) {
            uint64_t frameEnd = std::min(end, at + 8 + static_cast<uint64_t>(chunkSize));
            CountWebpBitstream(b, at + 24, frameEnd, static_cast<long long>((w + 1) * (h + 1)), header);
            return;
        }
        at += 8 + static_cast<uint64_t>(chunkSize) + (chunkSize & 1);
    }
    header.carriedPixels = 0;
}

void ReadWebp(const ByteReader& b, ImageHeader& header) {
    long long w, h, bits, flags;
    if (b.Matches(12, "VP8 ", 4) && b.U16(26, false, w) && b.U16(28, false, h)) {
        header.width = w & 0x3FFF;
        header.height = h & 0x3FFF;
        CountWebpBitstream(b, 12, UINT64_MAX, header.width * header.height, header);
    } else if (b.Matches(12, "VP8L", 4) && b.U32(21, false, bits)) {
        header.width = (bits & 0x3FFF) + 1;
        header.height = ((bits >> 14) & 0x3FFF) + 1;
        CountWebpBitstream(b, 12, UINT64_MAX, header.width * header.height, header);
    } else if (b.Matches(12, "VP8X", 4) && b.U32(24, false, w) && b.U32(27, false, h)) {
        header.width = (w & 0xFFFFFF) + 1;
        header.height = (h & 0xFFFFFF) + 1;
        if (b.U8(20, flags) && (flags & 0x02)) ReadWebpFrames(b, header);
    }
}

// HEIF and AVIF ---------------------------------------------------------------------------------

bool IsHeif(const ByteReader& b) { return IsHeifFile(b); }

void ReadHeif(const ByteReader& b, ImageHeader& header) {
    long long w, h;
    if (!HeifPrimarySize(b, w, h)) return;
    header.width = w;
    header.height = h;
}

// Portable any-maps -----------------------------------------------------------------------------

bool IsPnm(const ByteReader& b) {
    long long kind, blank;
    return b.Matches(0, "P", 1) && b.U8(1, kind) && kind >= '1' && kind <= '6' && b.U8(2, blank) && std::isspace(blank);
}

// Decimal fields of the header, between blanks and '#' comments; `at` ends just past the digits.
bool PnmNumber(const ByteReader& b, uint64_t& at, long long& value) {
    long long c;
    while (b.U8(at, c)) {
        if (c == '#') {
            while (b.U8(at, c) && c != '\n' && c != '\r') ++at;
        } else if (std::isspace(c)) {
            ++at;
        } else {
            break;
        }
    }
    if (!b.U8(at, c) || !std::isdigit(c)) return false;
    value = 0;
    while (b.U8(at, c) && std::isdigit(c)) {
        value = std::min(value * 10 + (c - '0'), 1LL << 40);
        ++at;
    }
    return true;
}

struct PnmFields {
    int kind = 0;               // 1 to 6, from "P1" to "P6"
    long long width = -1, height = -1, maximum = 1;
    uint64_t dataStart = 0;     // the first byte of the pixels
};

bool ReadPnmFields(const ByteReader& b, PnmFields& fields) {
    long long kind;
    if (!b.U8(1, kind)) return false;
    fields.kind = static_cast<int>(kind - '0');
    uint64_t at = 2;
    if (!PnmNumber(b, at, fields.width) || !PnmNumber(b, at, fields.height)) return false;
    if (fields.kind != 1 && fields.kind != 4 && !PnmNumber(b, at, fields.maximum)) return false;
    fields.dataStart = at + 1;  // one blank ends the header
    return true;
}

void ReadPnm(const ByteReader& b, ImageHeader& header) {
    PnmFields fields;
    if (!ReadPnmFields(b, fields)) return;
    header.width = fields.width;
    header.height = fields.height;
    header.channels = fields.kind == 3 || fields.kind == 6 ? 3 : 1;
    header.bitDepth = fields.kind == 1 || fields.kind == 4 ? 1 : fields.maximum > 255 ? 16 : 8;
}

// The text kinds take a character per pixel at least (P1 needs no blanks between its digits; P2
// and P3 do, between samples); the binary kinds their exact bytes.
long long PnmLeastBytes(const ByteReader& b, const ImageHeader& h) {
    PnmFields fields;
    if (!ReadPnmFields(b, fields)) return -1;
    long long start = static_cast<long long>(fields.dataStart), pixels = h.width * h.height;
    long long samples = pixels * h.channels, sampleBytes = h.bitDepth > 8 ? 2 : 1;
    switch (fields.kind) {
        case 1: return start + pixels;
        case 2: case 3: return start + 2 * samples - 1;
        case 4: return start + CeilDiv(h.width, 8) * h.height;
        default: return start + samples * sampleBytes;
    }
}

}  // namespace

const ImageFormatRow kEverydayFormatRows[] = {
    {ImageFormat::kPng, "PNG", "png", false, IsPng, ReadPng, PngLeastBytes, true},
    {ImageFormat::kMng, "MNG", "mng", false, IsMng, ReadMng, nullptr, true},
    {ImageFormat::kJpeg, "JPEG", "jpg jpeg jpe jfif", false, IsJpeg, ReadJpeg, JpegLeast, true},
    {ImageFormat::kBmp, "BMP", "bmp dib", false, IsBmp, ReadBmp, BmpLeastBytes, true},
    {ImageFormat::kGif, "GIF", "gif", false, IsGif, ReadGif, GifLeastBytes, true},
    {ImageFormat::kTiff, "TIFF", "tif tiff", false, IsTiff, ReadTiff, TiffLeastBytes, false},
    // Lossless WebP codes a flat picture in next to nothing: only an animation's canvas is bounded.
    {ImageFormat::kWebp, "WebP", "webp", false, IsWebp, ReadWebp, nullptr, false},
    // The primary image's 'ispe' may follow the coded data, past the bytes the program reads first.
    {ImageFormat::kHeif, "HEIF", "heic heif avif", false, IsHeif, ReadHeif, nullptr, false},
    {ImageFormat::kPnm, "PNM", "pnm pbm pgm ppm", false, IsPnm, ReadPnm, PnmLeastBytes, true},
};
const size_t kEverydayFormatRowCount = sizeof kEverydayFormatRows / sizeof kEverydayFormatRows[0];

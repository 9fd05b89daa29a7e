// Rows of the format table for the rarer formats that only the image library reads.
#include <algorithm>

#include "image/format_readers.h"

namespace {

bool IsPsd(const ByteReader& b) { return b.Matches(0, "8BPS", 4); }

void ReadPsd(const ByteReader& b, ImageHeader& header) {
    long long channels, depth;
    b.U32(18, true, header.width), b.U32(14, true, header.height);
    if (b.U16(12, true, channels) && b.U16(22, true, depth)) {
        header.channels = static_cast<int>(std::min(channels, 64LL));
        header.bitDepth = static_cast<int>(std::min(depth, 64LL));
    }
}

// PackBits rows: the colour-mode, resources and layer sections are skipped by their lengths to
// reach the compression field.
long long PsdLeastBytes(const ByteReader& b, const ImageHeader& h) {
    long long length, compression;
    uint64_t at = 26;
    for (int section = 0; section < 3; ++section) {
        if (!b.U32(at, true, length)) return -1;
        at += 4 + static_cast<uint64_t>(length);
    }
    if (!b.U16(at, true, compression)) return -1;
    long long rowBytes = CeilDiv(h.width * std::max(h.bitDepth, 1), 8), start = static_cast<long long>(at) + 2;
    if (compression == 0) return start + rowBytes * h.height * h.channels;
    if (compression == 1) return start + h.height * h.channels * (2 + 2 * CeilDiv(rowBytes, 128));
    return -1;
}

bool IsPcxAt(const ByteReader& b, uint64_t at) {
    long long magic, version, encoding, bits;
    if (!b.U8(at, magic) || !b.U8(at + 1, version) || !b.U8(at + 2, encoding) || !b.U8(at + 3, bits)) return false;
    return magic == 0x0A && (version <= 5 && version != 1) && encoding <= 1 && (bits == 1 || bits == 2 || bits == 4 || bits == 8);
}

bool IsPcx(const ByteReader& b) { return IsPcxAt(b, 0); }

// PCX windows are inclusive corner coordinates; an inverted one is taken modulo 2^32, as a
// decoder's unsigned arithmetic would take it.
void ReadPcxAt(const ByteReader& b, uint64_t at, ImageHeader& header) {
    long long xMin, yMin, xMax, yMax;
    if (!b.U16(at + 4, false, xMin) || !b.U16(at + 6, false, yMin) || !b.U16(at + 8, false, xMax) ||
        !b.U16(at + 10, false, yMax)) {
        return;
    }
    header.width = (xMax - xMin + 1) & 0xFFFFFFFFLL;
    header.height = (yMax - yMin + 1) & 0xFFFFFFFFLL;
}

void ReadPcx(const ByteReader& b, ImageHeader& header) { ReadPcxAt(b, 0, header); }

// Runs of at most 63 bytes cost two bytes each.
long long PcxLeastBytes(const ByteReader& b, const ImageHeader& h) {
    long long encoding, bits, planes, bytesPerLine;
    if (!b.U8(2, encoding) || !b.U8(3, bits) || !b.U8(65, planes) || !b.U16(66, false, bytesPerLine)) return -1;
    long long lineBytes = std::max(bytesPerLine, CeilDiv(h.width * bits, 8)) * std::max(planes, 1LL);
    return 128 + (encoding == 0 ? lineBytes * h.height : 2 * CeilDiv(lineBytes * h.height, 63));
}

bool IsDcx(const ByteReader& b) { return b.Matches(0, "\xb1\x68\xde\x3a", 4); }

void ReadDcx(const ByteReader& b, ImageHeader& header) {
    long long page;
    if (b.U32(4, false, page) && IsPcxAt(b, static_cast<uint64_t>(page))) ReadPcxAt(b, static_cast<uint64_t>(page), header);
}

bool IsDds(const ByteReader& b) { return b.Matches(0, "DDS ", 4); }

void ReadDds(const ByteReader& b, ImageHeader& header) {
    long long flags, volume;
    b.U32(12, false, header.height), b.U32(16, false, header.width);
    if (b.U32(8, false, flags) && (flags & 0x800000) && b.U32(24, false, volume)) header.depth = std::max(volume, 1LL);
}

bool IsIco(const ByteReader& b) {
    long long count;
    return (b.Matches(0, "\0\0\1\0", 4) || b.Matches(0, "\0\0\2\0", 4)) && b.U16(4, false, count) && count > 0;
}

// The largest entry of the directory; an entry holding a whole PNG is as large as that PNG's header says.
void ReadIco(const ByteReader& b, ImageHeader& header) {
    long long count;
    if (!b.U16(4, false, count) || count == 0) return;
    long long width = 0, height = 0;
    for (long long i = 0; i < count; ++i) {
        uint64_t entry = 6 + static_cast<uint64_t>(i) * 16;
        long long w, h, offset, pw = 0, ph = 0;
        if (!b.U8(entry, w) || !b.U8(entry + 1, h) || !b.U32(entry + 12, false, offset)) return;
        uint64_t png = static_cast<uint64_t>(offset);
        if (b.Matches(png, "\x89PNG", 4)) b.U32(png + 16, true, pw), b.U32(png + 20, true, ph);
        width = std::max({width, w == 0 ? 256 : w, pw});
        height = std::max({height, h == 0 ? 256 : h, ph});
    }
    header.width = width;
    header.height = height;
}

bool IsIlbm(const ByteReader& b) { return b.Matches(0, "FORM", 4) && (b.Matches(8, "ILBM", 4) || b.Matches(8, "PBM ", 4)); }

void ReadIlbm(const ByteReader& b, ImageHeader& header) {
    if (b.Matches(12, "BMHD", 4)) b.U16(20, true, header.width), b.U16(22, true, header.height);
}

bool IsPic(const ByteReader& b) { return b.Matches(0, "\x53\x80\xf6\x34", 4); }

// The magic number, the version, an 80-byte comment and the 'PICT' mark come before the size.
void ReadPic(const ByteReader& b, ImageHeader& header) { b.U16(92, true, header.width), b.U16(94, true, header.height); }

// Each row is coded on its own after the header and one channel packet: at best by runs of a
// count byte and one sample, each of at most 65535 pixels (a mixed run with a 16-bit count).
long long PicLeastBytes(const ByteReader&, const ImageHeader& h) { return 104 + 4 + h.height * 2 * CeilDiv(h.width, 65535); }

bool IsSgi(const ByteReader& b) { return b.Matches(0, "\x01\xda", 2); }

void ReadSgi(const ByteReader& b, ImageHeader& header) {
    long long perChannel, channels;
    b.U16(6, true, header.width), b.U16(8, true, header.height);
    if (b.U8(3, perChannel) && b.U16(10, true, channels)) {
        header.bitDepth = static_cast<int>(8 * std::max(perChannel, 1LL));
        header.channels = static_cast<int>(std::max(channels, 1LL));
    }
}

// Run-length rows: a table of offsets and lengths, then two bytes per run of at most 127 samples.
long long SgiLeastBytes(const ByteReader& b, const ImageHeader& h) {
    long long storage;
    if (!b.U8(2, storage)) return -1;
    // Cut short before its channel count, a file still needs its whole 512-byte header.
    if (h.channels == 0) return 512;
    if (storage == 0) return 512 + h.width * h.height * h.channels * (h.bitDepth / 8);
    return 512 + h.height * h.channels * 8 + h.height * h.channels * 2 * CeilDiv(h.width, 127);
}

bool IsPsp(const ByteReader& b) { return b.Matches(0, "Paint Shop Pro Image File", 25); }
bool IsLif(const ByteReader& b) { return b.Matches(0, "Willy 7", 7); }
void ReadLif(const ByteReader& b, ImageHeader& header) { b.U32(16, false, header.width), b.U32(20, false, header.height); }
bool IsMdl(const ByteReader& b) { return b.Matches(0, "IDST", 4); }
bool IsPcd(const ByteReader& b) { return b.Matches(0x800, "PCD_IPI", 7); }
// The image library reads a Photo CD's base resolution.
void ReadPcd(const ByteReader&, ImageHeader& header) { header.width = 768, header.height = 512; }

bool IsJascPalette(const ByteReader& b) { return b.Matches(0, "JASC-PAL", 8); }

// A plausible TGA header: the last guess for a file with no signature and no known extension.
bool IsTga(const ByteReader& b) {
    long long mapType, imageType, bits, width, height;
    if (!b.U8(1, mapType) || !b.U8(2, imageType) || !b.U8(16, bits) || !b.U16(12, false, width) ||
        !b.U16(14, false, height)) {
        return false;
    }
    bool typeKnown = imageType == 1 || imageType == 2 || imageType == 3 || imageType == 9 || imageType == 10 || imageType == 11;
    bool bitsKnown = bits == 8 || bits == 15 || bits == 16 || bits == 24 || bits == 32;
    return mapType <= 1 && typeKnown && bitsKnown && width > 0 && height > 0;
}

void ReadTga(const ByteReader& b, ImageHeader& header) {
    long long bits;
    b.U16(12, false, header.width), b.U16(14, false, header.height);
    if (b.U8(16, bits)) header.bitDepth = static_cast<int>(bits);
}

// Uncompressed pixels to the byte, after the identification and the colour map; run-length
// packets of at most 128 pixels cost a count byte and one pixel.
long long TgaLeastBytes(const ByteReader& b, const ImageHeader& h) {
    long long idLength, mapType, imageType, mapLength = 0, mapBits = 0;
    if (!b.U8(0, idLength) || !b.U8(1, mapType) || !b.U8(2, imageType)) return -1;
    if (mapType == 1 && !(b.U16(5, false, mapLength) && b.U8(7, mapBits))) return -1;
    long long start = 18 + idLength + mapLength * CeilDiv(mapBits, 8), pixelBytes = CeilDiv(h.bitDepth, 8);
    if (imageType >= 1 && imageType <= 3) return start + h.width * h.height * pixelBytes;
    if (imageType >= 9 && imageType <= 11) return start + CeilDiv(h.width * h.height, 128) * (1 + pixelBytes);
    return -1;
}

void ReadWal(const ByteReader& b, ImageHeader& header) { b.U32(32, false, header.width), b.U32(36, false, header.height); }
void ReadCut(const ByteReader& b, ImageHeader& header) { b.U16(0, false, header.width), b.U16(2, false, header.height); }

void ReadRaw(const ByteReader& b, ImageHeader& header) {
    long long depth;
    b.U32(0, false, header.width), b.U32(4, false, header.height);
    if (b.U32(8, false, depth)) header.depth = std::max(depth, 1LL);
}

}  // namespace

const ImageFormatRow kRareFormatRows[] = {
    {ImageFormat::kPsd, "PSD", "psd", false, IsPsd, ReadPsd, PsdLeastBytes, true},
    {ImageFormat::kDds, "DDS", "dds", false, IsDds, ReadDds, nullptr, true},
    {ImageFormat::kDcx, "DCX", "dcx", false, IsDcx, ReadDcx, nullptr, false},
    {ImageFormat::kIlbm, "ILBM", "lbm ilbm iff", false, IsIlbm, ReadIlbm, nullptr, false},
    {ImageFormat::kPic, "PIC", "pic", false, IsPic, ReadPic, PicLeastBytes, true},
    {ImageFormat::kSgi, "SGI", "sgi rgb rgba bw", false, IsSgi, ReadSgi, SgiLeastBytes, true},
    {ImageFormat::kPsp, "PSP", "psp", false, IsPsp, nullptr, nullptr, false},
    {ImageFormat::kLif, "LIF", "lif", false, IsLif, ReadLif, nullptr, true},
    {ImageFormat::kMdl, "MDL", "mdl", false, IsMdl, nullptr, nullptr, false},
    {ImageFormat::kPcd, "PCD", "pcd", false, IsPcd, ReadPcd, nullptr, false},
    // Weak signatures, tried after the firm ones.
    {ImageFormat::kPcx, "PCX", "pcx", false, IsPcx, ReadPcx, PcxLeastBytes, true},
    {ImageFormat::kIco, "ICO", "ico cur", false, IsIco, ReadIco, nullptr, false},
    // Known by their extension; the TGA header and the JASC palette are guessed after that.
    {ImageFormat::kTga, "TGA", "tga vda icb vst", true, IsTga, ReadTga, TgaLeastBytes, true},
    {ImageFormat::kCut, "CUT", "cut", true, nullptr, ReadCut, nullptr, true},
    {ImageFormat::kWal, "WAL", "wal", true, nullptr, ReadWal, nullptr, true},
    {ImageFormat::kRaw, "raw", "raw", true, nullptr, ReadRaw, nullptr, true},
    {ImageFormat::kPalette, "palette", "act pal", true, IsJascPalette, nullptr, nullptr, false},
};
const size_t kRareFormatRowCount = sizeof kRareFormatRows / sizeof kRareFormatRows[0];

#include "image/format_sniff.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

// Bounds-checked reads of the bytes given; a read beyond the end yields false and no value.
class Bytes {
public:
    Bytes(const unsigned char* data, size_t size) : data(data), size(size) {}

    bool Has(size_t offset, size_t count) const { return offset <= size && count <= size - offset; }
    bool Matches(size_t offset, const char* text, size_t count) const {
        return Has(offset, count) && std::memcmp(data + offset, text, count) == 0;
    }
    bool U8(size_t offset, long long& value) const {
        if (!Has(offset, 1)) return false;
        value = data[offset];
        return true;
    }
    bool U16(size_t offset, bool bigEndian, long long& value) const {
        if (!Has(offset, 2)) return false;
        const unsigned char* p = data + offset;
        value = bigEndian ? (p[0] << 8 | p[1]) : (p[1] << 8 | p[0]);
        return true;
    }
    bool U32(size_t offset, bool bigEndian, long long& value) const {
        if (!Has(offset, 4)) return false;
        const unsigned char* p = data + offset;
        unsigned long v = bigEndian ? (0ul + p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]
                                    : (0ul + p[3]) << 24 | p[2] << 16 | p[1] << 8 | p[0];
        value = static_cast<long long>(v);
        return true;
    }
    // A signed 32-bit field (BMP heights are negative for top-down pictures).
    bool I32(size_t offset, long long& value) const {
        if (!U32(offset, false, value)) return false;
        if (value >= 0x80000000LL) value -= 0x100000000LL;
        return true;
    }

    const unsigned char* data;
    size_t size;
};

std::string LowerExtension(const std::string& name) {
    size_t slash = name.find_last_of('/');
    size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string extension = name.substr(dot + 1);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

bool IsTgaHeader(const Bytes& b) {
    long long mapType, imageType, bits, width, height;
    if (!b.U8(1, mapType) || !b.U8(2, imageType) || !b.U8(16, bits) || !b.U16(12, false, width) ||
        !b.U16(14, false, height)) {
        return false;
    }
    bool typeKnown = imageType == 1 || imageType == 2 || imageType == 3 || imageType == 9 || imageType == 10 ||
                     imageType == 11;
    bool bitsKnown = bits == 8 || bits == 15 || bits == 16 || bits == 24 || bits == 32;
    return mapType <= 1 && typeKnown && bitsKnown && width > 0 && height > 0;
}

bool IsPcxHeader(const Bytes& b, size_t at) {
    long long magic, version, encoding, bits;
    if (!b.U8(at, magic) || !b.U8(at + 1, version) || !b.U8(at + 2, encoding) || !b.U8(at + 3, bits)) return false;
    return magic == 0x0A && (version <= 5 && version != 1) && encoding <= 1 &&
           (bits == 1 || bits == 2 || bits == 4 || bits == 8);
}

bool IsHeifBrand(const Bytes& b) {
    static const char* const kBrands[] = {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1", "avif", "avis"};
    if (!b.Matches(4, "ftyp", 4)) return false;
    for (const char* brand : kBrands) {
        if (b.Matches(8, brand, 4)) return true;
    }
    return false;
}

// PCX windows are inclusive corner coordinates; an inverted one is taken modulo 2^32, as a
// decoder's unsigned arithmetic would take it.
void PcxSize(const Bytes& b, size_t at, ImageHeader& header) {
    long long xMin, yMin, xMax, yMax;
    if (!b.U16(at + 4, false, xMin) || !b.U16(at + 6, false, yMin) || !b.U16(at + 8, false, xMax) ||
        !b.U16(at + 10, false, yMax)) {
        return;
    }
    header.width = (xMax - xMin + 1) & 0xFFFFFFFFLL;
    header.height = (yMax - yMin + 1) & 0xFFFFFFFFLL;
}

// Reads the size from the first start-of-frame marker; that marker's code, or -1 when none.
int JpegSize(const Bytes& b, ImageHeader& header) {
    size_t at = 2;
    long long marker, length;
    while (b.U8(at, marker) && marker == 0xFF) {
        long long code;
        if (!b.U8(at + 1, code)) return -1;
        if (code == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        bool startOfFrame = code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
        if (startOfFrame) {
            b.U16(at + 5, true, header.height);
            b.U16(at + 7, true, header.width);
            return static_cast<int>(code);
        }
        if (code == 0xD8 || code == 0x01 || (code >= 0xD0 && code <= 0xD7)) {
            at += 2;
            continue;
        }
        if (!b.U16(at + 2, true, length) || length < 2) return -1;
        at += 2 + static_cast<size_t>(length);
    }
    return -1;
}

void TiffSize(const Bytes& b, bool bigEndian, ImageHeader& header) {
    long long ifd, count;
    if (!b.U32(4, bigEndian, ifd) || !b.U16(static_cast<size_t>(ifd), bigEndian, count)) return;
    for (long long i = 0; i < count; ++i) {
        size_t entry = static_cast<size_t>(ifd) + 2 + static_cast<size_t>(i) * 12;
        long long tag, type, value;
        if (!b.U16(entry, bigEndian, tag) || !b.U16(entry + 2, bigEndian, type)) return;
        if (tag != 256 && tag != 257) continue;
        bool read = type == 3 ? b.U16(entry + 8, bigEndian, value) : type == 4 && b.U32(entry + 8, bigEndian, value);
        if (!read) continue;
        (tag == 256 ? header.width : header.height) = value;
    }
}

// Decimal fields of a portable any-map header, between blanks and '#' comments.
bool PnmNumber(const Bytes& b, size_t& at, long long& value) {
    while (b.Has(at, 1)) {
        unsigned char c = b.data[at];
        if (c == '#') {
            while (b.Has(at, 1) && b.data[at] != '\n' && b.data[at] != '\r') ++at;
        } else if (std::isspace(c)) {
            ++at;
        } else {
            break;
        }
    }
    if (!b.Has(at, 1) || !std::isdigit(b.data[at])) return false;
    value = 0;
    while (b.Has(at, 1) && std::isdigit(b.data[at])) {
        value = std::min(value * 10 + (b.data[at] - '0'), 1LL << 40);
        ++at;
    }
    return true;
}

void IcoSize(const Bytes& b, ImageHeader& header) {
    long long count;
    if (!b.U16(4, false, count)) return;
    header.width = header.height = 0;
    for (long long i = 0; i < count; ++i) {
        size_t entry = 6 + static_cast<size_t>(i) * 16;
        long long w, h, offset, pw = 0, ph = 0;
        if (!b.U8(entry, w) || !b.U8(entry + 1, h) || !b.U32(entry + 12, false, offset)) {
            header.width = header.height = -1;
            return;
        }
        // An entry may hold a whole PNG, whose own header is what the library decodes.
        size_t png = static_cast<size_t>(offset);
        if (b.Matches(png, "\x89PNG", 4)) {
            b.U32(png + 16, true, pw);
            b.U32(png + 20, true, ph);
        }
        header.width = std::max({header.width, w == 0 ? 256 : w, pw});
        header.height = std::max({header.height, h == 0 ? 256 : h, ph});
    }
    if (count == 0) header.width = header.height = -1;
}

void WebpSize(const Bytes& b, ImageHeader& header) {
    long long w, h, bits;
    if (b.Matches(12, "VP8 ", 4) && b.U16(26, false, w) && b.U16(28, false, h)) {
        header.width = w & 0x3FFF;
        header.height = h & 0x3FFF;
    } else if (b.Matches(12, "VP8L", 4) && b.U32(21, false, bits)) {
        header.width = (bits & 0x3FFF) + 1;
        header.height = ((bits >> 14) & 0x3FFF) + 1;
    } else if (b.Matches(12, "VP8X", 4) && b.U32(24, false, w) && b.U32(27, false, h)) {
        header.width = (w & 0xFFFFFF) + 1;
        header.height = (h & 0xFFFFFF) + 1;
    }
}

// The largest 'ispe' (image spatial extent) property among the first bytes of a HEIF file.
void HeifSize(const Bytes& b, ImageHeader& header) {
    size_t end = std::min<size_t>(b.size, 1 << 20);
    for (size_t at = 4; at + 16 <= end; ++at) {
        if (std::memcmp(b.data + at, "ispe", 4) != 0) continue;
        long long w, h;
        if (b.U32(at + 8, true, w) && b.U32(at + 12, true, h)) {
            header.width = std::max(header.width, w);
            header.height = std::max(header.height, h);
        }
    }
}

void ReadSize(const Bytes& b, ImageHeader& header) {
    long long w = -1, h = -1, z = 1, headerSize = 0;
    switch (header.format) {
        case ImageFormat::kPng:
        case ImageFormat::kMng:
            b.U32(16, true, w), b.U32(20, true, h);
            break;
        case ImageFormat::kJpeg: JpegSize(b, header); return;
        case ImageFormat::kBmp:
            if (!b.U32(14, false, headerSize)) break;
            if (headerSize == 12) {
                b.U16(18, false, w), b.U16(20, false, h);
            } else if (b.I32(18, w) && b.I32(22, h)) {
                w = std::abs(w);
                h = std::abs(h);
            }
            break;
        case ImageFormat::kGif: b.U16(6, false, w), b.U16(8, false, h); break;
        case ImageFormat::kTiff: TiffSize(b, b.data[0] == 'M', header); return;
        case ImageFormat::kPsd: b.U32(18, true, w), b.U32(14, true, h); break;
        case ImageFormat::kPcx: PcxSize(b, 0, header); return;
        case ImageFormat::kDcx: {
            long long page;
            if (b.U32(4, false, page) && IsPcxHeader(b, static_cast<size_t>(page))) PcxSize(b, static_cast<size_t>(page), header);
            return;
        }
        case ImageFormat::kDds: {
            long long flags, volume;
            b.U32(12, false, h), b.U32(16, false, w);
            if (b.U32(8, false, flags) && (flags & 0x800000) && b.U32(24, false, volume)) z = std::max(volume, 1LL);
            break;
        }
        case ImageFormat::kIco: IcoSize(b, header); return;
        case ImageFormat::kIlbm:
            if (b.Matches(12, "BMHD", 4)) b.U16(20, true, w), b.U16(22, true, h);
            break;
        case ImageFormat::kPic: b.U16(88, true, w), b.U16(90, true, h); break;
        case ImageFormat::kPnm: {
            size_t at = 2;
            if (!PnmNumber(b, at, w) || !PnmNumber(b, at, h)) w = h = -1;
            break;
        }
        case ImageFormat::kSgi: b.U16(6, true, w), b.U16(8, true, h); break;
        case ImageFormat::kLif: b.U32(16, false, w), b.U32(20, false, h); break;
        case ImageFormat::kPcd: w = 768, h = 512; break;
        case ImageFormat::kWal: b.U32(32, false, w), b.U32(36, false, h); break;
        case ImageFormat::kCut: b.U16(0, false, w), b.U16(2, false, h); break;
        case ImageFormat::kTga: b.U16(12, false, w), b.U16(14, false, h); break;
        case ImageFormat::kRaw: {
            long long d;
            b.U32(0, false, w), b.U32(4, false, h);
            if (b.U32(8, false, d)) z = std::max(d, 1LL);
            break;
        }
        case ImageFormat::kWebp: WebpSize(b, header); return;
        case ImageFormat::kHeif: HeifSize(b, header); return;
        default: return;
    }
    header.width = w;
    header.height = h;
    header.depth = z;
}

long long CeilDiv(long long a, long long b) { return (a + b - 1) / b; }

// PackBits rows of a Photoshop file: the colour-mode, resources and layer sections are skipped
// by their lengths to reach the compression field. -1 when that lies beyond the bytes given.
long long PsdMinimumBytes(const Bytes& b, long long w, long long h) {
    long long channels, depth, length, compression;
    if (!b.U16(12, true, channels) || !b.U16(22, true, depth)) return -1;
    size_t at = 26;
    for (int section = 0; section < 3; ++section) {
        if (!b.U32(at, true, length)) return -1;
        at += 4 + static_cast<size_t>(length);
    }
    if (!b.U16(at, true, compression)) return -1;
    long long rowBytes = CeilDiv(w * std::max(depth, 1LL), 8);
    if (compression == 0) return static_cast<long long>(at) + 2 + rowBytes * h * channels;
    if (compression == 1) return static_cast<long long>(at) + 2 + h * channels * (2 + 2 * CeilDiv(rowBytes, 128));
    return -1;
}

// The fewest bytes a file of this format can be for the header's picture; -1 when unknown.
long long MinimumFileBytes(const Bytes& b, const ImageHeader& header) {
    long long w = header.width, h = header.height, v1, v2;
    switch (header.format) {
        case ImageFormat::kPng: {
            // Deflate gives at most 1032 bytes for one; the rows carry a filter byte each.
            static const int kChannels[] = {1, 0, 3, 1, 2, 0, 4};
            if (!b.U8(24, v1) || !b.U8(25, v2) || v2 > 6 || kChannels[v2] == 0) return -1;
            return 33 + CeilDiv(h * (1 + CeilDiv(w * v1 * kChannels[v2], 8)), 1032);
        }
        case ImageFormat::kJpeg: {
            // A sequential Huffman scan spends at least two bits on each 8 x 8 block of the first
            // component. (Progressive scans can skip whole bands of blocks: not bounded here.)
            ImageHeader frame;
            int code = JpegSize(b, frame);
            return code == 0xC0 || code == 0xC1 ? CeilDiv(CeilDiv(w, 8) * CeilDiv(h, 8), 4) : -1;
        }
        case ImageFormat::kBmp: {
            long long headerSize, bits, compression = 0;
            if (!b.U32(14, false, headerSize) || !b.U16(headerSize == 12 ? 24 : 28, false, bits)) return -1;
            if (headerSize != 12 && !b.U32(30, false, compression)) return -1;
            if (compression != 0 && compression != 3) return -1;  // run lengths may end a picture early
            return 14 + headerSize + CeilDiv(w * bits, 32) * 4 * h;
        }
        case ImageFormat::kGif:
            // Twelve-bit LZW codes, each at most 4096 pixels: no more than 2731 pixels a byte.
            return 13 + CeilDiv(w * h, 2731);
        case ImageFormat::kPsd: return PsdMinimumBytes(b, w, h);
        case ImageFormat::kPcx: {
            // Runs of at most 63 bytes cost two bytes each.
            long long encoding, bits, planes, bytesPerLine;
            if (!b.U8(2, encoding) || !b.U8(3, bits) || !b.U8(65, planes) || !b.U16(66, false, bytesPerLine)) return -1;
            long long lineBytes = std::max(bytesPerLine, CeilDiv(w * bits, 8)) * std::max(planes, 1LL);
            return 128 + (encoding == 0 ? lineBytes * h : 2 * CeilDiv(lineBytes * h, 63));
        }
        case ImageFormat::kTga: {
            long long idLength, mapType, imageType, bits;
            if (!b.U8(0, idLength) || !b.U8(1, mapType) || !b.U8(2, imageType) || !b.U8(16, bits)) return -1;
            long long pixelBytes = CeilDiv(bits, 8);
            if (imageType >= 9 && imageType <= 11) return 18 + idLength + CeilDiv(w * h, 128) * (1 + pixelBytes);
            return -1;  // uncompressed: checked to the byte by the decoder
        }
        case ImageFormat::kSgi: {
            long long storage, channels, perChannel;
            if (!b.U8(2, storage) || !b.U8(3, perChannel) || !b.U16(10, true, channels)) return -1;
            channels = std::max(channels, 1LL);
            if (storage == 0) return 512 + w * h * channels * std::max(perChannel, 1LL);
            return 512 + h * channels * 8 + h * channels * 2 * CeilDiv(w, 127);
        }
        default: return -1;
    }
}

}  // namespace

int CheckEncodedSize(const unsigned char* data, size_t size, long long fileSize, const ImageHeader& header,
                     std::string& reason) {
    if (header.width <= 0 || header.height <= 0) return 0;
    long long needed = MinimumFileBytes(Bytes(data, size), header);
    if (needed < 0 || fileSize >= needed) return 0;
    reason = std::string("the ") + ImageFormatName(header.format) + " header claims " + std::to_string(header.width) +
             " x " + std::to_string(header.height) + " pixels, which take at least " + std::to_string(needed) +
             " bytes; the file holds " + std::to_string(fileSize);
    return -1;
}

const char* ImageFormatName(ImageFormat format) {
    switch (format) {
        case ImageFormat::kPng: return "PNG";
        case ImageFormat::kMng: return "MNG";
        case ImageFormat::kJpeg: return "JPEG";
        case ImageFormat::kBmp: return "BMP";
        case ImageFormat::kGif: return "GIF";
        case ImageFormat::kTiff: return "TIFF";
        case ImageFormat::kPsd: return "PSD";
        case ImageFormat::kPcx: return "PCX";
        case ImageFormat::kDcx: return "DCX";
        case ImageFormat::kDds: return "DDS";
        case ImageFormat::kIco: return "ICO";
        case ImageFormat::kIlbm: return "ILBM";
        case ImageFormat::kPic: return "PIC";
        case ImageFormat::kPnm: return "PNM";
        case ImageFormat::kSgi: return "SGI";
        case ImageFormat::kPsp: return "PSP";
        case ImageFormat::kLif: return "LIF";
        case ImageFormat::kPcd: return "PCD";
        case ImageFormat::kMdl: return "MDL";
        case ImageFormat::kWal: return "WAL";
        case ImageFormat::kCut: return "CUT";
        case ImageFormat::kTga: return "TGA";
        case ImageFormat::kRaw: return "raw";
        case ImageFormat::kWebp: return "WebP";
        case ImageFormat::kHeif: return "HEIF";
        case ImageFormat::kPalette: return "palette";
        case ImageFormat::kUnknown: break;
    }
    return "unknown";
}

ImageFormat IdentifyImageFormat(const unsigned char* data, size_t size, const std::string& nameHint) {
    Bytes b(data, size);
    long long value;
    if (b.Matches(0, "\x89PNG\r\n\x1a\n", 8)) return ImageFormat::kPng;
    if (b.Matches(0, "\x8aMNG\r\n\x1a\n", 8)) return ImageFormat::kMng;
    if (b.Matches(0, "\xff\xd8\xff", 3)) return ImageFormat::kJpeg;
    if (b.Matches(0, "BM", 2) && b.Has(0, 26)) return ImageFormat::kBmp;
    if (b.Matches(0, "GIF87a", 6) || b.Matches(0, "GIF89a", 6)) return ImageFormat::kGif;
    if (b.Matches(0, "II*\0", 4) || b.Matches(0, "MM\0*", 4)) return ImageFormat::kTiff;
    if (b.Matches(0, "8BPS", 4)) return ImageFormat::kPsd;
    if (b.Matches(0, "DDS ", 4)) return ImageFormat::kDds;
    if (b.Matches(0, "\xb1\x68\xde\x3a", 4)) return ImageFormat::kDcx;
    if (b.Matches(0, "FORM", 4) && (b.Matches(8, "ILBM", 4) || b.Matches(8, "PBM ", 4))) return ImageFormat::kIlbm;
    if (b.Matches(0, "\x53\x80\xf6\x34", 4)) return ImageFormat::kPic;
    if (b.Matches(0, "\x01\xda", 2)) return ImageFormat::kSgi;
    if (b.Matches(0, "Paint Shop Pro Image File", 25)) return ImageFormat::kPsp;
    if (b.Matches(0, "Willy 7", 7)) return ImageFormat::kLif;
    if (b.Matches(0, "IDST", 4)) return ImageFormat::kMdl;
    if (b.Matches(0x800, "PCD_IPI", 7)) return ImageFormat::kPcd;
    if (b.Matches(0, "RIFF", 4) && b.Matches(8, "WEBP", 4)) return ImageFormat::kWebp;
    if (IsHeifBrand(b)) return ImageFormat::kHeif;
    if (b.Matches(0, "JASC-PAL", 8)) return ImageFormat::kPalette;
    if (b.Matches(0, "P", 1) && b.U8(1, value) && value >= '1' && value <= '6' && b.U8(2, value) && std::isspace(value)) {
        return ImageFormat::kPnm;
    }
    if (IsPcxHeader(b, 0)) return ImageFormat::kPcx;
    if ((b.Matches(0, "\0\0\1\0", 4) || b.Matches(0, "\0\0\2\0", 4)) && b.U16(4, false, value) && value > 0) {
        return ImageFormat::kIco;
    }
    // Formats without a signature: the name is all there is to go by.
    std::string extension = LowerExtension(nameHint);
    if (extension == "tga" || extension == "vda" || extension == "icb" || extension == "vst") return ImageFormat::kTga;
    if (extension == "cut") return ImageFormat::kCut;
    if (extension == "wal") return ImageFormat::kWal;
    if (extension == "raw") return ImageFormat::kRaw;
    if (extension == "act" || extension == "pal") return ImageFormat::kPalette;
    if (IsTgaHeader(b)) return ImageFormat::kTga;
    return ImageFormat::kUnknown;
}

int CheckImageSize(const char* what, long long width, long long height, long long depth, std::string& reason) {
    std::string claim = std::string(what) + " claims " + std::to_string(width) + " x " + std::to_string(height);
    if (depth > 1) claim += " x " + std::to_string(depth);
    if (width <= 0 || height <= 0 || depth <= 0) {
        reason = claim + " pixels, an empty picture";
        return -1;
    }
    bool tooLarge = width > kMaxImageSide || height > kMaxImageSide || depth > kMaxImagePixels ||
                    width * height > kMaxImagePixels / depth;
    if (tooLarge) {
        reason = claim + " pixels, more than this program reads";
        return -1;
    }
    return 0;
}

int InspectImageHeader(const unsigned char* data, size_t size, const std::string& nameHint,
                       ImageHeader& header, std::string& reason) {
    header = ImageHeader();
    if (size == 0) {
        reason = "the file is empty";
        return -1;
    }
    header.format = IdentifyImageFormat(data, size, nameHint);
    if (header.format == ImageFormat::kUnknown) {
        reason = "its first bytes match no image format this program reads";
        return -1;
    }
    if (header.format == ImageFormat::kPalette) {
        reason = "it holds a colour palette, not a picture";
        return -1;
    }
    ReadSize(Bytes(data, size), header);
    if (header.width < 0 || header.height < 0) {
        header.width = header.height = -1;
        return 0;
    }
    return CheckImageSize((std::string("the ") + ImageFormatName(header.format) + " header").c_str(), header.width,
                          header.height, header.depth, reason);
}

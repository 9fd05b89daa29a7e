#include "image/format_sniff.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/bomb_files.h"

namespace {

// Little helpers that lay out header fields the way each format stores them.
std::string Le16(unsigned v) { return {char(v & 0xFF), char(v >> 8 & 0xFF)}; }
std::string Be16(unsigned v) { return {char(v >> 8 & 0xFF), char(v & 0xFF)}; }
std::string Le32(unsigned long v) { return Le16(v & 0xFFFF) + Le16(v >> 16 & 0xFFFF); }
std::string Be32(unsigned long v) { return Be16(v >> 16 & 0xFFFF) + Be16(v & 0xFFFF); }
std::string Zeros(size_t n) { return std::string(n, '\0'); }

std::string Png(unsigned long w, unsigned long h) {
    return std::string("\x89PNG\r\n\x1a\n", 8) + Be32(13) + "IHDR" + Be32(w) + Be32(h) + "\x08\x06" + Zeros(7);
}
std::string Jpeg(unsigned w, unsigned h) {
    // SOI, an APP0 segment to skip, then a baseline start-of-frame.
    return std::string("\xff\xd8\xff\xe0", 4) + Be16(16) + "JFIF" + Zeros(10) + "\xff\xc0" + Be16(17) + "\x08" +
           Be16(h) + Be16(w) + "\x03" + Zeros(9);
}
std::string Bmp(long w, long h) {
    return "BM" + Zeros(12) + Le32(40) + Le32(static_cast<unsigned long>(w)) + Le32(static_cast<unsigned long>(h)) +
           Le16(1) + Le16(1) + Zeros(24);
}
std::string Tga(unsigned w, unsigned h, unsigned bits) {
    return std::string("\0\0\x02", 3) + Zeros(9) + Le16(w) + Le16(h) + char(bits) + '\0';
}
std::string Tiff(unsigned long w, unsigned long h) {
    return std::string("II*\0", 4) + Le32(8) + Le16(2) + Le16(256) + Le16(4) + Le32(1) + Le32(w) + Le16(257) +
           Le16(3) + Le32(1) + Le16(h) + Le16(0) + Le32(0);
}
std::string Pcx(unsigned x0, unsigned y0, unsigned x1, unsigned y1) {
    return std::string("\x0a\x05\x01\x08", 4) + Le16(x0) + Le16(y0) + Le16(x1) + Le16(y1) + Zeros(116);
}

struct Case {
    const char* label;
    std::string bytes;
    std::string name;
    ImageFormat format;
    long long width, height;
};

}  // namespace

TEST(FormatSniff, NamesTheFormatAndTheHeaderSizeFromTheBytes) {
    const Case cases[] = {
        {"png", Png(319, 239), "a.png", ImageFormat::kPng, 319, 239},
        {"png named .jpg", Png(319, 239), "a.jpg", ImageFormat::kPng, 319, 239},
        {"jpeg past APP0", Jpeg(319, 239), "a.jpg", ImageFormat::kJpeg, 319, 239},
        {"bmp top-down", Bmp(319, -239), "a.bmp", ImageFormat::kBmp, 319, 239},
        {"gif", "GIF89a" + Le16(319) + Le16(239) + Zeros(8), "a.gif", ImageFormat::kGif, 319, 239},
        {"tiff ifd", Tiff(319, 239), "a.tif", ImageFormat::kTiff, 319, 239},
        {"psd", "8BPS" + Be16(1) + Zeros(6) + Be16(3) + Be32(239) + Be32(319) + Zeros(4), "a.psd", ImageFormat::kPsd,
         319, 239},
        {"pcx inclusive window", Pcx(1, 2, 319, 240), "a.pcx", ImageFormat::kPcx, 319, 239},
        {"sgi", "\x01\xda" + Zeros(4) + Be16(319) + Be16(239) + Be16(3), "a.sgi", ImageFormat::kSgi, 319, 239},
        {"pnm with comment", "P6\n# made here\n319 239\n255\n", "a.pnm", ImageFormat::kPnm, 319, 239},
        {"dds", "DDS " + Le32(124) + Le32(7) + Le32(239) + Le32(319) + Zeros(8), "a.dds", ImageFormat::kDds, 319, 239},
        {"tga by extension", Tga(319, 239, 24), "a.tga", ImageFormat::kTga, 319, 239},
        {"tga by its header alone", Tga(319, 239, 16), "a.png", ImageFormat::kTga, 319, 239},
        {"wal by extension", Zeros(32) + Le32(319) + Le32(239), "a.wal", ImageFormat::kWal, 319, 239},
        {"webp lossless", "RIFF" + Le32(30) + "WEBPVP8L" + Le32(10) + "\x2f" + Le32(318 | 238UL << 14), "a.webp",
         ImageFormat::kWebp, 319, 239},
        {"ico entry holding a png", std::string("\0\0\1\0", 4) + Le16(1) + "\x10\x10" + Zeros(10) + Le32(22) +
                                        Png(319, 239), "a.ico", ImageFormat::kIco, 319, 239},
        {"jpeg cut before its frame", std::string("\xff\xd8\xff\xe0", 4) + Be16(16), "a.jpg", ImageFormat::kJpeg, -1, -1},
    };
    for (const Case& c : cases) {
        ImageHeader header;
        std::string reason;
        const auto* data = reinterpret_cast<const unsigned char*>(c.bytes.data());
        ASSERT_EQ(InspectImageHeader(data, c.bytes.size(), c.name, header, reason), 0) << c.label << ": " << reason;
        EXPECT_EQ(header.format, c.format) << c.label;
        EXPECT_EQ(header.width, c.width) << c.label;
        EXPECT_EQ(header.height, c.height) << c.label;
    }
}

TEST(FormatSniff, RefusesWithAReasonThatNamesTheProblem) {
    struct Refusal { const char* label; std::string bytes; std::string name; std::string reason; } cases[] = {
        {"empty mng", "", "a.mng", "the file is empty"},
        {"text named .png", "this is not a picture", "a.png", "its first bytes match no image format this program reads"},
        {"palette", std::string(768, '\x10'), "colours.act", "it holds a colour palette, not a picture"},
        {"png beyond the pixel cap", Png(100000, 100000), "a.png",
         "the PNG header claims 100000 x 100000 pixels, more than this program reads"},
        {"png wrapping 32-bit byte counts", Png(0x8000, 0x8000), "a.png",
         "the PNG header claims 32768 x 32768 pixels, more than this program reads"},
        {"png side over 65535", Png(65536, 1), "a.png",
         "the PNG header claims 65536 x 1 pixels, more than this program reads"},
        {"1-bit bmp with a huge width", Bmp(0x7FFFFFFF, 1), "a.bmp",
         "the BMP header claims 2147483647 x 1 pixels, more than this program reads"},
        {"16-bit tga within sides, over the cap", Tga(65535, 65535, 16), "a.tga",
         "the TGA header claims 65535 x 65535 pixels, more than this program reads"},
        {"pcx inverted window", Pcx(10, 0, 0, 10), "a.pcx",
         "the PCX header claims 4294967287 x 11 pixels, more than this program reads"},
        {"zero-width tiff", Tiff(0, 5), "a.tif", "the TIFF header claims 0 x 5 pixels, an empty picture"},
    };
    for (const Refusal& c : cases) {
        ImageHeader header;
        std::string reason;
        const auto* data = reinterpret_cast<const unsigned char*>(c.bytes.data());
        EXPECT_EQ(InspectImageHeader(data, c.bytes.size(), c.name, header, reason), -1) << c.label;
        EXPECT_EQ(reason, c.reason) << c.label;
    }
}

TEST(FormatSniff, SizeCheckHoldsAtTheEdges) {
    std::string reason;
    EXPECT_EQ(CheckImageSize("x", kMaxImageSide, kMaxImagePixels / kMaxImageSide, 1, reason), 0);
    EXPECT_EQ(CheckImageSize("x", 16384, 16384, 1, reason), 0);
    EXPECT_EQ(CheckImageSize("x", 16384, 16385, 1, reason), -1);
    EXPECT_EQ(CheckImageSize("x", 4096, 4096, 17, reason), -1);
    EXPECT_EQ(reason, "x claims 4096 x 4096 x 17 pixels, more than this program reads");
}

// A few bytes claiming a huge picture are refused; the same header in a file as large as the
// format's best compression needs is let through.
TEST(FormatSniff, EncodedSizeMustBeAbleToHoldThePicture) {
    std::string pcx = Pcx(0, 0, 9727, 26911);
    pcx[65] = 1;  // one plane
    pcx[66] = '\x00', pcx[67] = '\x26';  // 9728 bytes a line
    std::string jpeg420 = Jpeg(319, 239);
    jpeg420[31] = 0x22, jpeg420[34] = 0x11, jpeg420[37] = 0x11;  // sampling factors of Y, Cb, Cr
    std::string rle8 = Bmp(319, 239);
    rle8[28] = 8, rle8[30] = 1;  // 8 bits a pixel, run-length coded
    struct Case { const char* label; std::string bytes; long long fits; std::string reason; } cases[] = {
        {"run-length pcx", pcx, 128 + 2 * ((9728LL * 26912 + 62) / 63),
         "the PCX header claims 9728 x 26912 pixels, which take at least 8311238 bytes; the file holds 128"},
        {"deflated png", Png(16384, 16384), 33 + (16384LL * (1 + 16384 * 4) + 1031) / 1032,
         "the PNG header claims 16384 x 16384 pixels, which take at least 1040464 bytes of pixel data; the file holds 0"},
        {"plain bmp", Bmp(319, 239), 14 + 40 + 40 * 239,
         "the BMP header claims 319 x 239 pixels, which take at least 9614 bytes; the file holds 54"},
        {"gif", "GIF89a" + Le16(30000) + Le16(8000) + Zeros(8), 13 + (30000LL * 8000 + 2730) / 2731,
         "the GIF header claims 30000 x 8000 pixels, which take at least 87893 bytes; the file holds 18"},
        // Two bytes per run of up to 255 pixels after the 54 header bytes.
        {"rle8 bmp", rle8, 54 + 2 * ((319LL * 239 + 254) / 255),
         "the BMP header claims 319 x 239 pixels, which take at least 652 bytes; the file holds 54"},
        // A bit per 8 x 8 block of each of three components, after the 39 bytes up to the frame.
        {"baseline jpeg", Jpeg(319, 239), 39 + 3 * 40 * 30 / 8,
         "the JPEG header claims 319 x 239 pixels, which take at least 489 bytes; the file holds 39"},
        // Chroma sampled at half the luma's rate both ways: 1200 luma blocks and 300 of each chroma.
        {"4:2:0 jpeg", jpeg420, 39 + (1200 + 2 * 300) / 8,
         "the JPEG header claims 319 x 239 pixels, which take at least 264 bytes; the file holds 39"},
        {"ascii pbm", "P1 319 239 ", 11 + 319 * 239, "the PNM header claims 319 x 239 pixels, which take at least 76252 bytes; the file holds 11"},
        {"ascii ppm", "P3 319 239 255 ", 15 + 2 * 3 * 319 * 239 - 1,
         "the PNM header claims 319 x 239 pixels, which take at least 457460 bytes; the file holds 15"},
        // Cut short before its channel count: the header alone takes 512 bytes.
        {"sgi without channels", std::string("\x01\xda\x00\x26\x04\x79\x00\x42\x47\x49\x4d", 11), 512,
         "the SGI header claims 66 x 18249 pixels, which take at least 512 bytes; the file holds 11"},
        {"uncompressed tga", Tga(319, 239, 24), 18 + 3 * 319 * 239,
         "the TGA header claims 319 x 239 pixels, which take at least 228741 bytes; the file holds 18"},
    };
    for (const Case& c : cases) {
        ImageHeader header;
        std::string reason;
        const auto* data = reinterpret_cast<const unsigned char*>(c.bytes.data());
        ASSERT_EQ(InspectImageHeader(data, c.bytes.size(), "x", header, reason), 0) << c.label << ": " << reason;
        EXPECT_EQ(CheckEncodedSize(data, c.bytes.size(), static_cast<long long>(c.bytes.size()), header, reason), -1)
            << c.label;
        EXPECT_EQ(reason, c.reason) << c.label;
        EXPECT_EQ(CheckEncodedSize(data, c.bytes.size(), c.fits - 1, header, reason), -1) << c.label;
        EXPECT_EQ(CheckEncodedSize(data, c.bytes.size(), c.fits, header, reason), 0) << c.label;
    }
}

namespace {

std::string Box(const std::string& type, const std::string& body) { return Be32(8 + body.size()) + type + body; }
std::string FullBox(const std::string& type, int version, const std::string& body) {
    return Box(type, std::string(1, char(version)) + Zeros(3) + body);
}
std::string Ispe(unsigned long w, unsigned long h) { return FullBox("ispe", 0, Be32(w) + Be32(h)); }

// A HEIF file whose primary item is `primary`; item 1 is a thumbnail of 160 x 120, item 2 the
// picture of 319 x 239. `ipmaVersion` and `wideIndices` choose the association layout, and
// `extra` goes after the meta box (EXIF or XMP text lives in such places).
std::string Heif(const std::string& brands, unsigned primary, int pitmVersion, int ipmaVersion, bool wideIndices,
                 const std::string& extra) {
    std::string pitm = FullBox("pitm", pitmVersion, pitmVersion == 0 ? Be16(primary) : Be32(primary));
    std::string ipco = Box("ipco", Ispe(160, 120) + Box("colr", "nclx" + Zeros(7)) + Ispe(319, 239));
    auto item = [&](unsigned id) { return ipmaVersion == 0 ? Be16(id) : Be32(id); };
    auto index = [&](unsigned i, bool essential) {
        return wideIndices ? Be16(i | (essential ? 0x8000 : 0)) : std::string(1, char(i | (essential ? 0x80 : 0)));
    };
    std::string ipma = Box("ipma", std::string(1, char(ipmaVersion)) + Zeros(2) + char(wideIndices ? 1 : 0) + Be32(2) +
                                       item(1) + "\x02" + index(1, false) + index(2, true) + item(2) + "\x02" +
                                       index(2, true) + index(3, false));
    std::string meta = FullBox("meta", 0, FullBox("hdlr", 0, Zeros(4) + "pict" + Zeros(13)) + pitm +
                                              Box("iprp", ipco + ipma));
    return Box("ftyp", brands) + meta + extra + Box("mdat", Zeros(16));
}

}  // namespace

// The primary item's own 'ispe', found through the box tree: never a thumbnail's, never bytes
// inside metadata that merely spell a size box.
TEST(FormatSniff, HeifSizeIsThePrimaryItemsSpatialExtent) {
    std::string fakeIspe = Be32(20) + "ispe" + Zeros(4) + Be32(544499813) + Be32(544433505);
    struct HeifCase { const char* label; std::string bytes; long long width, height; } cases[] = {
        {"heic, short indices", Heif("heic" + Zeros(4) + "mif1heic", 2, 0, 0, false, ""), 319, 239},
        {"avif named only among compatible brands", Heif("mif1" + Zeros(4) + "mif1avif", 2, 1, 1, true, ""), 319, 239},
        {"thumbnail as the primary item", Heif("heic" + Zeros(4), 1, 0, 0, false, ""), 160, 120},
        {"fake ispe in a box of text after meta", Heif("heic" + Zeros(4), 2, 0, 0, false, Box("free", "Exif" + fakeIspe)), 319,
         239},
        {"fake ispe only, no meta", Box("ftyp", "avif" + Zeros(4)) + Box("free", fakeIspe) + Box("mdat", Zeros(8)), -1, -1},
        {"primary item without a size", Heif("heic" + Zeros(4), 3, 0, 0, false, ""), -1, -1},
    };
    for (const HeifCase& c : cases) {
        ImageHeader header;
        std::string reason;
        const auto* data = reinterpret_cast<const unsigned char*>(c.bytes.data());
        ASSERT_EQ(InspectImageHeader(data, c.bytes.size(), "x.heic", header, reason), 0) << c.label << ": " << reason;
        EXPECT_EQ(header.format, ImageFormat::kHeif) << c.label;
        EXPECT_EQ(header.width, c.width) << c.label;
        EXPECT_EQ(header.height, c.height) << c.label;
    }
}

// Readers that agree with the decoders: libjpeg passes over bytes before a marker and repeated
// 0xFF fill bytes, and libtiff reads BigTIFF.
TEST(FormatSniff, HeadersAreFoundWhereTheDecodersFindThem) {
    std::string jpeg = Jpeg(319, 239);
    std::string filled = jpeg.substr(0, 22) + "\x00\x12\xff\x00\xff\xff\xff" + jpeg.substr(22);  // before the frame
    std::string bigTiff = std::string("II+\0", 4) + Le16(8) + Le16(0) + Le32(16) + Le32(0) + Le32(2) + Le32(0) +
                          Le16(256) + Le16(4) + Le32(1) + Le32(0) + Le32(319) + Le32(0) + Le16(257) + Le16(16) +
                          Le32(1) + Le32(0) + Le32(239) + Le32(0);
    struct Found { const char* label; std::string bytes; ImageFormat format; long long width, height; } cases[] = {
        {"jpeg past garbage, a stuffed zero and fill bytes", filled, ImageFormat::kJpeg, 319, 239},
        {"big-endian BigTIFF signature", std::string("MM\0+", 4) + Zeros(12), ImageFormat::kTiff, -1, -1},
        {"little-endian BigTIFF", bigTiff, ImageFormat::kTiff, 319, 239},
    };
    for (const Found& c : cases) {
        ImageHeader header;
        std::string reason;
        const auto* data = reinterpret_cast<const unsigned char*>(c.bytes.data());
        ASSERT_EQ(InspectImageHeader(data, c.bytes.size(), "x", header, reason), 0) << c.label << ": " << reason;
        EXPECT_EQ(header.format, c.format) << c.label;
        EXPECT_EQ(header.width, c.width) << c.label;
        EXPECT_EQ(header.height, c.height) << c.label;
    }
}

// Each tiny file claiming a huge picture is refused by its format's bound, the reason naming
// the claim, the bytes it needs and the bytes it has.
TEST(FormatSniff, TinyFilesClaimingHugePicturesAreRefused) {
    for (const BombFile& bomb : MakeBombFiles()) {
        ImageHeader header;
        std::string reason;
        const auto* data = reinterpret_cast<const unsigned char*>(bomb.bytes.data());
        ASSERT_EQ(InspectImageHeader(data, bomb.bytes.size(), bomb.name, header, reason), 0) << bomb.label << ": " << reason;
        EXPECT_EQ(header.width, 16384) << bomb.label;
        long long size = static_cast<long long>(bomb.bytes.size());
        ASSERT_EQ(CheckEncodedSize(data, bomb.bytes.size(), size, header, reason), -1) << bomb.label;
        EXPECT_EQ(reason.rfind(bomb.reason, 0), 0u) << bomb.label << ": " << reason;
        if (header.format != ImageFormat::kWebp) {
            EXPECT_NE(reason.find("; the file holds " + std::to_string(size)), std::string::npos) << reason;
        }
    }
}

// The animation rule (WebP and GIF): the canvas may be at most four times the pixels its first
// frame's data covers; later frames are never shown. Frames past the bytes read are not known to
// be missing until those bytes are the whole file.
TEST(FormatSniff, AnAnimatedCanvasIsBoundedByItsFrames) {
    // Frames of `side` x `side` pixels; a negative side: a frame that only claims its size.
    auto animation = [](unsigned canvas, std::vector<int> frames) {
        std::string chunks;
        for (int claimed : frames) {
            unsigned side = static_cast<unsigned>(std::abs(claimed));
            std::string bitstream = claimed > 0 ? "VP8L" + Le32(8) + "\x2f" + Zeros(7) : "VP8L" + Le32(5) + "\x2f" + Zeros(5);
            std::string frame = Zeros(6) + Le16(side - 1) + '\0' + Le16(side - 1) + '\0' + Zeros(4) + bitstream;
            chunks += "ANMF" + Le32(frame.size()) + frame;
        }
        std::string body = "WEBPVP8X" + Le32(10) + std::string("\x02\0\0\0", 4) + Le16(canvas - 1) + '\0' +
                           Le16(canvas - 1) + '\0' + chunks;
        return "RIFF" + Le32(body.size()) + body;
    };
    // A frame of `frame` x `frame` pixels whose codes take `codes` bytes.
    auto gif = [](unsigned screen, unsigned frame, size_t codes) {
        std::string blocks;
        for (size_t left = codes; left > 0; left -= std::min<size_t>(left, 255)) {
            blocks += char(std::min<size_t>(left, 255)) + std::string(std::min<size_t>(left, 255), '\x4c');
        }
        return "GIF89a" + Le16(screen) + Le16(screen) + Zeros(3) + "\x2c" + Zeros(4) + Le16(frame) + Le16(frame) +
               std::string("\0\x02", 2) + blocks + std::string("\0\x3b", 2);
    };
    struct Canvas { const char* label; std::string bytes; long long fileSize; int status; } cases[] = {
        {"gif frame of a quarter of the screen", gif(2000, 1000, 400), 5000, 0},
        {"gif frame just short of a quarter", gif(2000, 999, 400), 5000, -1},
        // 366 bytes of LZW codes give 999546 pixels at best.
        {"gif frame with too few codes for a quarter", gif(2000, 1000, 366), 5000, -1},
        {"gif screen with a frame beyond the bytes read", gif(2000, 1000, 366).substr(0, 200), 5000, 0},
        {"one frame of a quarter of the canvas", animation(2000, {1000}), 0, 0},
        {"later frames count for nothing", animation(2000, {500, 1000, 1000, 1000}), 0, -1},
        {"a first frame that only claims its size", animation(2000, {-2000, 1000}), 0, -1},
        {"one frame just short of a quarter", animation(2000, {999}), 0, -1},
        {"frames beyond the bytes read", animation(2000, {999}).substr(0, 40), 1 << 20, 0},
        {"frames beyond the whole file", animation(2000, {999}).substr(0, 40), 40, -1},
    };
    for (const Canvas& c : cases) {
        ImageHeader header;
        std::string reason;
        const auto* data = reinterpret_cast<const unsigned char*>(c.bytes.data());
        ASSERT_EQ(InspectImageHeader(data, c.bytes.size(), "x", header, reason), 0) << c.label << ": " << reason;
        long long fileSize = c.fileSize > 0 ? c.fileSize : static_cast<long long>(c.bytes.size());
        EXPECT_EQ(CheckEncodedSize(data, c.bytes.size(), fileSize, header, reason), c.status) << c.label << ": " << reason;
    }
}

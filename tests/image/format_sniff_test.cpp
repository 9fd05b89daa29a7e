#include "image/format_sniff.h"

#include <gtest/gtest.h>

#include <string>

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
    struct Case { const char* label; std::string bytes; long long fits; std::string reason; } cases[] = {
        {"run-length pcx", pcx, 128 + 2 * ((9728LL * 26912 + 62) / 63),
         "the PCX header claims 9728 x 26912 pixels, which take at least 8311238 bytes; the file holds 128"},
        {"deflated png", Png(16384, 16384), 33 + (16384LL * (1 + 16384 * 4) + 1031) / 1032,
         "the PNG header claims 16384 x 16384 pixels, which take at least 1040497 bytes; the file holds 33"},
        {"plain bmp", Bmp(319, 239), 14 + 40 + 40 * 239,
         "the BMP header claims 319 x 239 pixels, which take at least 9614 bytes; the file holds 54"},
        {"gif", "GIF89a" + Le16(30000) + Le16(8000) + Zeros(8), 13 + (30000LL * 8000 + 2730) / 2731,
         "the GIF header claims 30000 x 8000 pixels, which take at least 87893 bytes; the file holds 18"},
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

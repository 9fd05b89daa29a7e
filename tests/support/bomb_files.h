// Tiny files that claim a 16384 x 16384 picture, each a way a decoder would spend gigabytes and
// seconds on invented pixels: run-length BMPs that end at once, JPEGs with far fewer bytes than
// blocks (progressive, arithmetic-coded), an ASCII PNM with far fewer characters than pixels,
// an animated WebP with a one-pixel frame. Every reader of pictures must refuse them, naming sizes.
#pragma once

#include <string>
#include <vector>

struct BombFile {
    std::string label;
    std::string name;    // file name; its extension is the usual one
    std::string bytes;
    std::string reason;  // the start of the refusal's reason
};

namespace bomb_detail {

inline std::string Le16(unsigned v) { return {char(v & 0xFF), char(v >> 8 & 0xFF)}; }
inline std::string Le24(unsigned long v) { return Le16(v & 0xFFFF) + char(v >> 16 & 0xFF); }
inline std::string Le32(unsigned long v) { return Le16(v & 0xFFFF) + Le16(v >> 16 & 0xFFFF); }
inline std::string Be16(unsigned v) { return {char(v >> 8 & 0xFF), char(v & 0xFF)}; }

// A BMP of `headerSize` header bytes, 8-bit RLE, whose runs end the picture at once, padded to `total` bytes.
inline std::string RleBmp(unsigned long headerSize, size_t total) {
    std::string info = Le32(headerSize) + Le32(16384) + Le32(16384) + Le16(1) + Le16(8) + Le32(1);
    info.resize(headerSize, '\0');
    std::string head = "BM" + Le32(total) + Le32(0) + Le32(14 + headerSize) + info;
    std::string runs;
    while (head.size() + runs.size() + 2 < total) runs += std::string("\x01\x07", 2);  // one pixel of colour 7
    return head + runs + std::string("\0\x01", 2);                                    // end of the picture
}

// A JPEG whose frame marker `sof` claims 16384 x 16384 pixels of `components` components,
// padded with a comment to `total` bytes before a scan that ends at once.
inline std::string TinyJpeg(unsigned char sof, int components, size_t total) {
    std::string frame = std::string("\xff", 1) + char(sof) + Be16(8 + 3 * components) + "\x08" + Be16(16384) + Be16(16384) +
                        char(components);
    for (int i = 0; i < components; ++i) frame += std::string{char(i + 1), '\x11', '\0'};
    std::string table = std::string("\xff\xdb", 2) + Be16(67) + std::string(1, '\0') + std::string(64, '\x01');
    std::string scan = std::string("\xff\xda", 2) + Be16(6 + 2 * components) + char(components);
    for (int i = 0; i < components; ++i) scan += std::string{char(i + 1), '\0'};
    scan += std::string("\0\x3f\0", 3);
    std::string end = std::string("\0\0\xff\xd9", 4);
    size_t used = 2 + table.size() + frame.size() + scan.size() + end.size() + 4;
    std::string comment = std::string("\xff\xfe", 2) + Be16(static_cast<unsigned>(total - used + 2)) + std::string(total - used, 'c');
    return std::string("\xff\xd8", 2) + table + frame + comment + scan + end;
}

}  // namespace bomb_detail

inline std::vector<BombFile> MakeBombFiles() {
    using namespace bomb_detail;
    const std::string claim = " header claims 16384 x 16384 pixels, which take at least ";
    // RIFF, the extended header (animation flag, 16384 x 16384 canvas), the animation's loop
    // and colour, and one frame of 1 x 1 pixels holding a lossless bitstream.
    std::string frame = "ANMF" + Le32(40) + Le24(0) + Le24(0) + Le24(0) + Le24(0) + Le24(100) + '\0' + "VP8L" + Le32(16) +
                        "\x2f" + std::string(15, '\0');
    std::string body = "WEBPVP8X" + Le32(10) + std::string("\x02\0\0\0", 4) + Le24(16383) + Le24(16383) + "ANIM" + Le32(6) +
                       Le32(0) + Le16(0) + frame;
    return {
        {"60-byte RLE8 BMP", "rle8.bmp", RleBmp(40, 60), "the BMP" + claim},
        {"144-byte RLE V5 BMP", "rle-v5.bmp", RleBmp(124, 144), "the BMP" + claim},
        {"523-byte progressive JPEG", "progressive.jpg", TinyJpeg(0xC2, 3, 523), "the JPEG" + claim},
        {"286-byte arithmetic-coded JPEG", "arithmetic.jpg", TinyJpeg(0xC9, 1, 286), "the JPEG" + claim},
        {"18-byte P1 PNM", "ascii.pnm", "P1\n16384 16384\n01\n", "the PNM" + claim},
        {"92-byte animated WebP", "animated.webp", "RIFF" + Le32(body.size()) + body,
         "the WebP header claims 16384 x 16384 pixels, but its data covers only 1 of them"},
    };
}

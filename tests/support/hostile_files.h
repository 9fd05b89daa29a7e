// Hostile picture files made on the spot: sizes that wrap 32-bit byte counts or pass every
// limit, a file cut short, junk under every extension the window's chooser offers, an empty
// file and a FIFO. Each must be refused with its reason by every reader of pictures.
#pragma once

#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

struct HostileFile {
    std::string label;
    std::string path;
    std::string reason;  // the reason a refusal gives, or a part of it
};

namespace hostile_detail {

inline std::string Le16(unsigned v) { return {char(v & 0xFF), char(v >> 8 & 0xFF)}; }
inline std::string Le32(unsigned long v) { return Le16(v & 0xFFFF) + Le16(v >> 16 & 0xFFFF); }
inline std::string Be32(unsigned long v) {
    return {char(v >> 24 & 0xFF), char(v >> 16 & 0xFF), char(v >> 8 & 0xFF), char(v & 0xFF)};
}

inline void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace hostile_detail

// The extensions of the window's image chooser, and GIF of the chooser for a moved picture.
inline const std::vector<std::string>& ChooserExtensions() {
    static const std::vector<std::string> kExtensions = {"bmp", "cut", "dcx", "dds", "ico", "jpg", "lbm", "lif", "mdl",
                                                         "pcd", "pcx", "pic", "png", "pnm", "psd", "psp", "raw", "sgi",
                                                         "tga", "tif", "wal", "act", "pal", "gif"};
    return kExtensions;
}

// Writes the hostile files into `folder` and lists them.
inline std::vector<HostileFile> MakeHostileFiles(const std::string& folder) {
    using namespace hostile_detail;
    std::vector<HostileFile> files;
    auto add = [&](const std::string& label, const std::string& name, const std::string& bytes, const std::string& reason) {
        files.push_back({label, folder + "/" + name, reason});
        Write(files.back().path, bytes);
    };
    // 32768 x 32768 x 4 bytes is 2^32: a 32-bit byte count wraps to zero.
    add("PNG whose byte count wraps 32 bits", "wrap.png",
        std::string("\x89PNG\r\n\x1a\n", 8) + Be32(13) + "IHDR" + Be32(32768) + Be32(32768) + "\x08\x06" +
            std::string(7, '\0') + std::string(64, '\0'),
        "the PNG header claims 32768 x 32768 pixels, more than this program reads");
    // A 16-bit true-colour TGA of 319 x 239 pixels with only 1000 of its 152482 pixel bytes.
    add("16-bit TGA cut short", "short16.tga",
        std::string("\0\0\x02", 3) + std::string(9, '\0') + Le16(319) + Le16(239) + "\x10\x20" + std::string(1000, '\x5a'),
        "the TGA header claims 319 x 239 pixels, which take at least 152500 bytes; the file holds 1018");
    add("1-bit BMP claiming a huge width", "wide1.bmp",
        "BM" + Le32(70) + Le32(0) + Le32(62) + Le32(40) + Le32(3000000) + Le32(2) + Le16(1) + Le16(1) + Le32(0) +
            Le32(8) + std::string(16, '\0') + Le32(0) + Le32(0xFFFFFF) + std::string(8, '\xff'),
        "the BMP header claims 3000000 x 2 pixels, more than this program reads");
    // Red, green and blue in one packet and no alpha: the image library overruns its buffer on it.
    add("PIC without alpha", "rgb.pic",
        std::string("\x53\x80\xf6\x34", 4) + std::string(84, '\0') + "PICT" + Be32(0x00250017) +
            std::string("\x3f\x80\0\0\0\x03\0\0\0\x08\0\xe0", 12) + std::string(37 * 23 * 3, '\x40'),
        "this program reads PIC files with an alpha channel only");
    // A side the image library takes for a negative number, with data enough for the rows it claims.
    add("PIC taller than 32767 rows", "tall.pic",
        std::string("\x53\x80\xf6\x34", 4) + std::string(84, '\0') + "PICT" + Be32(0x00079c40) +
            std::string("\x3f\x80\0\0\0\x03\0\0\0\x08\x02\xf0", 12) + std::string(80008, '\0'),
        "the PIC header claims 7 x 40000 pixels; this program reads PIC sides up to 32767");
    add("empty MNG", "empty.mng", "", "the file is empty");
    std::string junk;
    while (junk.size() < 3000) junk += "These bytes are no picture at all, only a sentence said again and again. ";
    for (const std::string& extension : ChooserExtensions()) {
        add("junk named ." + extension, "junk." + extension, junk, "");
    }
    files.push_back({"FIFO", folder + "/fifo.png", "the path is a FIFO, not a regular file"});
    mkfifo(files.back().path.c_str(), 0600);
    return files;
}

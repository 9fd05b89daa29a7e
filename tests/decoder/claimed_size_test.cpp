// Pictures whose files cannot hold what they claim are refused at once, before any memory is
// set aside for their pixels; pictures that are what they claim load, the largest included,
// within the limits the helper is given from their size.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <algorithm>
#include <fstream>
#include <vector>

#include "decoder/magick_support.h"
#include "decoder/sandbox.h"
#include "image/decode_client.h"
#include "image/image_file.h"
#include "support/bomb_files.h"
#include "support/child_reply.h"
#include "support/decode_bytes.h"
#include "support/temp_folder.h"

namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The helper's entry on `bytes` in a child process whose address space may grow by at most
// `allowance` bytes; its status and reason (-2 when the child failed).
int DecodeInSmallChild(const BombFile& bomb, long long allowance, std::string& reason) {
    std::string message;
    bool replied = ReplyFromChild(
        [&] {
            long pages = 0;
            std::ifstream("/proc/self/statm") >> pages;
            struct rlimit limit;
            limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(pages * sysconf(_SC_PAGESIZE) + allowance);
            setrlimit(RLIMIT_AS, &limit);
            DecodedImage out;
            std::string why;
            int status = DecodeWhole(bomb.bytes, bomb.name, out, why);
            return std::to_string(status) + " " + why;
        },
        message);
    if (!replied || message.find(' ') == std::string::npos) return -2;
    reason = message.substr(message.find(' ') + 1);
    return std::stoi(message);
}

std::string Be32(unsigned long v) { return {char(v >> 24 & 0xFF), char(v >> 16 & 0xFF), char(v >> 8 & 0xFF), char(v & 0xFF)}; }

void WriteChunk(std::ofstream& file, const std::string& type, const std::string& body) {
    std::string typed = type + body;
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size()));
    file << Be32(body.size()) << typed << Be32(crc);
}

// A 16-bit RGB PNG of `width` x `height` pixels of linear gradients (red 4x + y, green 3y, blue
// 2x + 5y), its rows filtered by their left neighbours and deflated as they are made.
bool WriteSixteenBitPng(const std::string& path, int width, int height) {
    std::ofstream file(path, std::ios::binary);
    file << std::string("\x89PNG\r\n\x1a\n", 8);
    WriteChunk(file, "IHDR", Be32(width) + Be32(height) + std::string("\x10\x02\0\0\0", 5));
    z_stream stream = {};
    if (deflateInit(&stream, 1) != Z_OK) return false;
    std::string row(1 + static_cast<size_t>(width) * 6, '\0'), out(1 << 20, '\0'), raw(row.size() + 6, '\0');
    row[0] = 1;  // each byte less the byte one pixel to its left
    for (int y = 0; y <= height; ++y) {
        for (int x = 0; y < height && x < width; ++x) {
            unsigned samples[3] = {static_cast<unsigned>(4 * x + y), static_cast<unsigned>(3 * y),
                                   static_cast<unsigned>(2 * x + 5 * y)};
            for (size_t c = 0, at = 6 + static_cast<size_t>(x) * 6; c < 3; ++c, at += 2) {
                raw[at] = static_cast<char>(samples[c] >> 8 & 0xFF);
                raw[at + 1] = static_cast<char>(samples[c] & 0xFF);
                row[at - 5] = static_cast<char>(raw[at] - raw[at - 6]);
                row[at - 4] = static_cast<char>(raw[at + 1] - raw[at - 5]);
            }
        }
        stream.next_in = reinterpret_cast<Bytef*>(&row[0]);
        stream.avail_in = y < height ? static_cast<uInt>(row.size()) : 0;
        int flush = y < height ? Z_NO_FLUSH : Z_FINISH, status;
        do {
            stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
            stream.avail_out = static_cast<uInt>(out.size());
            status = deflate(&stream, flush);
            size_t made = out.size() - stream.avail_out;
            if (made > 0) WriteChunk(file, "IDAT", out.substr(0, made));
        } while (stream.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
    }
    deflateEnd(&stream);
    WriteChunk(file, "IEND", "");
    return static_cast<bool>(file);
}

}  // namespace

// A JPEG's bytes with `bytes` of application data after its start marker, in whole segments.
std::string AfterMetadata(const std::string& jpeg, size_t bytes) {
    std::string padded = jpeg.substr(0, 2);
    for (size_t left = bytes; left > 0;) {
        size_t body = std::min<size_t>(left, 65533);
        padded += std::string("\xFF\xEF") + char((body + 2) >> 8) + char((body + 2) & 0xFF) + std::string(body, 'm');
        left -= body;
    }
    return padded + jpeg.substr(2);
}

TEST(ClaimedSize, TinyFilesClaimingHugePicturesAreRefusedAtOnce) {
    TempFolder folder;
    std::vector<BombFile> bombs = MakeBombFiles();
    // The same JPEGs with their size beyond the first bytes the program reads for it.
    for (size_t i = 0, count = bombs.size(); i < count; ++i) {
        if (bombs[i].name.size() < 4 || bombs[i].name.compare(bombs[i].name.size() - 4, 4, ".jpg") != 0) continue;
        BombFile later = bombs[i];
        later.label += " after 200 kB of metadata";
        later.name = "late-" + later.name;
        later.bytes = AfterMetadata(later.bytes, 200000);
        bombs.push_back(later);
    }
    // Refused here, before a helper is needed: none can be found.
    SetImageDecoderPath(folder.File("no-such-decoder"));
    for (const BombFile& bomb : bombs) {
        std::string path = folder.File(bomb.name);
        WriteWholeFile(path, bomb.bytes);
        CPixelImage image;
        image.Allocate(5, 4, 4);
        std::string reason;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(ReadImageFile(path, image, reason), -1) << bomb.label;
        EXPECT_LT(SecondsSince(start), 1.0) << bomb.label;
        EXPECT_EQ(reason.rfind(bomb.reason, 0), 0u) << bomb.label << ": " << reason;
        EXPECT_EQ(image.width, 5) << bomb.label;
    }
    SetImageDecoderPath("");
}

// The helper makes the same checks on the whole file before a decoder reserves anything: with
// room for 100 MB more than it holds, it refuses each with the size reason, not for memory.
TEST(ClaimedSize, TheHelperRefusesThemWithinAHundredMegabytes) {
#ifdef QUARRO_SANITIZED_BUILD
    GTEST_SKIP() << "sanitizer runtimes cannot run under an address-space limit";
#endif
    for (const BombFile& bomb : MakeBombFiles()) {
        std::string reason;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(DecodeInSmallChild(bomb, 100LL << 20, reason), -1) << bomb.label;
        EXPECT_LT(SecondsSince(start), 1.0) << bomb.label;
        EXPECT_EQ(reason.rfind(bomb.reason, 0), 0u) << bomb.label << ": " << reason;
    }
}

// Size boxes spelled out inside EXIF and XMP text are text, not the picture's size.
TEST(ClaimedSize, HeicAndAvifWithAFakeSizeBoxInTheirMetadataLoadAtTheirSize) {
    if (FindTool("convert").empty() || FindTool("exiftool").empty()) GTEST_SKIP() << "needs ImageMagick and exiftool";
    TempFolder folder;
    for (const char* name : {"photo.heic", "photo.avif"}) {
        std::string path = folder.File(name);
        ASSERT_TRUE(MagickWrite(TestPattern(319, 239, false), "-quality 90", path)) << name;
        std::string text = std::string("ispe") + "  made ispe  toe" + " ispe\x7f\x7f\x7f\x7f\x7f\x7f\x7f\x7f";
        ASSERT_TRUE(RunQuiet(FindTool("exiftool") + " -q -overwrite_original '-EXIF:ImageDescription=" + text +
                             "' '-XMP-dc:Description=" + text + "' " + path))
            << name;
        ASSERT_NE(ReadWholeFile(path).find("ispe  made"), std::string::npos) << name << ": the metadata was not written";
        CPixelImage image;
        std::string reason;
        ASSERT_EQ(ReadImageFile(path, image, reason), 0) << name << ": " << reason;
        EXPECT_EQ(image.width, 319) << name;
        EXPECT_EQ(image.height, 239) << name;
    }
}

// 16384 x 16384 16-bit pixels: the largest picture this program reads, at the costliest depth,
// loads within the time and memory its size gives the helper.
TEST(ClaimedSize, TheLargestSixteenBitPngLoads) {
    TempFolder folder;
    std::string path = folder.File("largest.png");
    ASSERT_TRUE(WriteSixteenBitPng(path, 16384, 16384));
    CPixelImage image;
    std::string reason;
    struct rusage before, after;
    getrusage(RUSAGE_CHILDREN, &before);
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(ReadImageFile(path, image, reason), 0) << reason;
    getrusage(RUSAGE_CHILDREN, &after);
    auto cpu = [](const struct rusage& use) { return use.ru_utime.tv_sec + use.ru_stime.tv_sec + (use.ru_utime.tv_usec + use.ru_stime.tv_usec) * 1e-6; };
    // For the record: what the load took against the 44 s of CPU time its size gives the helper.
    RecordProperty("load_seconds", std::to_string(SecondsSince(start)));
    RecordProperty("helper_cpu_seconds", std::to_string(cpu(after) - cpu(before)));
    ASSERT_EQ(image.width, 16384);
    ASSERT_EQ(image.height, 16384);
    // Row 1000, column 3000: the high bytes of red 13000, green 3000 and blue 11000.
    const unsigned char* pixel = image.pixels + (1000 * 16384 + 3000) * 4;
    EXPECT_EQ(pixel[0], 13000 >> 8);
    EXPECT_EQ(pixel[1], 3000 >> 8);
    EXPECT_EQ(pixel[2], 11000 >> 8);
    EXPECT_EQ(pixel[3], 255);
}

// The helper's limits come from the header's size, so a decoder's picture larger than that is
// refused: an icon whose directory says 16 x 16 and whose image is 32 x 32.
TEST(ClaimedSize, APictureLargerThanItsHeaderIsRefused) {
    if (FindTool("convert").empty()) GTEST_SKIP() << "needs ImageMagick's convert";
    TempFolder folder;
    std::string path = folder.File("a.ico");
    ASSERT_TRUE(MagickWrite(TestPattern(32, 32, false), "-compress none", "BMP3:" + folder.File("a.bmp")));
    ASSERT_TRUE(RunQuiet(FindTool("convert") + " " + folder.File("a.bmp") + " " + path));
    std::string icon = ReadWholeFile(path);
    DecodedImage out;
    std::string reason;
    ASSERT_EQ(DecodeWhole(icon, path, out, reason), 0) << reason;
    ASSERT_EQ(out.width, 32);
    icon[6] = icon[7] = 16;  // the directory's width and height
    EXPECT_EQ(DecodeWhole(icon, path, out, reason), -1);
    EXPECT_EQ(reason, "the decoded ICO picture is 32 x 32 pixels, more than the 16 x 16 its header claims");
}

// The bounds are the formats' best cases, never above them: flat pictures, which every encoder
// packs tightest, still load at the size they claim.
TEST(ClaimedSize, FlatPicturesAtTheirFormatsBestCompressionLoad) {
    if (FindTool("convert").empty()) GTEST_SKIP() << "needs ImageMagick's convert";
    TempFolder folder;
    struct Flat { const char* name; const char* options; } flats[] = {
        {"progressive.jpg", "-interlace JPEG -quality 10"},
        {"grey.jpg", "-colorspace Gray -quality 10"},
        {"deflated.png", "-quality 95"},
        {"flat.gif", ""},
        {"BMP3:rle8.bmp", "-type Palette -compress RLE"},
        {"rle.tga", "-compress RLE"},
        {"lzw.tif", "-compress LZW"},
        {"zip.tif", "-compress Zip"},
        {"packbits.tif", "-compress RLE"},
    };
    for (const Flat& flat : flats) {
        std::string name = flat.name, writer;
        if (name.find(':') != std::string::npos) {
            writer = name.substr(0, name.find(':') + 1);
            name.erase(0, writer.size());
        }
        std::string path = folder.File(name);
        ASSERT_TRUE(RunQuiet(FindTool("convert") + " -size 1001x701 xc:gray50 " + flat.options + " " + writer + path)) << name;
        CPixelImage image;
        std::string reason;
        EXPECT_EQ(ReadImageFile(path, image, reason), 0) << name << ": " << reason;
        EXPECT_EQ(image.width, 1001) << name;
        EXPECT_EQ(image.height, 701) << name;
    }
}

// A picture costs what its file's data can carry, not what its header claims: files whose
// frames, runs, strips or bitstreams hold next to nothing are refused before a decoder pays for
// the claim, a file of thousands of scans is stopped, and a huge sparse file costs only the
// pages the format reads. The helper's own CPU time and peak memory are measured: it is not
// this program's child, so the test adopts it as a subreaper. Valid files at the edges of the
// bounds still load, identical to ImageMagick's decode.
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include <jpeglib.h>  // after <cstdio>
#include <libheif/heif.h>

#include "decoder/magick_support.h"
#include "image/image_file.h"
#include "support/bomb_files.h"
#include "support/child_reply.h"
#include "support/temp_folder.h"

namespace {

using bomb_detail::Be16;
using bomb_detail::Le16;
using bomb_detail::Le24;
using bomb_detail::Le32;


struct Measured {
    int status = -2;
    std::string reason;
    double helperCpuSeconds = 0;
    long helperPeakKiB = 0;
};

// ReadImageFile on `path` in a child that adopts the helpers it starts, with the CPU time and
// peak memory of the helpers that ended by the time the read came back (reaped then).
Measured ReadAndMeasure(const std::string& path) {
    std::string message;
    Measured result;
    bool replied = ReplyFromChild(
        [&] {
            prctl(PR_SET_CHILD_SUBREAPER, 1);
            CPixelImage image;
            std::string reason;
            int status = ReadImageFile(path, image, reason);
            // The helper that decoded ends once it has replied; a spare started meanwhile does not.
            double cpu = 0;
            long peak = 0;
            auto last = std::chrono::steady_clock::now();
            while (std::chrono::steady_clock::now() - last < std::chrono::milliseconds(500)) {
                struct rusage use;
                pid_t ended = wait4(-1, nullptr, WNOHANG | __WALL, &use);
                if (ended <= 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    continue;
                }
                cpu += use.ru_utime.tv_sec + use.ru_stime.tv_sec + (use.ru_utime.tv_usec + use.ru_stime.tv_usec) * 1e-6;
                peak = std::max(peak, use.ru_maxrss);
                last = std::chrono::steady_clock::now();
            }
            return std::to_string(status) + " " + std::to_string(cpu) + " " + std::to_string(peak) + " " + reason;
        },
        message);
    if (!replied) return result;
    std::istringstream fields(message);
    fields >> result.status >> result.helperCpuSeconds >> result.helperPeakKiB;
    std::getline(fields >> std::ws, result.reason);
    return result;
}

// WebP files: RIFF around `chunks`.
std::string Riff(const std::string& chunks) { return "RIFF" + Le32(4 + chunks.size()) + "WEBP" + chunks; }
std::string Vp8l(unsigned width, unsigned height, size_t dataBytes) {
    return "VP8L" + Le32(5 + dataBytes) + "\x2f" + Le32((width - 1) | (height - 1) << 14) + std::string(dataBytes, '\0') +
           std::string((5 + dataBytes) & 1, '\0');
}
// A lossy key frame's header, `dataBytes` bytes of partition after it.
std::string Vp8(unsigned width, unsigned height, size_t dataBytes) {
    return "VP8 " + Le32(10 + dataBytes) + std::string("\x50\x02\x00\x9d\x01\x2a", 6) + Le16(width) + Le16(height) +
           std::string(dataBytes, '\0');
}
std::string Frame(unsigned width, unsigned height, const std::string& bitstream) {
    std::string body = Le24(0) + Le24(0) + Le24(width - 1) + Le24(height - 1) + Le24(100) + '\0' + bitstream;
    return "ANMF" + Le32(body.size()) + body;
}
std::string Animation(unsigned width, unsigned height, const std::string& frames) {
    return Riff("VP8X" + Le32(10) + std::string("\x02\0\0\0", 4) + Le24(width - 1) + Le24(height - 1) + "ANIM" + Le32(6) +
                Le32(0) + Le16(0) + frames);
}

// A comment extension of `bytes` bytes: it puts what follows past the first bytes the program reads.
std::string GifComment(size_t bytes) {
    std::string blocks = "\x21\xfe";
    for (size_t left = bytes; left > 0; left -= std::min<size_t>(left, 255)) {
        blocks += char(std::min<size_t>(left, 255)) + std::string(std::min<size_t>(left, 255), 'c');
    }
    return blocks + std::string(1, '\0');
}

// A GIF screen with a two-colour palette and the blocks given.
std::string Gif(unsigned width, unsigned height, const std::string& blocks) {
    return "GIF89a" + Le16(width) + Le16(height) + std::string("\x80\0\0", 3) + std::string("\0\0\0\xff\xff\xff", 6) + blocks +
           ";";
}
// An image descriptor and its codes: `codes` bytes in sub-blocks (none: the data ends at once).
std::string GifFrame(unsigned width, unsigned height, size_t codes) {
    std::string blocks = "\x2c" + Le16(0) + Le16(0) + Le16(width) + Le16(height) + std::string("\0\x02", 2);
    for (size_t left = codes; left > 0; left -= std::min<size_t>(left, 255)) {
        blocks += char(std::min<size_t>(left, 255)) + std::string(std::min<size_t>(left, 255), '\x4c');
    }
    return blocks + std::string(1, '\0');
}

// HEIF boxes, and a file whose primary item 1000, a 4096 x 4096 grid, is made of the items `tiles` names.
std::string Be32(unsigned long v) { return Be16(v >> 16 & 0xFFFF) + Be16(v & 0xFFFF); }
std::string Box(const std::string& type, const std::string& body) { return Be32(8 + body.size()) + type + body; }
std::string FullBox(const std::string& type, const std::string& body) { return Box(type, std::string(4, '\0') + body); }
std::string HeifGrid(const std::vector<unsigned>& tiles) {
    std::string references = Be16(1000) + Be16(tiles.size());
    for (unsigned tile : tiles) references += Be16(tile);
    std::string ipco = Box("ipco", FullBox("ispe", Be32(4096) + Be32(4096)));
    std::string ipma = FullBox("ipma", Be32(1) + Be16(1000) + "\x01\x81");
    std::string meta = FullBox("meta", FullBox("hdlr", std::string(4, '\0') + "pict" + std::string(13, '\0')) +
                                           FullBox("pitm", Be16(1000)) + FullBox("iref", Box("dimg", references)) +
                                           Box("iprp", ipco + ipma));
    return Box("ftyp", std::string("heic") + std::string(4, '\0') + "mif1heic") + meta + Box("mdat", std::string(64, '\0'));
}

// A 16384 x 16384 RLE8 BMP whose runs (`runs`) end the picture, padded to `total` bytes.
std::string RleBmp(const std::string& runs, size_t total) {
    std::string info = Le32(40) + Le32(16384) + Le32(16384) + Le16(1) + Le16(8) + Le32(1) + std::string(20, '\0');
    std::string bytes = "BM" + Le32(total) + Le32(0) + Le32(14 + 40 + 8) + info + std::string(8, '\0') + runs +
                        std::string("\0\x01", 2);
    bytes.resize(std::max(total, bytes.size()), '\0');
    return bytes;
}

// A 16384 x 16384 RGB TIFF of one strip of `compression`, holding 8 bytes; the directory comes
// after `padding` bytes when that is not zero (so that it lies past what the program reads first).
std::string EmptyStripTiff(unsigned compression, size_t padding) {
    struct Entry { unsigned tag, type; unsigned long value; } entries[] = {
        {256, 4, 16384}, {257, 4, 16384}, {258, 3, 8}, {259, 3, compression}, {262, 3, 2},
        {273, 4, 8},     {277, 3, 3},     {278, 4, 16384}, {279, 4, 8},
    };
    unsigned long directory = 16 + padding;
    std::string bytes = std::string("II*\0", 4) + Le32(directory) + std::string(8, '\x5a') + std::string(padding, '\0');
    bytes += Le16(sizeof entries / sizeof entries[0]);
    for (const Entry& e : entries) {
        bytes += Le16(e.tag) + Le16(e.type) + Le32(1) + (e.type == 3 ? Le16(e.value) + Le16(0) : Le32(e.value));
    }
    return bytes + Le32(0);
}

// A progressive JPEG from ImageMagick with its first scan (the DC coefficients, whose bits do not
// depend on what came before) sent again before the end until there are `scans`.
bool ManyScanJpeg(const std::string& path, int scans) {
    if (!RunQuiet(FindTool("convert") + " -size 512x512 plasma:fractal -seed 4 -interlace JPEG -quality 80 " + path)) {
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t end = bytes.rfind("\xff\xd9"), from = bytes.find("\xff\xda");
    if (end == std::string::npos || from == std::string::npos) return false;
    size_t to = std::min(bytes.find("\xff\xc4", from + 2), bytes.find("\xff\xda", from + 2));
    int made = 0;
    for (size_t at = 0; (at = bytes.find("\xff\xda", at)) != std::string::npos; at += 2) ++made;
    std::string scan = bytes.substr(from, to - from), repeated;
    for (int i = made; i < scans; ++i) repeated += scan;
    std::ofstream(path, std::ios::binary) << bytes.substr(0, end) << repeated << bytes.substr(end);
    return true;
}

void WriteFile(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

// The helper measured on each file, in the plain build: a refusal costs it well under a second
// of CPU and 100 MB, whatever the file claims.
void ExpectCheap(const Measured& read, const std::string& label) {
#ifndef QUARRO_SANITIZED_BUILD
    EXPECT_LT(read.helperCpuSeconds, 1.0) << label;
    EXPECT_LT(read.helperPeakKiB, 100 * 1024) << label;
#endif
    ::testing::Test::RecordProperty(label, std::to_string(read.helperCpuSeconds) + " s, " + std::to_string(read.helperPeakKiB) + " KiB");
}

}  // namespace

TEST(DataCosts, FilesWhoseDataCarriesLittleAreRefusedCheaply) {
    TempFolder folder;
    const std::string covers = " header claims 16384 x 16384 pixels, but its data covers only ";
    std::string onePixelRuns;
    while (onePixelRuns.size() < 80000) onePixelRuns += std::string("\x01\x07", 2);
    struct Case { std::string label, name, bytes, reason; } cases[] = {
        {"animated WebP whose second frame only claims 16384 x 16384", "claimed.webp",
         Animation(16384, 16384, Frame(1, 1, Vp8l(1, 1, 11)) + Frame(16384, 16384, Vp8l(16384, 16384, 0))),
         "the WebP" + covers + "1 of them"},
        {"GIF whose second frame claims 65535 x 1024", "claimed.gif",
         Gif(65535, 4096, GifComment(100000) + GifFrame(16, 16, 8) + GifFrame(65535, 1024, 0)),
         "the GIF header claims 65535 x 4096 pixels, but its data covers only 256 of them"},
        {"GIF screen whose frame has no data", "screen.gif", Gif(16384, 16384, GifComment(100000) + GifFrame(16384, 16384, 0)),
         "the GIF" + covers + "0 of them"},
        {"RLE8 BMP ending at once, padded to 2.1 MB", "padded.bmp", RleBmp("", 2200000), "the BMP" + covers + "0 of them"},
        {"RLE8 BMP ending past the first bytes read", "late-end.bmp", RleBmp(onePixelRuns, 2200000),
         "the BMP" + covers + "40000 of them"},
        {"VP8L header without data", "header.webp", Riff(Vp8l(16384, 16384, 0)), "the WebP" + covers + "0 of them"},
        {"VP8 header without data", "header-lossy.webp", Riff(Vp8(16383, 16383, 0)),
         "the WebP header claims 16383 x 16383 pixels, but its data covers only 0 of them"},
        // These pass the checks (the data bound does not know what a bitstream's byte holds) and
        // are refused by their decoders, which touch no pixel before data arrives.
        {"VP8L header with a byte of data", "byte.webp", Riff(Vp8l(16384, 16384, 1)), "the WebP picture data is damaged"},
        {"VP8 header with bytes of data", "bytes-lossy.webp", Riff(Vp8(16383, 16383, 4)), "the WebP"},
    };
    std::vector<Case> all(std::begin(cases), std::end(cases));
    // Grids whose tiles cost a decode each: one tile named 4096 times, and 5000 tiles.
    std::vector<unsigned> oneTile(4096, 1), manyTiles;
    for (unsigned i = 1; i <= 5000; ++i) manyTiles.push_back(i);
    all.push_back({"HEIF grid of one tile named 4096 times", "tiles.heic", HeifGrid(oneTile),
                   "the HEIC file refers 4096 times to 1 pictures to make its own: each may be used once"});
    all.push_back({"HEIF grid of 5000 tiles", "many.heic", HeifGrid(manyTiles),
                   "the HEIC file makes its picture of 5000 others, more than 4096"});
    // Strips of every bounded compression and of one without a bound, the directory first or
    // past the first bytes read.
    const std::string tiffClaim = "the TIFF header claims 16384 x 16384 pixels, ";
    struct Strip { unsigned compression; const char* name; std::string reason; } strips[] = {
        {5, "lzw", tiffClaim + "which take at least 294877 bytes of pixel data; the file holds 8"},
        {8, "deflate", tiffClaim + "which take at least 780336 bytes of pixel data; the file holds 8"},
        {7, "jpeg", tiffClaim + "which take at least 524288 bytes of pixel data; the file holds 8"},
        {34925, "lzma", tiffClaim + "which take at least 49152 bytes of pixel data; the file holds 8"},
        {50000, "zstd", tiffClaim + "which take at least 24576 bytes of pixel data; the file holds 8"},
        {34661, "jbig", tiffClaim + "but its data is coded in a way that sets no bound"},
    };
    for (const Strip& strip : strips) {
        for (size_t padding : {size_t{0}, size_t{780000}}) {
            all.push_back({std::string(strip.name) + " TIFF strip without data" + (padding > 0 ? ", directory last" : ""),
                           std::string(strip.name) + std::to_string(padding) + ".tif", EmptyStripTiff(strip.compression, padding),
                           strip.reason});
        }
    }
    for (const Case& c : all) {
        std::string path = folder.File(c.name);
        WriteFile(path, c.bytes);
        Measured read = ReadAndMeasure(path);
        EXPECT_EQ(read.status, -1) << c.label;
        EXPECT_EQ(read.reason.rfind(c.reason, 0), 0u) << c.label << ": " << read.reason;
        ExpectCheap(read, c.label);
    }
}

// Thousands of refinement scans: each is another pass over the picture, so the decoder stops
// counting at a thousand.
TEST(DataCosts, AJpegOfThousandsOfScansIsStopped) {
    if (FindTool("convert").empty()) GTEST_SKIP() << "needs ImageMagick's convert";
    TempFolder folder;
    std::string path = folder.File("scans.jpg");
    ASSERT_TRUE(ManyScanJpeg(path, 5000));
    Measured read = ReadAndMeasure(path);
    EXPECT_EQ(read.status, -1);
    EXPECT_EQ(read.reason, "the JPEG file holds more than 1000 scans");
    ExpectCheap(read, "5000 scans");
    // A hundred scans are many, yet within reason: the picture loads.
    ASSERT_TRUE(ManyScanJpeg(path, 100));
    EXPECT_EQ(ReadAndMeasure(path).status, 0);
}

// A four-pixel PNG padded (sparsely) to nearly 3 GiB: the helper maps the file and reads only the
// chunks up to the end chunk, so the padding costs nothing.
TEST(DataCosts, ASparseThreeGigabyteFileCostsOnlyWhatTheFormatReads) {
    TempFolder folder;
    std::string path = folder.File("sparse.png");
    DecodedImage pixel = TestPattern(2, 2, false);
    ASSERT_TRUE(MagickWrite(pixel, "", path));
    ASSERT_EQ(truncate(path.c_str(), (3LL << 30) - 4096), 0);
    Measured read = ReadAndMeasure(path);
    EXPECT_EQ(read.status, 0) << read.reason;
    ExpectCheap(read, "sparse 3 GiB PNG");
}

namespace {

// A flat grey `width` x `height` JPEG from libjpeg with arithmetic coding, progressive if asked.
bool ArithmeticJpeg(const std::string& path, int width, int height, bool progressive) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    info.arith_code = TRUE;
    if (progressive) jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<unsigned char> row(static_cast<size_t>(width) * 3, 0x80);
    while (info.next_scanline < info.image_height) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return std::fclose(file) == 0;
}

// A Softimage PIC of `picture`'s size in one RGBA packet written by hand from its pixels: stored
// raw (coding 0), as runs of one pixel (1), or as literal runs of up to 128 pixels and, at each
// row's end, a repeat run of its last pixel with a 16-bit count (2).
std::string SoftimagePic(const DecodedImage& picture, int coding) {
    std::string bytes = std::string("\x53\x80\xf6\x34", 4) + std::string(4, '\0') + std::string(80, '\0') + "PICT" +
                        Be16(picture.width) + Be16(picture.height) + std::string("\x3f\x80\0\0", 4) + Be16(3) + Be16(0);
    bytes += std::string("\0\x08", 2) + char(coding) + '\xf0';  // the last packet: 8 bits, red, green, blue, alpha
    const char* pixels = reinterpret_cast<const char*>(picture.rgba.data());
    for (int y = 0; y < picture.height; ++y) {
        const char* row = pixels + static_cast<size_t>(y) * picture.width * 4;
        for (int x = 0; x < picture.width;) {
            int run = coding == 0 ? picture.width : coding == 1 ? 1 : std::min(128, picture.width - 1 - x);
            if (coding == 1) bytes += '\x01';
            if (coding == 2 && run == 0) {  // the last pixel, as a run with a 16-bit count of 1
                bytes += '\x80' + Be16(1) + std::string(row + static_cast<size_t>(x) * 4, 4);
                ++x;
                continue;
            }
            if (coding == 2) bytes += char(run - 1);
            bytes.append(row + static_cast<size_t>(x) * 4, static_cast<size_t>(run) * 4);
            x += run;
        }
    }
    return bytes;
}

DecodedImage AsDecoded(const CPixelImage& image) {
    DecodedImage out;
    out.width = image.width;
    out.height = image.height;
    out.rgba.assign(image.pixels, image.pixels + static_cast<size_t>(image.width) * image.height * 4);
    return out;
}

}  // namespace

// The edges of the bounds: codings that spend next to nothing on flat pictures, and the formats
// whose checks changed, still load what an independent decoder makes of them.
TEST(DataCosts, ValidFilesAtTheBoundsStillLoad) {
    if (FindTool("convert").empty()) GTEST_SKIP() << "needs ImageMagick's convert";
    TempFolder folder;
    ASSERT_TRUE(ArithmeticJpeg(folder.File("arithmetic.jpg"), 4096, 4096, false));
    ASSERT_TRUE(ArithmeticJpeg(folder.File("arithmetic-progressive.jpg"), 4096, 4096, true));
    ASSERT_TRUE(MagickWrite(TestPattern(301, 203, true), "-depth 16 -interlace PNG", folder.File("interlaced16.png")));
    // 8k wide and above the size below which nothing is bounded (as large as ImageMagick's limits allow).
    ASSERT_TRUE(RunQuiet(FindTool("convert") + " -size 8192x2304 xc:gray40 -compress Zip " + folder.File("deflated.tif")));
    for (const char* name : {"arithmetic.jpg", "arithmetic-progressive.jpg", "interlaced16.png", "deflated.tif"}) {
        CPixelImage image;
        std::string reason;
        ASSERT_EQ(ReadImageFile(folder.File(name), image, reason), 0) << name << ": " << reason;
        DecodedImage expected;
        ASSERT_TRUE(MagickDecode(folder.File(name), false, expected)) << name;
        EXPECT_EQ(LargestDifference(AsDecoded(image), expected), 0) << name;
    }
    // With alpha (an RGB-only PIC is refused), 150 pixels wide so that literal runs fill 128.
    DecodedImage pattern = TestPattern(150, 23, true);
    for (int coding : {0, 1, 2}) {
        WriteFile(folder.File("soft.pic"), SoftimagePic(pattern, coding));
        CPixelImage image;
        std::string reason;
        ASSERT_EQ(ReadImageFile(folder.File("soft.pic"), image, reason), 0) << "PIC coding " << coding << ": " << reason;
        EXPECT_EQ(LargestDifference(AsDecoded(image), pattern), 0) << "PIC coding " << coding;
    }
}

namespace {

heif_error Append(heif_context*, const void* data, size_t size, void* file) {
    static_cast<std::string*>(file)->append(static_cast<const char*>(data), size);
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
}

// `picture` as a lossless AVIF from libheif (AV1 at 4:4:4 with RGB coded as it is), in memory;
// empty when libheif could not make it.
std::string LosslessAvif(const DecodedImage& picture) {
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_image* image = nullptr;
    std::string file;
    bool ok = heif_context_get_encoder_for_format(context, heif_compression_AV1, &encoder).code == heif_error_Ok &&
              heif_image_create(picture.width, picture.height, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, &image)
                      .code == heif_error_Ok &&
              heif_image_add_plane(image, heif_channel_interleaved, picture.width, picture.height, 8).code == heif_error_Ok;
    if (ok) {
        int stride = 0;
        uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
        for (int y = 0; y < picture.height; ++y) {
            std::memcpy(plane + static_cast<size_t>(y) * stride, &picture.rgba[static_cast<size_t>(y) * picture.width * 4],
                        static_cast<size_t>(picture.width) * 4);
        }
        heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
        nclx->color_primaries = heif_color_primaries_ITU_R_BT_709_5;
        nclx->transfer_characteristics = heif_transfer_characteristic_IEC_61966_2_1;
        nclx->matrix_coefficients = heif_matrix_coefficients_RGB_GBR;
        nclx->full_range_flag = 1;
        ok = heif_image_set_nclx_color_profile(image, nclx).code == heif_error_Ok;
        heif_encoder_set_lossless(encoder, 1);
        heif_encoder_set_parameter(encoder, "chroma", "444");
        heif_encoding_options* options = heif_encoding_options_alloc();
        options->output_nclx_profile = nclx;
        options->save_alpha_channel = 0;
        heif_writer writer = {1, Append};
        ok = ok && heif_context_encode_image(context, image, encoder, options, nullptr).code == heif_error_Ok &&
             heif_context_write(context, &writer, &file).code == heif_error_Ok;
        heif_encoding_options_free(options);
        heif_nclx_color_profile_free(nclx);
    }
    if (image != nullptr) heif_image_release(image);
    if (encoder != nullptr) heif_encoder_release(encoder);
    heif_context_free(context);
    return ok ? file : std::string();
}

// The first box of `type` in a file from libheif, whole; "" when there is none.
std::string FirstBox(const std::string& file, const std::string& type) {
    size_t at = file.find(type);
    if (at == std::string::npos || at < 4) return "";
    size_t size = 0;
    for (size_t i = at - 4; i < at; ++i) size = size << 8 | static_cast<unsigned char>(file[i]);
    return size >= 8 && at - 4 + size <= file.size() ? file.substr(at - 4, size) : "";
}

// A grid AVIF of 2 x 2 tiles of one size, written box by box: tiles are items 1 to 4 (row by
// row), each with its own coded data and AV1 configuration taken from its one-picture file, and
// item 5, the primary, is their grid of `width` x `height` pixels.
std::string GridAvif(const std::vector<std::string>& tiles, int tileWidth, int tileHeight, int width, int height) {
    std::string ipco = FullBox("ispe", Be32(tileWidth) + Be32(tileHeight)) + FirstBox(tiles[0], "colr") +
                       FullBox("ispe", Be32(width) + Be32(height));
    std::string infe, ipma, references = Be16(5) + Be16(4), data = std::string("\0\0\x01\x01", 4) + Be16(width) + Be16(height);
    std::vector<size_t> starts = {0}, lengths = {data.size()};
    for (unsigned item = 1; item <= 4; ++item) {
        const std::string& tile = tiles[item - 1];
        std::string coded = FirstBox(tile, "mdat").substr(8);
        starts.push_back(data.size());
        lengths.push_back(coded.size());
        data += coded;
        ipco += FirstBox(tile, "av1C");
        infe += Box("infe", std::string("\x02\0\0\x01", 4) + Be16(item) + Be16(0) + "av01" + std::string(1, '\0'));
        // The tile's size, its coding (essential) and its colour box.
        ipma += Be16(item) + "\x03\x01" + char(0x80 | (3 + item)) + "\x02";
        references += Be16(item);
    }
    infe += Box("infe", std::string("\x02\0\0\0", 4) + Be16(5) + Be16(0) + "grid" + std::string(1, '\0'));
    ipma += Be16(5) + "\x02\x03\x02";
    auto meta = [&](size_t dataStart) {
        std::string iloc = std::string("\x44\0", 2) + Be16(5);
        for (unsigned item = 0; item < 5; ++item) {
            unsigned id = item == 0 ? 5 : item;
            iloc += Be16(id) + Be16(0) + Be16(1) + Be32(dataStart + starts[item]) + Be32(lengths[item]);
        }
        return FullBox("meta", FullBox("hdlr", std::string(4, '\0') + "pict" + std::string(13, '\0')) + FullBox("pitm", Be16(5)) +
                                   FullBox("iinf", Be16(5) + infe) + FullBox("iloc", iloc) +
                                   FullBox("iref", Box("dimg", references)) +
                                   Box("iprp", Box("ipco", ipco) + FullBox("ipma", Be32(5) + ipma)));
    };
    std::string ftyp = Box("ftyp", std::string("avif") + std::string(4, '\0') + "mif1avifmiaf");
    size_t dataStart = ftyp.size() + meta(0).size() + 8;
    return ftyp + meta(dataStart) + Box("mdat", data);
}

// `picture`'s part of `width` x `height` pixels from (x, y).
DecodedImage Cut(const DecodedImage& picture, int x, int y, int width, int height) {
    DecodedImage part;
    part.width = width, part.height = height;
    for (int row = 0; row < height; ++row) {
        auto from = picture.rgba.begin() + (static_cast<size_t>(y + row) * picture.width + x) * 4;
        part.rgba.insert(part.rgba.end(), from, from + static_cast<size_t>(width) * 4);
    }
    return part;
}

}  // namespace

// A 2 x 2 grid whose tiles are distinct pictures loads as those tiles read one by one and placed,
// which is the picture they were cut from (their coding is lossless); the grid may crop its
// tiles. ImageMagick reads the same grid: its conversion of RGB-coded AV1 rounds on its own way
// (up to 3 levels off on a single tile), so it is held to that.
TEST(DataCosts, ATwoByTwoAvifGridLoadsAsItsTilesPlaced) {
    if (FindTool("convert").empty()) GTEST_SKIP() << "needs ImageMagick's convert";
    TempFolder folder;
    const int tileWidth = 64, tileHeight = 48;
    DecodedImage pattern = TestPattern(2 * tileWidth, 2 * tileHeight, false), placed = pattern;
    std::vector<std::string> tiles;
    for (int i = 0; i < 4; ++i) {
        int x = i % 2 * tileWidth, y = i / 2 * tileHeight;
        tiles.push_back(LosslessAvif(Cut(pattern, x, y, tileWidth, tileHeight)));
        ASSERT_FALSE(tiles.back().empty()) << "libheif could not encode tile " << i;
        ASSERT_FALSE(FirstBox(tiles.back(), "av1C").empty() || FirstBox(tiles.back(), "colr").empty()) << i;
        std::string path = folder.File("tile" + std::to_string(i) + ".avif"), reason;
        WriteFile(path, tiles.back());
        CPixelImage tile;
        ASSERT_EQ(ReadImageFile(path, tile, reason), 0) << path << ": " << reason;
        ASSERT_EQ(tile.width, tileWidth);
        for (int row = 0; row < tileHeight; ++row) {
            std::copy_n(tile.pixels + static_cast<size_t>(row) * tileWidth * 4, tileWidth * 4,
                        &placed.rgba[(static_cast<size_t>(y + row) * placed.width + x) * 4]);
        }
    }
    ASSERT_EQ(LargestDifference(placed, pattern), 0) << "the tiles' coding is not lossless";
    struct Grid { const char* name; int width, height; } grids[] = {{"whole.avif", 128, 96}, {"cropped.avif", 117, 90}};
    for (const Grid& grid : grids) {
        std::string path = folder.File(grid.name);
        WriteFile(path, GridAvif(tiles, tileWidth, tileHeight, grid.width, grid.height));
        CPixelImage image;
        std::string reason;
        ASSERT_EQ(ReadImageFile(path, image, reason), 0) << grid.name << ": " << reason;
        EXPECT_EQ(LargestDifference(AsDecoded(image), Cut(placed, 0, 0, grid.width, grid.height)), 0) << grid.name;
        DecodedImage magick;
        ASSERT_TRUE(MagickDecode(path, false, magick)) << grid.name;
        EXPECT_LE(LargestDifference(AsDecoded(image), magick), 3) << grid.name;
    }
}

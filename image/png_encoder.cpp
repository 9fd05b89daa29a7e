// The rows are filtered and deflated in bands, each on whichever thread takes it, and joined
// into one zlib stream: a band is deflated raw with the 32 KiB of filtered rows before it as
// its dictionary, so it compresses as if the stream had gone on, and ends on a byte boundary
// (a sync flush) so that the next band's bits can follow it; the last one ends the stream.
// The stream's Adler-32 is combined from the bands'. Each band becomes one IDAT chunk. An sRGB
// chunk says what the numbers mean.
#include "image/png_encoder.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "files/replace_file.h"
#include "image/parallel_bands.h"

namespace {

// About this many filtered bytes a band: enough that a band's dictionary and flush cost
// nothing measurable, few enough that any number of cores shares the frame evenly.
const size_t kBandBytes = 512 << 10;
const int kMostBands = 32;
// No band's chunk may come near the 2^31 bytes a chunk can hold, even stored.
const size_t kLargestBandBytes = size_t(256) << 20;
const size_t kWindowBytes = 32 << 10;

const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
const unsigned char kFilterNone = 0, kFilterUp = 2;

int Refuse(std::string& reason, const std::string& why) {
    reason = why;
    return -1;
}

void PutBigEndian(unsigned char* at, uint32_t value) {
    at[0] = static_cast<unsigned char>(value >> 24);
    at[1] = static_cast<unsigned char>(value >> 16);
    at[2] = static_cast<unsigned char>(value >> 8);
    at[3] = static_cast<unsigned char>(value);
}

// Starts a chunk of `type` at the end of `out`; its length is filled in by CloseChunk.
size_t OpenChunk(std::vector<unsigned char>& out, const char* type) {
    size_t start = out.size();
    out.resize(start + 8);
    std::memcpy(&out[start + 4], type, 4);
    return start;
}

// Ends the chunk that begins at `start` of `out`: its length, then its CRC.
void CloseChunk(std::vector<unsigned char>& out, size_t start) {
    PutBigEndian(&out[start], static_cast<uint32_t>(out.size() - start - 8));
    uLong crc = crc32(0, &out[start + 4], static_cast<uInt>(out.size() - start - 4));
    out.resize(out.size() + 4);
    PutBigEndian(&out[out.size() - 4], static_cast<uint32_t>(crc));
}

// The two bytes that open a zlib stream of 32 KiB windows, with the level's hint.
void PutZlibHeader(std::vector<unsigned char>& out, int level) {
    const unsigned method = 0x78;
    unsigned flags = (level <= 1 ? 0u : level <= 5 ? 1u : level == 6 ? 2u : 3u) << 6;
    flags += 31 - (method * 256 + flags) % 31;
    out.push_back(static_cast<unsigned char>(method));
    out.push_back(static_cast<unsigned char>(flags));
}

struct RowLayout {
    const CPixelImage* image;
    bool rgb;         // alpha dropped: every pixel is opaque
    size_t rowBytes;  // filtered bytes of a row, its filter byte included
    unsigned char filter;
};

// Writes rows [first, last) filtered to `out`, each row against the one above it in the picture.
void FilterRows(const RowLayout& layout, int first, int last, unsigned char* out) {
    const size_t width = static_cast<size_t>(layout.image->width), stride = width * 4;
    // The row above the first, and every row's with no filter, is taken as zeros.
    std::vector<unsigned char> zeros;
    for (int y = first; y < last; ++y, out += layout.rowBytes) {
        const unsigned char* row = layout.image->pixels + static_cast<size_t>(y) * stride;
        const unsigned char* above = row - stride;
        if (layout.filter != kFilterUp || y == 0) {
            zeros.resize(stride);
            above = zeros.data();
        }
        unsigned char* to = out;
        *to++ = layout.filter;
        if (layout.rgb) {
            for (size_t x = 0; x < width; ++x, row += 4, above += 4, to += 3) {
                to[0] = static_cast<unsigned char>(row[0] - above[0]);
                to[1] = static_cast<unsigned char>(row[1] - above[1]);
                to[2] = static_cast<unsigned char>(row[2] - above[2]);
            }
        } else {
            for (size_t i = 0; i < stride; ++i) to[i] = static_cast<unsigned char>(row[i] - above[i]);
        }
    }
}

struct Band {
    int first = 0, last = 0;           // rows
    std::vector<unsigned char> chunk;  // the band's IDAT chunk, whole
    uLong adler = 1;                   // of its filtered rows alone
    size_t length = 0;                 // their bytes
    bool failed = false;
};

// Filters and deflates one band into its IDAT chunk; the first band's chunk opens the stream.
void DeflateBand(const RowLayout& layout, int level, bool firstBand, bool lastBand, Band& band) {
    const int dictionaryRows = static_cast<int>(std::min<size_t>(
        static_cast<size_t>(band.first), (kWindowBytes + layout.rowBytes - 1) / layout.rowBytes));
    const size_t dictionaryBytes = static_cast<size_t>(dictionaryRows) * layout.rowBytes;
    band.length = static_cast<size_t>(band.last - band.first) * layout.rowBytes;
    std::unique_ptr<unsigned char[]> rows(new (std::nothrow) unsigned char[dictionaryBytes + band.length]);
    if (!rows) {
        band.failed = true;
        return;
    }
    FilterRows(layout, band.first - dictionaryRows, band.last, rows.get());
    const unsigned char* own = rows.get() + dictionaryBytes;
    band.adler = adler32(adler32(0, nullptr, 0), own, static_cast<uInt>(band.length));

    z_stream stream = {};
    if (deflateInit2(&stream, level, Z_DEFLATED, -15, 8, level == 0 ? Z_DEFAULT_STRATEGY : Z_FILTERED) != Z_OK) {
        band.failed = true;
        return;
    }
    if (dictionaryBytes > 0) {
        size_t used = std::min(dictionaryBytes, kWindowBytes);
        deflateSetDictionary(&stream, own - used, static_cast<uInt>(used));
    }
    size_t start = OpenChunk(band.chunk, "IDAT");
    if (firstBand) PutZlibHeader(band.chunk, level);
    size_t written = band.chunk.size();
    band.chunk.resize(written + deflateBound(&stream, static_cast<uLong>(band.length)) + 64);
    stream.next_in = const_cast<unsigned char*>(own);
    stream.avail_in = static_cast<uInt>(band.length);
    const int flush = lastBand ? Z_FINISH : Z_SYNC_FLUSH;
    bool done = false;
    for (;;) {
        stream.next_out = &band.chunk[written];
        stream.avail_out = static_cast<uInt>(band.chunk.size() - written);
        int status = deflate(&stream, flush);
        written = band.chunk.size() - stream.avail_out;
        done = lastBand ? status == Z_STREAM_END : status == Z_OK && stream.avail_in == 0 && stream.avail_out > 0;
        if (done || (status != Z_OK && status != Z_BUF_ERROR)) break;
        band.chunk.resize(band.chunk.size() * 2);  // rare: the bound was not enough
    }
    deflateEnd(&stream);
    band.failed = !done;
    band.chunk.resize(written);
    CloseChunk(band.chunk, start);
}

// True when no pixel's alpha is below 255; the bands are checked side by side.
bool IsOpaque(const CPixelImage& image, int bands, int threads) {
    std::atomic<bool> opaque{true};
    const size_t pixels = image.ByteCount() / 4;
    RunBandsInParallel(bands, threads, [&](int band) {
        const unsigned char* alpha = image.pixels + pixels * static_cast<size_t>(band) / bands * 4 + 3;
        const unsigned char* end = image.pixels + pixels * static_cast<size_t>(band + 1) / bands * 4 + 3;
        const size_t step = 4 * 4096;  // a look at the others' findings every 4096 pixels
        while (alpha < end && opaque.load(std::memory_order_relaxed)) {
            const unsigned char* stop = end - alpha > static_cast<std::ptrdiff_t>(step) ? alpha + step : end;
            unsigned char all = 255;
            for (; alpha < stop; alpha += 4) all &= *alpha;
            if (all != 255) opaque = false;
        }
    });
    return opaque;
}

}  // namespace

int PngBandCount(size_t rowBytes, int rows) {
    const size_t total = rowBytes * static_cast<size_t>(rows);
    size_t bands = std::min<size_t>((total + kBandBytes - 1) / kBandBytes, kMostBands);
    bands = std::max(bands, (total + kLargestBandBytes - 1) / kLargestBandBytes);
    return static_cast<int>(std::max<size_t>(1, std::min<size_t>(bands, static_cast<size_t>(rows))));
}

int EncodePng(const CPixelImage& image, int level, std::vector<unsigned char>& png, std::string& reason) {
    return EncodePng(image, level, 0, png, reason);
}

int EncodePng(const CPixelImage& image, int level, int threads, std::vector<unsigned char>& png,
              std::string& reason) {
    if (image.IsEmpty() || image.width <= 0 || image.height <= 0) return Refuse(reason, "the image is empty");
    if (image.bytesPerPixel != 4) return Refuse(reason, "the image is not 4-byte RGBA");
    if (level < 0 || level > 9) return Refuse(reason, "the PNG level is not in 0..9");
    if (threads <= 0) threads = DefaultBandThreads();

    const size_t width = static_cast<size_t>(image.width);
    RowLayout layout;
    layout.image = &image;
    layout.rgb = IsOpaque(image, PngBandCount(width * 4 + 1, image.height), threads);
    layout.rowBytes = width * (layout.rgb ? 3 : 4) + 1;
    layout.filter = level == 0 ? kFilterNone : kFilterUp;

    std::vector<Band> bands(static_cast<size_t>(PngBandCount(layout.rowBytes, image.height)));
    const int count = static_cast<int>(bands.size());
    for (int b = 0; b < count; ++b) {
        bands[b].first = static_cast<int>(static_cast<long long>(image.height) * b / count);
        bands[b].last = static_cast<int>(static_cast<long long>(image.height) * (b + 1) / count);
    }
    RunBandsInParallel(count, threads,
                       [&](int b) { DeflateBand(layout, level, b == 0, b == count - 1, bands[static_cast<size_t>(b)]); });

    uLong adler = adler32(0, nullptr, 0);
    size_t total = sizeof kSignature + 25 + 16 + 12;
    for (const Band& band : bands) {
        if (band.failed) return Refuse(reason, "PNG encoder: zlib failed (out of memory?)");
        adler = adler32_combine(adler, band.adler, static_cast<z_off_t>(band.length));
        total += band.chunk.size();
    }
    png.clear();
    png.reserve(total);
    png.insert(png.end(), kSignature, kSignature + sizeof kSignature);
    size_t header = OpenChunk(png, "IHDR");
    png.resize(png.size() + 13);  // compression, filter method and interlace stay 0
    PutBigEndian(&png[header + 8], static_cast<uint32_t>(image.width));
    PutBigEndian(&png[header + 12], static_cast<uint32_t>(image.height));
    png[header + 16] = 8;                   // bits a channel
    png[header + 17] = layout.rgb ? 2 : 6;  // truecolour, without alpha or with it
    CloseChunk(png, header);
    // The numbers are sRGB's, which colour-managed viewers then show as this program does.
    size_t srgb = OpenChunk(png, "sRGB");
    png.push_back(0);  // perceptual rendering intent
    CloseChunk(png, srgb);
    for (const Band& band : bands) png.insert(png.end(), band.chunk.begin(), band.chunk.end());
    size_t check = OpenChunk(png, "IDAT");  // the stream's own end: its Adler-32
    png.resize(png.size() + 4);
    PutBigEndian(&png[check + 8], static_cast<uint32_t>(adler));
    CloseChunk(png, check);
    CloseChunk(png, OpenChunk(png, "IEND"));
    return 0;
}

int WritePngFile(const std::string& path, const CPixelImage& image, int level, std::string& reason) {
    std::vector<unsigned char> png;
    if (EncodePng(image, level, png, reason) != 0) return -1;
    return ReplaceFileWithBytes(path, png.data(), png.size(), reason);
}

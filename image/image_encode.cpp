// Choosing the writer of a format and laying out the rows it is given.
#include "image/image_writers.h"

#include <cstdint>
#include <cstring>

#include "image/png_encoder.h"

bool AllOpaque(const CPixelImage& image) {
    if (image.bytesPerPixel != 4) return true;
    // Every pixel's four bytes ANDed together, as words the compiler takes many at a time.
    const size_t count = image.ByteCount() / 4;
    const unsigned char* at = image.pixels;
    uint32_t all = 0xFFFFFFFFu;
    const size_t block = 4096;
    for (size_t done = 0; done < count; done += block) {
        const size_t end = done + block < count ? done + block : count;
        for (size_t i = done; i < end; ++i) {
            uint32_t word;
            std::memcpy(&word, at + i * 4, 4);
            all &= word;
        }
        if ((all >> 24) != 0xFF) return false;
    }
    return true;
}

int WrittenChannels(const CPixelImage& image, AlphaWritten alpha) {
    if (image.bytesPerPixel == 1) return 1;
    if (image.bytesPerPixel == 3 || alpha == AlphaWritten::Never) return 3;
    if (alpha == AlphaWritten::Always) return 4;
    return AllOpaque(image) ? 3 : 4;
}

namespace {

inline uint32_t Load32(const unsigned char* at) {
    uint32_t word;
    std::memcpy(&word, at, 4);
    return word;
}

inline void Store32(unsigned char* at, uint32_t word) { std::memcpy(at, &word, 4); }

// The three colour bytes of a pixel word read from R, G, B, A in memory (little-endian), in
// the low three bytes: R first for RGB, B first for BGR.
inline uint32_t Colour(uint32_t pixel, bool bgr) {
    return bgr ? __builtin_bswap32(pixel) >> 8 : pixel & 0xFFFFFFu;
}

}  // namespace

unsigned char PackRgbaRow(const unsigned char* rgba, size_t width, bool bgr, unsigned char* out) {
    // Four pixels at a time as three whole words: a byte at a time took three times as long.
    uint32_t all = 0xFFFFFFFFu;
    size_t x = 0;
    for (; x + 4 <= width; x += 4, rgba += 16, out += 12) {
        const uint32_t w0 = Load32(rgba), w1 = Load32(rgba + 4), w2 = Load32(rgba + 8), w3 = Load32(rgba + 12);
        all &= w0 & w1 & w2 & w3;
        const uint32_t p0 = Colour(w0, bgr), p1 = Colour(w1, bgr), p2 = Colour(w2, bgr), p3 = Colour(w3, bgr);
        Store32(out, p0 | p1 << 24);
        Store32(out + 4, p1 >> 8 | p2 << 16);
        Store32(out + 8, p2 >> 16 | p3 << 8);
    }
    for (; x < width; ++x, rgba += 4, out += 3) {
        out[0] = rgba[bgr ? 2 : 0];
        out[1] = rgba[1];
        out[2] = rgba[bgr ? 0 : 2];
        all &= static_cast<uint32_t>(rgba[3]) << 24 | 0xFFFFFFu;
    }
    return static_cast<unsigned char>(all >> 24);
}

bool ConvertRow(const CPixelImage& image, int y, int channels, unsigned char* out) {
    const int from = image.bytesPerPixel;
    const size_t width = static_cast<size_t>(image.width);
    const unsigned char* row = image.pixels + static_cast<size_t>(y) * width * static_cast<size_t>(from);
    if (from == channels) {
        std::memcpy(out, row, width * static_cast<size_t>(channels));
    } else if (from == 4 && channels == 3) {
        return PackRgbaRow(row, width, false, out) == 0xFF;
    } else if (from == 3 && channels == 4) {
        for (size_t x = 0; x < width; ++x) {
            out[x * 4] = row[x * 3];
            out[x * 4 + 1] = row[x * 3 + 1];
            out[x * 4 + 2] = row[x * 3 + 2];
            out[x * 4 + 3] = 255;
        }
    } else if (from == 1) {
        for (size_t x = 0; x < width; ++x) {
            for (int k = 0; k < 3; ++k) out[x * channels + k] = row[x];
            if (channels == 4) out[x * 4 + 3] = 255;
        }
    }
    return true;
}

namespace {

// The PNG encoder takes RGBA only; other layouts are widened first.
int EncodePngOf(const CPixelImage& image, int level, std::vector<unsigned char>& bytes, std::string& reason) {
    if (image.bytesPerPixel == 4) return EncodePng(image, level, bytes, reason);
    CPixelImage rgba;
    rgba.Allocate(image.width, image.height, 4);
    if (rgba.IsEmpty()) {
        reason = "out of memory";
        return -1;
    }
    for (int y = 0; y < image.height; ++y) {
        ConvertRow(image, y, 4, rgba.pixels + static_cast<size_t>(y) * image.width * 4);
    }
    return EncodePng(rgba, level, bytes, reason);
}

// A writer that drops the alpha of an opaque picture, called first for three channels, stopping
// at the first row with transparency, then for four only when it found one: one pass over the
// picture instead of a check of every alpha before the encode.
template <class Encode>
int OpaqueFirst(const CPixelImage& image, AlphaWritten alpha, const Encode& encode) {
    if (image.bytesPerPixel != 4 || alpha != AlphaWritten::UnlessOpaque) {
        return encode(WrittenChannels(image, alpha), nullptr);
    }
    bool opaque = true;
    const int result = encode(3, &opaque);
    return result != 0 || opaque ? result : encode(4, nullptr);
}

int EncodeWith(const WritableFormat& format, const ImageWriteSettings& settings, const CPixelImage& image,
               std::vector<unsigned char>& bytes, std::string& reason) {
    switch (format.writer) {
        case ImageWriter::Png: return EncodePngOf(image, settings.level, bytes, reason);
        case ImageWriter::Jpeg: return EncodeJpeg(image, settings.quality, settings.subsampling == "4:4:4", bytes, reason);
        case ImageWriter::Tiff:
            return OpaqueFirst(image, format.alpha, [&](int channels, bool* opaque) {
                return EncodeTiff(image, channels, settings.compression, bytes, reason, opaque);
            });
        case ImageWriter::Bmp:
            return OpaqueFirst(image, format.alpha, [&](int channels, bool* opaque) {
                return EncodeBmp(image, channels, bytes, reason, opaque);
            });
        case ImageWriter::Tga: return EncodeTga(image, WrittenChannels(image, format.alpha), bytes, reason);
        case ImageWriter::Webp: return EncodeWebp(image, settings.lossless == 1, settings.quality, bytes, reason);
        case ImageWriter::Library: return EncodeWithLibrary(format, image, bytes, reason);
    }
    reason = "no writer for " + std::string(format.name);
    return -1;
}

}  // namespace

int EncodeImage(const WritableFormat& format, const ImageWriteSettings& given, const CPixelImage& image,
                std::vector<unsigned char>& bytes, std::string& reason) {
    // A buffer kept from an earlier file is left as it is until its writer fills it: a writer
    // that sets every byte (BMP) then need not clear it first.
    const std::string problem = WriteSettingsProblem(format, given);
    if (!problem.empty()) {
        bytes.clear();
        reason = problem;
        return -1;
    }
    const bool layoutKnown = image.bytesPerPixel == 1 || image.bytesPerPixel == 3 || image.bytesPerPixel == 4;
    if (image.IsEmpty() || image.width <= 0 || image.height <= 0 || !layoutKnown) {
        bytes.clear();
        reason = image.IsEmpty() ? "the image is empty" : "the image has no layout a file can take";
        return -2;
    }
    const int result = EncodeWith(format, SettingsWithDefaults(format, given), image, bytes, reason);
    if (result != 0) bytes.clear();
    return result;
}

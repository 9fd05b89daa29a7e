#include "cli/frame_stream.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "files/write_all.h"
#include "image/png_encoder.h"

namespace {

// BT.709 luma weights; the matrix in 16-bit fixed point, scaled to limited range (219 steps
// of luma, 224 of chroma, over 255 of each R'G'B' channel).
constexpr double kKr = 0.2126, kKb = 0.0722, kKg = 1.0 - kKr - kKb;
constexpr double kLumaScale = 219.0 / 255.0, kChromaScale = 224.0 / 255.0;

constexpr int32_t Fixed(double x) { return static_cast<int32_t>(x * 65536.0 + (x >= 0.0 ? 0.5 : -0.5)); }

constexpr int32_t kYr = Fixed(kLumaScale * kKr), kYg = Fixed(kLumaScale * kKg), kYb = Fixed(kLumaScale * kKb);
constexpr int32_t kCbR = Fixed(-kChromaScale * kKr / (2.0 * (1.0 - kKb)));
constexpr int32_t kCbG = Fixed(-kChromaScale * kKg / (2.0 * (1.0 - kKb)));
constexpr int32_t kCbB = Fixed(kChromaScale * 0.5);
constexpr int32_t kCrR = Fixed(kChromaScale * 0.5);
constexpr int32_t kCrG = Fixed(-kChromaScale * kKg / (2.0 * (1.0 - kKr)));
constexpr int32_t kCrB = Fixed(-kChromaScale * kKb / (2.0 * (1.0 - kKr)));

// One chroma sample from channel sums over `count` pixels, rounded to nearest; the offset of
// 128 keeps the numerator positive, so that integer division rounds as intended.
unsigned char Chroma(int64_t r, int64_t g, int64_t b, int32_t kr, int32_t kg, int32_t kb, int count) {
    const int64_t unit = int64_t(count) << 16;
    const int64_t numerator = kr * r + kg * g + kb * b + 128 * unit + unit / 2;
    return static_cast<unsigned char>(numerator / unit);
}

}  // namespace

void RgbaToYuv420(const CPixelImage& image, std::vector<unsigned char>& planes) {
    const int width = image.width, height = image.height;
    const int chromaWidth = (width + 1) / 2, chromaHeight = (height + 1) / 2;
    const size_t lumaSize = size_t(width) * height, chromaSize = size_t(chromaWidth) * chromaHeight;
    planes.resize(lumaSize + 2 * chromaSize);
    unsigned char* luma = planes.data();
    unsigned char* cb = luma + lumaSize;
    unsigned char* cr = cb + chromaSize;
    const unsigned char* pixels = image.pixels;
    for (size_t i = 0; i < lumaSize; ++i) {
        const unsigned char* p = pixels + i * 4;
        luma[i] = static_cast<unsigned char>((kYr * p[0] + kYg * p[1] + kYb * p[2] + (16 << 16) + (1 << 15)) >> 16);
    }
    for (int cy = 0; cy < chromaHeight; ++cy) {
        for (int cx = 0; cx < chromaWidth; ++cx) {
            int64_t r = 0, g = 0, b = 0;
            int count = 0;
            for (int y = 2 * cy; y < 2 * cy + 2 && y < height; ++y) {
                for (int x = 2 * cx; x < 2 * cx + 2 && x < width; ++x) {
                    const unsigned char* p = pixels + (size_t(y) * width + x) * 4;
                    r += p[0];
                    g += p[1];
                    b += p[2];
                    ++count;
                }
            }
            const size_t at = size_t(cy) * chromaWidth + cx;
            cb[at] = Chroma(r, g, b, kCbR, kCbG, kCbB, count);
            cr[at] = Chroma(r, g, b, kCrR, kCrG, kCrB, count);
        }
    }
}

CFrameStream::CFrameStream(int descriptor, StreamFormat streamFormat, int num, int den, int level)
    : fd(descriptor), format(streamFormat), fpsNum(num), fpsDen(den), pngLevel(level) {}

int CFrameStream::WriteFrame(const CPixelImage& frame, std::string& reason) {
    char header[160];
    bytes.clear();
    if (format == StreamFormat::Png) {
        if (EncodePng(frame, pngLevel, bytes, reason) != 0) return -1;
    } else if (format == StreamFormat::Ppm) {
        const int length = std::snprintf(header, sizeof header, "P6\n%d %d\n255\n", frame.width, frame.height);
        const size_t pixelCount = size_t(frame.width) * frame.height;
        bytes.resize(static_cast<size_t>(length) + pixelCount * 3);
        std::memcpy(bytes.data(), header, static_cast<size_t>(length));
        unsigned char* out = bytes.data() + length;
        for (size_t i = 0; i < pixelCount; ++i, out += 3) std::memcpy(out, frame.pixels + i * 4, 3);
    } else {
        // The stream header goes out once, with the first frame, whose size it states.
        int length = 0;
        if (framesWritten == 0) {
            length = std::snprintf(header, sizeof header,
                                   "YUV4MPEG2 W%d H%d F%d:%d Ip A1:1 C420jpeg XYSCSS=420JPEG XCOLORRANGE=LIMITED\n",
                                   frame.width, frame.height, fpsNum, fpsDen);
        }
        length += std::snprintf(header + length, sizeof header - static_cast<size_t>(length), "FRAME\n");
        std::vector<unsigned char> planes;
        RgbaToYuv420(frame, planes);
        bytes.assign(header, header + length);
        bytes.insert(bytes.end(), planes.begin(), planes.end());
    }
    if (WriteAllBytes(bytes.data(), bytes.size(), reason) != 0) return -1;
    ++framesWritten;
    return 0;
}

int CFrameStream::WriteAllBytes(const unsigned char* data, size_t size, std::string& reason) {
    if (WriteAll(fd, data, size)) return 0;
    const int error = errno;
    reason = error == EPIPE ? "the program reading the standard output stopped after " + std::to_string(framesWritten) +
                                  " frame" + (framesWritten == 1 ? "" : "s")
                            : std::string("the standard output could not be written: ") + std::strerror(error);
    return -1;
}

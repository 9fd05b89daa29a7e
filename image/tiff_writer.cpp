// TIFF files by libtiff, in memory: one page of 8-bit grey, RGB or RGBA (straight alpha) in
// strips, uncompressed unless asked for LZW, deflate or PackBits. The library's messages come
// back as the reason of a failure; nothing is printed and no process-wide handler is changed.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "image/image_writers.h"

namespace {

// The growing file the library writes into, and its last error message.
struct TiffSink {
    std::vector<unsigned char>* bytes = nullptr;
    toff_t position = 0;
    bool failed = false;
    std::string message;
};

tmsize_t SinkRead(thandle_t handle, void* data, tmsize_t size) {
    TiffSink* sink = static_cast<TiffSink*>(handle);
    if (sink->position >= sink->bytes->size() || size < 0) return 0;
    const size_t count = std::min(static_cast<size_t>(size), static_cast<size_t>(sink->bytes->size() - sink->position));
    std::memcpy(data, sink->bytes->data() + sink->position, count);
    sink->position += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t SinkWrite(thandle_t handle, void* data, tmsize_t size) {
    TiffSink* sink = static_cast<TiffSink*>(handle);
    if (size < 0) return -1;
    const size_t end = static_cast<size_t>(sink->position) + static_cast<size_t>(size);
    try {
        if (end > sink->bytes->size()) {
            if (end > sink->bytes->capacity()) sink->bytes->reserve(std::max(end, sink->bytes->capacity() * 2));
            sink->bytes->resize(end);
        }
    } catch (const std::bad_alloc&) {
        sink->failed = true;
        return -1;
    }
    std::memcpy(sink->bytes->data() + sink->position, data, static_cast<size_t>(size));
    sink->position = end;
    return size;
}

toff_t SinkSeek(thandle_t handle, toff_t offset, int whence) {
    TiffSink* sink = static_cast<TiffSink*>(handle);
    const toff_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? sink->position : sink->bytes->size();
    sink->position = base + offset;
    return sink->position;
}

int SinkClose(thandle_t) { return 0; }
toff_t SinkSize(thandle_t handle) { return static_cast<TiffSink*>(handle)->bytes->size(); }
int NoMap(thandle_t, void**, toff_t*) { return 0; }
void NoUnmap(thandle_t, void*, toff_t) {}

int KeepError(TIFF*, void* data, const char* module, const char* format, va_list arguments) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    static_cast<TiffSink*>(data)->message = std::string(module != nullptr ? module : "TIFF") + ": " + text;
    return 1;  // handled: nothing printed
}

int IgnoreWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

uint16_t CompressionCode(const std::string& name) {
    if (name == "lzw") return COMPRESSION_LZW;
    if (name == "deflate") return COMPRESSION_ADOBE_DEFLATE;
    if (name == "packbits") return COMPRESSION_PACKBITS;
    return COMPRESSION_NONE;
}

// Sets the page's tags and writes its strips; false on the library's first error. With `opaque`,
// stops at the first row whose dropped alpha is not 255 and sets it false.
bool WritePage(TIFF* tiff, const CPixelImage& image, int channels, uint16_t compression, bool* opaque) {
    const uint32_t width = static_cast<uint32_t>(image.width), height = static_cast<uint32_t>(image.height);
    const size_t rowBytes = static_cast<size_t>(width) * static_cast<size_t>(channels);
    // Strips of about 256 kB: few calls, and a reader need not hold much at once.
    const uint32_t rowsPerStrip = static_cast<uint32_t>(std::max<size_t>(1, std::min<size_t>(height, (256 << 10) / rowBytes)));
    const bool predict = compression == COMPRESSION_LZW || compression == COMPRESSION_ADOBE_DEFLATE;
    bool ok = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width) && TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height) &&
              TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8) &&
              TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(channels)) &&
              TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, channels == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB) &&
              TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
              TIFFSetField(tiff, TIFFTAG_COMPRESSION, compression) &&
              TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    if (ok && predict) ok = TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    if (ok && channels == 4) {
        const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        ok = TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    if (!ok) return false;
    // The library may change a strip it is given (the predictor works in place), so each goes
    // through a buffer of its own, laid out as the file wants it.
    std::vector<unsigned char> strip(rowBytes * rowsPerStrip);
    for (uint32_t first = 0, index = 0; first < height; first += rowsPerStrip, ++index) {
        const uint32_t rows = std::min(rowsPerStrip, height - first);
        for (uint32_t r = 0; r < rows; ++r) {
            if (!ConvertRow(image, static_cast<int>(first + r), channels, strip.data() + r * rowBytes) && opaque != nullptr) {
                *opaque = false;
                return true;
            }
        }
        // An uncompressed strip is its own encoding: written raw, it skips the library's copy.
        const tmsize_t size = static_cast<tmsize_t>(rows * rowBytes);
        const tmsize_t done = compression == COMPRESSION_NONE ? TIFFWriteRawStrip(tiff, index, strip.data(), size)
                                                              : TIFFWriteEncodedStrip(tiff, index, strip.data(), size);
        if (done < 0) return false;
    }
    return TIFFWriteDirectory(tiff) != 0;
}

}  // namespace

int EncodeTiff(const CPixelImage& image, int channels, const std::string& compression,
               std::vector<unsigned char>& bytes, std::string& reason, bool* opaque) {
    bytes.clear();
    TiffSink sink;
    sink.bytes = &bytes;
    const uint16_t code = CompressionCode(compression);
    if (code == COMPRESSION_NONE) {
        bytes.reserve(static_cast<size_t>(image.width) * image.height * static_cast<size_t>(channels) + 4096);
    }
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr) {
        reason = "out of memory";
        return -1;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options, KeepError, &sink);
    TIFFOpenOptionsSetWarningHandlerExtR(options, IgnoreWarning, &sink);
    // "m": no memory mapping of the sink.
    TIFF* tiff = TIFFClientOpenExt("image.tif", "wm", &sink, SinkRead, SinkWrite, SinkSeek, SinkClose, SinkSize, NoMap,
                                   NoUnmap, options);
    TIFFOpenOptionsFree(options);
    bool ok = tiff != nullptr && WritePage(tiff, image, channels, code, opaque);
    if (tiff != nullptr) TIFFClose(tiff);
    if (!ok || sink.failed) {
        reason = sink.failed ? "out of memory while encoding the image"
                             : "TIFF encoder: " + (sink.message.empty() ? std::string("could not write the page") : sink.message);
        bytes.clear();
        return -1;
    }
    return 0;
}

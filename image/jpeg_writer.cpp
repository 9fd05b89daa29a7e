// JPEG files by libjpeg-turbo, in memory: the rows go to the compressor as they are stored
// (grey, RGB, or RGBA whose alpha it skips), chroma at 4:2:0 or 4:4:4.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

#include "image/image_writers.h"

namespace {

struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf escape;
    char message[JMSG_LENGTH_MAX];
};

void EscapeOnError(j_common_ptr info) {
    JpegErrors* errors = reinterpret_cast<JpegErrors*>(info->err);
    errors->manager.format_message(info, errors->message);
    std::longjmp(errors->escape, 1);
}

void IgnoreMessage(j_common_ptr, int) {}

// The compression itself, with nothing but plain data between setjmp and longjmp. 0, or -1
// with the library's message in `errors`.
int Compress(const CPixelImage& image, int quality, bool fullChroma, unsigned char** out, unsigned long* size,
             JpegErrors& errors) {
    jpeg_compress_struct info;
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = EscapeOnError;
    errors.manager.emit_message = IgnoreMessage;
    if (setjmp(errors.escape) != 0) {
        jpeg_destroy_compress(&info);
        return -1;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, out, size);
    info.image_width = static_cast<JDIMENSION>(image.width);
    info.image_height = static_cast<JDIMENSION>(image.height);
    info.input_components = image.bytesPerPixel;
    info.in_color_space = image.bytesPerPixel == 1 ? JCS_GRAYSCALE : image.bytesPerPixel == 3 ? JCS_RGB : JCS_EXT_RGBA;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    if (fullChroma && image.bytesPerPixel != 1) {
        info.comp_info[0].h_samp_factor = 1;
        info.comp_info[0].v_samp_factor = 1;
    }
    jpeg_start_compress(&info, TRUE);
    const size_t stride = static_cast<size_t>(image.width) * static_cast<size_t>(image.bytesPerPixel);
    JSAMPROW rows[16];
    while (info.next_scanline < info.image_height) {
        JDIMENSION count = 0;
        for (; count < 16 && info.next_scanline + count < info.image_height; ++count) {
            rows[count] = image.pixels + static_cast<size_t>(info.next_scanline + count) * stride;
        }
        jpeg_write_scanlines(&info, rows, count);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return 0;
}

}  // namespace

int EncodeJpeg(const CPixelImage& image, int quality, bool fullChroma, std::vector<unsigned char>& bytes,
               std::string& reason) {
    unsigned char* out = nullptr;
    unsigned long size = 0;
    JpegErrors errors;
    const int result = Compress(image, quality, fullChroma, &out, &size, errors);
    if (result == 0 && out != nullptr) {
        try {
            bytes.assign(out, out + size);
        } catch (...) {
            std::free(out);
            reason = "out of memory";
            return -1;
        }
    }
    std::free(out);
    if (result != 0) reason = std::string("JPEG encoder: ") + errors.message;
    return result;
}

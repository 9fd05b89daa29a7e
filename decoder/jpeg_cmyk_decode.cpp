// Four-channel (CMYK and YCCK) JPEG through libjpeg-turbo, which the general image library
// turns into wrong colours. Files with an Adobe marker store the inks inverted (255 = no ink),
// as Adobe's programs write them; files without one store them plainly. The ink is turned into
// RGB without a colour profile: each channel is what its ink and the black leave of the light.
// JPEG with one or three channels is left to the image library.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>  // needs size_t and FILE declared first
#include <jerror.h>

#include "decoder/decode_limits.h"
#include "decoder/format_decoders.h"

namespace {

struct ErrorTrap {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    bool endedEarly;
    char message[JMSG_LENGTH_MAX];
};

void OnError(j_common_ptr info) {
    ErrorTrap* trap = reinterpret_cast<ErrorTrap*>(info->err);
    (*info->err->format_message)(info, trap->message);
    std::longjmp(trap->jump, 1);
}

// Warnings are kept quiet but two: scan data that ends (at the end of the bytes, or at a marker)
// before the picture does stops the decode at once, rather than after the decoder has made up
// the rest of a possibly huge picture.
void OnMessage(j_common_ptr info, int level) {
    ErrorTrap* trap = reinterpret_cast<ErrorTrap*>(info->err);
    int code = info->err->msg_code;
    if (level < 0 && (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER)) {
        trap->endedEarly = true;
        std::longjmp(trap->jump, 1);
    }
}

unsigned char Light(unsigned ink, unsigned black) { return static_cast<unsigned char>((ink * black + 127) / 255); }

// Reads the scan into `out` (already sized), four ink bytes per pixel. Only plain data lives in
// this frame, so the jump back from libjpeg's error handler skips no destructor.
int ReadInks(jpeg_decompress_struct& info, ErrorTrap& trap, DecodedImage& out) {
    if (setjmp(trap.jump)) return -1;
    jpeg_start_decompress(&info);
    if (info.output_components != 4 || static_cast<int>(info.output_width) != out.width ||
        static_cast<int>(info.output_height) != out.height) {
        std::snprintf(trap.message, sizeof trap.message, "the decoder gave no four-channel picture");
        return -1;
    }
    unsigned char* base = out.Pixels();
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = base + static_cast<size_t>(info.output_scanline) * out.width * 4;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    return 0;
}

int ReadHeader(jpeg_decompress_struct& info, ErrorTrap& trap, const unsigned char* data, size_t size) {
    if (setjmp(trap.jump)) return -1;
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    return 0;
}

}  // namespace

int DecodeCmykJpeg(const unsigned char* data, size_t size, const ImageHeader& header, DecodedImage& out,
                   std::string& reason) {
    if (header.channels != 4) return 0;  // one or three channels: the image library's
    jpeg_decompress_struct info;
    ErrorTrap trap;
    std::memset(&info, 0, sizeof info);
    std::memset(&trap, 0, sizeof trap);
    info.err = jpeg_std_error(&trap.manager);
    trap.manager.error_exit = OnError;
    trap.manager.emit_message = OnMessage;
    if (ReadHeader(info, trap, data, size) != 0) {
        jpeg_destroy_decompress(&info);
        reason = std::string("the CMYK JPEG header could not be read: ") + trap.message;
        return -1;
    }
    if (info.jpeg_color_space != JCS_CMYK && info.jpeg_color_space != JCS_YCCK) {
        jpeg_destroy_decompress(&info);
        return 0;  // four channels of some other kind: the image library's to judge
    }
    if (!WithinDecodeLimits(info.image_width, info.image_height, "JPEG", reason)) {
        jpeg_destroy_decompress(&info);
        return -1;
    }
    info.out_color_space = JCS_CMYK;
    bool inverted = info.saw_Adobe_marker;
    AllocateDecoded(static_cast<int>(info.image_width), static_cast<int>(info.image_height), out);
    int status = ReadInks(info, trap, out);
    jpeg_destroy_decompress(&info);
    if (trap.endedEarly) {
        reason = "the JPEG data ends early";
        return -1;
    }
    if (status != 0) {
        reason = std::string("the CMYK JPEG could not be decoded: ") + trap.message;
        return -1;
    }
    for (size_t i = 0; i < out.PixelBytes(); i += 4) {
        unsigned char* p = &out.Pixels()[i];
        unsigned c = p[0], m = p[1], y = p[2], k = p[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        p[0] = Light(c, k);
        p[1] = Light(m, k);
        p[2] = Light(y, k);
        p[3] = 255;
    }
    return 1;
}

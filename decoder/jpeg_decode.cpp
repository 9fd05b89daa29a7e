// Every JPEG through libjpeg-turbo, with its default (accurate) DCT and smooth upsampling, rows
// written straight into the pixels' memory. Grey and colour pictures come out as RGBA from the
// library itself. Four-channel (CMYK and YCCK) pictures: files with an Adobe marker store the
// inks inverted (255 = no ink), as Adobe's programs write them; files without one store them
// plainly. The inks are converted by the file's colour profile; without one (or asked for the
// stored numbers) each channel is what its ink and the black leave of the light. Damaged scan data or data that ends early is refused,
// rather than shown with the decoder's made-up remainder.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>  // needs size_t and FILE declared first
#include <jerror.h>

#include "decoder/colour_convert.h"
#include "decoder/decode_limits.h"
#include "decoder/format_decoders.h"
#include "decoder/pixel_rows.h"

namespace {

// Encoders make a dozen scans, a few dozen at most; each scan of a progressive picture is
// another pass over all its blocks, so a small file of thousands of refinements costs minutes.
constexpr int kMaxJpegScans = 1000;

struct ErrorTrap {
    jpeg_error_mgr manager;
    jpeg_progress_mgr progress;
    std::jmp_buf jump;
    bool endedEarly;
    bool corrupt;
    bool tooManyScans;
    char message[JMSG_LENGTH_MAX];
};

// Called as the input is taken in, scan by scan: stops a file that goes on past kMaxJpegScans.
void OnProgress(j_common_ptr info) {
    ErrorTrap* trap = reinterpret_cast<ErrorTrap*>(info->err);
    if (reinterpret_cast<j_decompress_ptr>(info)->input_scan_number <= kMaxJpegScans) return;
    trap->tooManyScans = true;
    std::longjmp(trap->jump, 1);
}

void OnError(j_common_ptr info) {
    ErrorTrap* trap = reinterpret_cast<ErrorTrap*>(info->err);
    (*info->err->format_message)(info, trap->message);
    std::longjmp(trap->jump, 1);
}

// Warnings are kept quiet but those of damaged or missing scan data, which stop the decode at
// once, rather than after the decoder has made up the rest of a possibly huge picture. Stray
// bytes between markers (which many cameras leave) and unknown marker contents are no damage.
void OnMessage(j_common_ptr info, int level) {
    ErrorTrap* trap = reinterpret_cast<ErrorTrap*>(info->err);
    int code = info->err->msg_code;
    if (level >= 0) return;
    if (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER) {
        trap->endedEarly = true;
        std::longjmp(trap->jump, 1);
    }
    if (code == JWRN_HUFF_BAD_CODE || code == JWRN_ARITH_BAD_CODE || code == JWRN_MUST_RESYNC) {
        (*info->err->format_message)(info, trap->message);
        trap->corrupt = true;
        std::longjmp(trap->jump, 1);
    }
}

unsigned char Light(unsigned ink, unsigned black) { return static_cast<unsigned char>((ink * black + 127) / 255); }

// Reads the scan into `rows` (for `out`, already sized), four bytes per pixel: RGBA, or the
// inks of a four-channel picture; `failure` says why rows could not be kept. Only plain data
// lives in this frame, so the jump back from libjpeg's error handler skips no destructor.
int ReadRows(jpeg_decompress_struct& info, ErrorTrap& trap, const DecodedImage& out, PixelRows& rows,
             std::string& failure) {
    if (setjmp(trap.jump)) return -1;
    jpeg_start_decompress(&info);
    if (info.output_components != 4 || static_cast<int>(info.output_width) != out.width ||
        static_cast<int>(info.output_height) != out.height) {
        std::snprintf(trap.message, sizeof trap.message, "the decoder gave no four-byte pixels");
        return -1;
    }
    const size_t rowBytes = static_cast<size_t>(out.width) * 4;
    while (info.output_scanline < info.output_height) {
        JSAMPROW at[8];
        unsigned char* next = rows.Next();
        JDIMENSION count = 0;
        for (; count < 8 && static_cast<int>(count) < rows.Room() && info.output_scanline + count < info.output_height;
             ++count) {
            at[count] = next + count * rowBytes;
        }
        JDIMENSION made = jpeg_read_scanlines(&info, at, count);
        if (rows.Made(static_cast<int>(made), failure) != 0) return -1;
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

int DecodeJpeg(const unsigned char* data, size_t size, const ImageHeader&, DecodedImage& out, std::string& reason) {
    jpeg_decompress_struct info;
    ErrorTrap trap;
    std::memset(&info, 0, sizeof info);
    std::memset(&trap, 0, sizeof trap);
    info.err = jpeg_std_error(&trap.manager);
    trap.manager.error_exit = OnError;
    trap.manager.emit_message = OnMessage;
    if (ReadHeader(info, trap, data, size) != 0) {
        jpeg_destroy_decompress(&info);
        reason = trap.endedEarly ? "the JPEG data ends early"
                                 : std::string("the JPEG header could not be read: ") + trap.message;
        return -1;
    }
    bool inks = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    if (!inks && info.num_components != 1 && info.num_components != 3) {
        jpeg_destroy_decompress(&info);
        reason = "this kind of JPEG file (" + std::to_string(info.num_components) + " channels) is not supported";
        return -1;
    }
    if (!WithinDecodeLimits(info.image_width, info.image_height, "JPEG", reason)) {
        jpeg_destroy_decompress(&info);
        return -1;
    }
    info.out_color_space = inks ? JCS_CMYK : JCS_EXT_RGBA;
    bool inverted = info.saw_Adobe_marker;
    if (ReservePixels(static_cast<int>(info.image_width), static_cast<int>(info.image_height), out) == nullptr) {
        jpeg_destroy_decompress(&info);
        reason = "the JPEG image needs more memory than the decoder may take";
        return -1;
    }
    // Set once the header is read: creating the decompressor clears the field.
    trap.progress.progress_monitor = OnProgress;
    info.progress = &trap.progress;
    // Colour pictures with a profile are converted row by row, while the decoder goes on; the
    // conversion is prepared by the rows' thread as the first rows are made, and outlives the
    // rows, whose thread may still be converting when they end.
    ColourConversion conversion;
    PixelRows rows(out);
    if (!inks) {
        const bool grey = info.num_components == 1;
        rows.ConvertOnTheWay([data, size, grey, &conversion, &out]() -> const ColourConversion* {
            return PrepareRowConversion(data, size, ImageFormat::kJpeg, grey, conversion, out) ? &conversion : nullptr;
        });
    }
    std::string failure;
    int status = ReadRows(info, trap, out, rows, failure);
    jpeg_destroy_decompress(&info);
    if (trap.endedEarly) {
        reason = "the JPEG data ends early";
        return -1;
    }
    if (trap.tooManyScans) {
        reason = "the JPEG file holds more than " + std::to_string(kMaxJpegScans) + " scans";
        return -1;
    }
    if (trap.corrupt) {
        reason = std::string("the JPEG data is damaged: ") + trap.message;
        return -1;
    }
    if (!failure.empty()) {
        reason = failure;
        return -1;
    }
    if (status != 0) {
        reason = std::string("the JPEG image could not be decoded: ") + trap.message;
        return -1;
    }
    if (!inks || ConvertInks(data, size, inverted, out)) return 1;
    unsigned char* pixels = out.Pixels();
    for (size_t i = 0; i < out.PixelBytes(); i += 4) {
        unsigned char* p = pixels + i;
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

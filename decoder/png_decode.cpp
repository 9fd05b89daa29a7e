// PNG through libspng, decoded straight into the pixels' memory as 8-bit RGBA: palettes, grey
// and low bit depths widened, a tRNS chunk as alpha, 16-bit samples cut to their high byte (as
// the image library did), Adam7 interlace undone. A 16-bit picture with a colour description
// other than sRGB's is converted from its 16-bit samples; 8-bit ones are converted afterwards
// (decoder/colour_convert.h). A file whose image data is damaged or ends early is refused rather than shown in
// part; a damaged ancillary chunk is skipped.
#include <spng.h>

#include <cstring>
#include <vector>

#include "decoder/colour_convert.h"
#include "decoder/decode_limits.h"
#include "decoder/format_decoders.h"
#include "decoder/pixel_rows.h"
#include "decoder/png_chunk_check.h"

namespace {

// Text and profile chunks are kept within this many bytes each and in all: pictures need none.
const size_t kChunkBytes = 16u << 20;

struct Context {
    // The chunks' CRCs already guard the image data against damage; zlib's own checksum of the
    // inflated data would only repeat that.
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_IGNORE_ADLER32);
    ~Context() {
        if (ctx != nullptr) spng_ctx_free(ctx);
    }
};

std::string PngFault(int code) {
    switch (code) {
        case SPNG_EOF:
        case SPNG_EIDAT_TOO_SHORT:
        case SPNG_EIDAT_STREAM: return "the PNG data ends early or is damaged";
        case SPNG_EMEM: return "the PNG image needs more memory than the decoder may take";
        case SPNG_EUSER_WIDTH:
        case SPNG_EUSER_HEIGHT: return "the PNG image is larger than this program reads";
        default: return std::string("the PNG file is damaged: ") + spng_strerror(code);
    }
}

}  // namespace

int DecodePng(const unsigned char* data, size_t size, const ImageHeader&, DecodedImage& out, std::string& reason) {
    Context context;
    spng_ctx* ctx = context.ctx;
    if (ctx == nullptr) {
        reason = "the PNG decoder could not start";
        return -1;
    }
    // The CRCs are checked apart, the image data's on another core while it is inflated; only
    // a file with a damaged chunk before its image data is left to the library's own checks,
    // which skip a damaged ancillary chunk.
    PngChunkCheck chunks(data, size);
    if (chunks.HeadIntact()) spng_set_crc_action(ctx, SPNG_CRC_USE, SPNG_CRC_USE);
    spng_set_png_buffer(ctx, data, size);
    spng_set_image_limits(ctx, static_cast<uint32_t>(kMaxImageSide), static_cast<uint32_t>(kMaxImageSide));
    spng_set_chunk_limits(ctx, kChunkBytes, kChunkBytes);
    spng_ihdr ihdr;
    int status = spng_get_ihdr(ctx, &ihdr);
    if (status != 0) {
        reason = PngFault(status);
        return -1;
    }
    if (!WithinDecodeLimits(ihdr.width, ihdr.height, "PNG", reason)) return -1;
    size_t bytes = 0;
    status = spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &bytes);
    if (status != 0 || bytes != static_cast<size_t>(ihdr.width) * ihdr.height * 4) {
        reason = status != 0 ? PngFault(status) : "the PNG decoder disagrees about the picture's size";
        return -1;
    }
    unsigned char* pixels = ReservePixels(static_cast<int>(ihdr.width), static_cast<int>(ihdr.height), out);
    if (pixels == nullptr) {
        reason = PngFault(SPNG_EMEM);
        return -1;
    }
    // 16-bit samples with a colour description are converted before they are cut to 8 bits.
    ColourDescription colours;
    if (ihdr.bit_depth == 16 && !out.keepStoredColour) FindColourDescription(data, size, ImageFormat::kPng, colours);
    ColourConversion conversion;
    bool grey = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE || ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA;
    if ((colours.NeedsConversion() || colours.kind == ColourDescription::Kind::kUnusable) &&
        conversion.Prepare(colours, ColourSamples::kRgba16, grey, out)) {
        out.colourSeenTo = true;
        std::vector<unsigned char> wide;
        size_t wideBytes = 0;
        status = spng_decoded_image_size(ctx, SPNG_FMT_RGBA16, &wideBytes);
        if (status == 0) {
            wide.resize(wideBytes);
            status = spng_decode_image(ctx, wide.data(), wide.size(), SPNG_FMT_RGBA16, SPNG_DECODE_TRNS);
        }
        if (status == 0) conversion.Convert(wide.data(), pixels, static_cast<size_t>(ihdr.width) * ihdr.height);
    } else if (ihdr.interlace_method != SPNG_INTERLACE_NONE) {
        // Interlaced rows come pass by pass, each spread over the whole picture: those go straight
        // to the pixels. Other rows come in order, through the batches.
        status = spng_decode_image(ctx, pixels, bytes, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS);
    } else {
        // 8-bit colour without transparency, the usual photograph, comes as it is stored and is
        // widened on the way, which costs less than the library's own conversion.
        spng_trns trns;
        bool rgb = ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR && ihdr.bit_depth == 8 &&
                   spng_get_trns(ctx, &trns) == SPNG_ECHUNKAVAIL;
        int format = rgb ? SPNG_FMT_RGB8 : SPNG_FMT_RGBA8;
        status = spng_decode_image(ctx, nullptr, 0, format, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE);
        ColourConversion rowConversion;  // outlives the rows, whose thread may use it to the end
        PixelRows rows(out, rgb ? 3 : 4);
        rows.ConvertOnTheWay([data, size, grey, &rowConversion, &out]() -> const ColourConversion* {
            return PrepareRowConversion(data, size, ImageFormat::kPng, grey, rowConversion, out) ? &rowConversion
                                                                                                 : nullptr;
        });
        const size_t rowBytes = static_cast<size_t>(ihdr.width) * (rgb ? 3 : 4);
        for (uint32_t row = 0; status == 0 && row < ihdr.height; ++row) {
            status = spng_decode_row(ctx, rows.Next(), rowBytes);
            // The last row ends the image data: its status says so.
            if (status == SPNG_EOI && row + 1 == ihdr.height) status = 0;
            if (status == 0 && rows.Made(1, reason) != 0) return -1;
        }
    }
    // Damaged image data is named as such, whatever the decoder made of it.
    if (!chunks.DataIntact()) status = SPNG_ECHUNK_CRC;
    if (status != 0) {
        reason = PngFault(status);
        return -1;
    }
    return 1;
}

// WebP through libwebp: still pictures, lossy or lossless, with or without alpha.
#include <webp/decode.h>

#include <cstring>

#include "decoder/decode_limits.h"
#include "decoder/format_decoders.h"

bool LooksLikeWebp(const unsigned char* data, size_t size) {
    return size >= 12 && std::memcmp(data, "RIFF", 4) == 0 && std::memcmp(data + 8, "WEBP", 4) == 0;
}

int DecodeWebp(const unsigned char* data, size_t size, DecodedImage& out, std::string& reason) {
    WebPBitstreamFeatures features;
    VP8StatusCode status = WebPGetFeatures(data, size, &features);
    if (status == VP8_STATUS_NOT_ENOUGH_DATA) {
        reason = "the WebP data ends early";
        return -1;
    }
    if (status != VP8_STATUS_OK) {
        reason = "the WebP header is damaged";
        return -1;
    }
    if (features.has_animation) {
        reason = "the WebP file is an animation; only still WebP pictures are read";
        return -1;
    }
    if (!WithinDecodeLimits(features.width, features.height, "WebP", reason)) return -1;
    AllocateDecoded(features.width, features.height, out);
    if (WebPDecodeRGBAInto(data, size, out.rgba.data(), out.rgba.size(), out.width * 4) == nullptr) {
        // The header was whole, so a failure here is nearly always data cut short or damaged.
        reason = "the WebP picture data is damaged or ends early";
        return -1;
    }
    return 1;
}

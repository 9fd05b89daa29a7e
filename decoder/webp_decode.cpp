// WebP through libwebp: still pictures, lossy or lossless, with or without alpha, and the first
// frame of an animation.
#include <cstring>

#include "decoder/decode_limits.h"
#include "decoder/format_decoders.h"
#include "decoder/webp_library.h"

namespace {

// The first frame of an animated WebP, composed on the animation's canvas as it is first shown.
int DecodeFirstFrame(const WebpDemuxLibrary& demux, const unsigned char* data, size_t size, DecodedImage& out,
                     std::string& reason) {
    WebPData bytes = {data, size};
    WebPAnimDecoderOptions options;
    if (!demux.AnimDecoderOptionsInitInternal(&options, WEBP_DEMUX_ABI_VERSION)) {
        reason = "the WebP animation decoder could not start";
        return -1;
    }
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    WebPAnimDecoder* decoder = demux.AnimDecoderNewInternal(&bytes, &options, WEBP_DEMUX_ABI_VERSION);
    WebPAnimInfo info;
    if (decoder == nullptr || !demux.AnimDecoderGetInfo(decoder, &info)) {
        demux.AnimDecoderDelete(decoder);
        reason = "the WebP animation is damaged or ends early";
        return -1;
    }
    if (!WithinDecodeLimits(info.canvas_width, info.canvas_height, "WebP", reason)) {
        demux.AnimDecoderDelete(decoder);
        return -1;
    }
    uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (!demux.AnimDecoderGetNext(decoder, &canvas, &timestamp) || canvas == nullptr) {
        demux.AnimDecoderDelete(decoder);
        reason = "the first frame of the WebP animation is damaged or ends early";
        return -1;
    }
    if (ReservePixels(static_cast<int>(info.canvas_width), static_cast<int>(info.canvas_height), out) == nullptr) {
        demux.AnimDecoderDelete(decoder);
        reason = "the WebP image needs more memory than the decoder may take";
        return -1;
    }
    std::memcpy(out.Pixels(), canvas, out.PixelBytes());
    demux.AnimDecoderDelete(decoder);
    return 1;
}

}  // namespace

int DecodeWebp(const unsigned char* data, size_t size, const ImageHeader&, DecodedImage& out, std::string& reason) {
    // Both, as the helper loads them before its filter: which one a file needs shows only later.
    const WebpLibrary* webp = LoadWebpLibrary(reason);
    const WebpDemuxLibrary* demux = webp != nullptr ? LoadWebpDemuxLibrary(reason) : nullptr;
    if (demux == nullptr) return -1;
    WebPBitstreamFeatures features;
    VP8StatusCode status = webp->GetFeaturesInternal(data, size, &features, WEBP_DECODER_ABI_VERSION);
    if (status == VP8_STATUS_NOT_ENOUGH_DATA) {
        reason = "the WebP data ends early";
        return -1;
    }
    if (status != VP8_STATUS_OK) {
        reason = "the WebP header is damaged";
        return -1;
    }
    // For an animation this is the canvas, which the animation decoder allocates at once.
    if (!WithinDecodeLimits(features.width, features.height, "WebP", reason)) return -1;
    if (features.has_animation) return DecodeFirstFrame(*demux, data, size, out, reason);
    AllocateDecoded(features.width, features.height, out);
    if (webp->DecodeRGBAInto(data, size, out.Pixels(), out.PixelBytes(), out.width * 4) == nullptr) {
        // The header was whole, so a failure here is nearly always data cut short or damaged.
        reason = "the WebP picture data is damaged or ends early";
        return -1;
    }
    return 1;
}

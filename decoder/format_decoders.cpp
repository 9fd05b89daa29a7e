// The helper-side table of decoders, one row per format that has a decoder of its own.
#include "decoder/format_decoders.h"

namespace {

struct DecoderRow {
    ImageFormat format;
    FormatDecoder decode;
};

const DecoderRow kDecoders[] = {
    {ImageFormat::kWebp, DecodeWebp},
    {ImageFormat::kHeif, DecodeHeif},
    {ImageFormat::kBmp, DecodeBmp},
    {ImageFormat::kJpeg, DecodeJpeg},
    {ImageFormat::kPng, DecodePng},
    {ImageFormat::kTiff, DecodeTiff},
    {ImageFormat::kGif, DecodeGif},
};

}  // namespace

FormatDecoder DecoderFor(ImageFormat format) {
    for (const DecoderRow& row : kDecoders) {
        if (row.format == format) return row.decode;
    }
    return nullptr;
}

// The helper-side table of decoders, one row per format that has a decoder of its own.
#include "decoder/format_decoders.h"

#include "decoder/heif_library.h"

namespace {

int LoadHeif(std::string& reason) { return LoadHeifLibrary(reason) != nullptr ? 0 : -1; }

struct DecoderRow {
    ImageFormat format;
    FormatDecoder decode;
    // False when the decoder leaves some files of its format to the general image library (its 0).
    bool everyFile;
    // What the decoder opens at run time (decoder/run_time_library.h), or nullptr.
    int (*loadLibraries)(std::string& reason);
};

const DecoderRow kDecoders[] = {
    {ImageFormat::kWebp, DecodeWebp, true, nullptr},
    {ImageFormat::kHeif, DecodeHeif, true, LoadHeif},
    {ImageFormat::kBmp, DecodeBmp, false, nullptr},
    {ImageFormat::kJpeg, DecodeJpeg, true, nullptr},
    {ImageFormat::kPng, DecodePng, true, nullptr},
    {ImageFormat::kTiff, DecodeTiff, true, nullptr},
    {ImageFormat::kGif, DecodeGif, true, nullptr},
};

const DecoderRow* RowOf(ImageFormat format) {
    for (const DecoderRow& row : kDecoders) {
        if (row.format == format) return &row;
    }
    return nullptr;
}

}  // namespace

FormatDecoder DecoderFor(ImageFormat format) {
    const DecoderRow* row = RowOf(format);
    return row != nullptr ? row->decode : nullptr;
}

int LoadDecoderLibraries(ImageFormat format, std::string& reason) {
    const DecoderRow* row = RowOf(format);
    return row != nullptr && row->loadLibraries != nullptr ? row->loadLibraries(reason) : 0;
}

bool DecodesEveryFile(ImageFormat format) {
    const DecoderRow* row = RowOf(format);
    return row != nullptr && row->everyFile;
}

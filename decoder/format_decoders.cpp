// The helper-side table of decoders, one row per format that has a decoder of its own.
#include "decoder/format_decoders.h"

#include "decoder/gif_library.h"
#include "decoder/heif_library.h"
#include "decoder/stb_library.h"
#include "decoder/tiff_library.h"
#include "decoder/webp_library.h"

namespace {

// One library's loading as a row's loader: 0, or -1 with the reason.
template <typename Table, const Table* (*load)(std::string&)>
int Load(std::string& reason) {
    return load(reason) != nullptr ? 0 : -1;
}

int LoadWebp(std::string& reason) {
    return Load<WebpLibrary, LoadWebpLibrary>(reason) == 0 ? Load<WebpDemuxLibrary, LoadWebpDemuxLibrary>(reason) : -1;
}

struct DecoderRow {
    ImageFormat format;
    FormatDecoder decode;
    // False when the decoder leaves some files of its format to the general image library (its 0).
    bool everyFile;
    // What the decoder opens at run time (decoder/run_time_library.h), or nullptr.
    int (*loadLibraries)(std::string& reason);
};

const DecoderRow kDecoders[] = {
    {ImageFormat::kWebp, DecodeWebp, true, LoadWebp},
    {ImageFormat::kHeif, DecodeHeif, true, Load<HeifLibrary, LoadHeifLibrary>},
    {ImageFormat::kBmp, DecodeBmp, false, Load<StbLibrary, LoadStbLibrary>},
    {ImageFormat::kJpeg, DecodeJpeg, true, nullptr},
    {ImageFormat::kPng, DecodePng, true, nullptr},
    {ImageFormat::kTiff, DecodeTiff, true, Load<TiffLibrary, LoadTiffLibrary>},
    {ImageFormat::kGif, DecodeGif, true, Load<GifLibrary, LoadGifLibrary>},
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

// The helper-side table of decoders, one row per format the helper reads.
#include "decoder/format_decoders.h"

#include "decoder/layout_checks.h"

namespace {

using F = ImageFormat;
using L = RunTimeLibrary;
constexpr RunTimeLibrary kNo = RunTimeLibrary::kNone;

// The own decoders first; the rest the general image library decodes.
const DecoderRow kDecoders[] = {
    {F::kWebp, DecodeWebp, true, {L::kWebp, L::kWebpDemux}, IL_TYPE_UNKNOWN, nullptr, false},
    {F::kHeif, DecodeHeif, true, {L::kHeif, kNo}, IL_TYPE_UNKNOWN, nullptr, false},
    {F::kBmp, DecodeBmp, false, {L::kStb, kNo}, IL_BMP, nullptr, false},
    // A chunk that runs past the end is named before any decoder starts on the file.
    {F::kPng, DecodePng, true, {kNo, kNo}, IL_PNG, PngChunksFit, false},
    {F::kJpeg, DecodeJpeg, true, {kNo, kNo}, IL_JPG, nullptr, true},
    {F::kTiff, DecodeTiff, true, {L::kTiff, kNo}, IL_TIF, nullptr, true},
    {F::kGif, DecodeGif, true, {L::kGif, kNo}, IL_GIF, nullptr, false},
    {F::kMng, nullptr, false, {kNo, kNo}, IL_MNG, nullptr, false},
    {F::kPsd, nullptr, false, {kNo, kNo}, IL_PSD, nullptr, false},
    {F::kPcx, nullptr, false, {kNo, kNo}, IL_PCX, nullptr, false},
    {F::kDcx, nullptr, false, {kNo, kNo}, IL_DCX, nullptr, false},
    {F::kDds, nullptr, false, {kNo, kNo}, IL_DDS, nullptr, false},
    {F::kIco, nullptr, false, {kNo, kNo}, IL_ICO, IcoEntriesFit, false},
    {F::kIlbm, nullptr, false, {kNo, kNo}, IL_ILBM, nullptr, false},
    {F::kPic, nullptr, false, {kNo, kNo}, IL_PIC, PicChannelsFit, false},
    {F::kPnm, nullptr, false, {kNo, kNo}, IL_PNM, nullptr, false},
    {F::kSgi, nullptr, false, {kNo, kNo}, IL_SGI, nullptr, false},
    {F::kPsp, nullptr, false, {kNo, kNo}, IL_PSP, nullptr, false},
    {F::kLif, nullptr, false, {kNo, kNo}, IL_LIF, nullptr, false},
    {F::kPcd, nullptr, false, {kNo, kNo}, IL_PCD, nullptr, false},
    {F::kMdl, nullptr, false, {kNo, kNo}, IL_MDL, nullptr, false},
    {F::kWal, nullptr, false, {kNo, kNo}, IL_WAL, nullptr, false},
    {F::kCut, nullptr, false, {kNo, kNo}, IL_CUT, nullptr, false},
    {F::kTga, nullptr, false, {kNo, kNo}, IL_TGA, nullptr, false},
    {F::kRaw, nullptr, false, {kNo, kNo}, IL_RAW, nullptr, false},
};

const DecoderRow kNoDecoder = {F::kUnknown, nullptr, false, {kNo, kNo}, IL_TYPE_UNKNOWN, nullptr, false};

}  // namespace

const DecoderRow& DecoderRowOf(ImageFormat format) {
    for (const DecoderRow& row : kDecoders) {
        if (row.format == format) return row;
    }
    return kNoDecoder;
}

int LoadDecoderLibraries(ImageFormat format, std::string& reason) {
    const DecoderRow& row = DecoderRowOf(format);
    for (RunTimeLibrary library : row.libraries) {
        if (RunTimeLibraryOf(library).load(reason) != 0) return -1;
    }
    bool libraryMayDecode = row.libraryType != IL_TYPE_UNKNOWN && !row.everyFile;
    return libraryMayDecode ? RunTimeLibraryOf(RunTimeLibrary::kIl).load(reason) : 0;
}

int DecodeWithOwnDecoder(const unsigned char* data, size_t size, const ImageHeader& header, DecodedImage& out,
                         std::string& reason) {
    FormatDecoder decode = DecoderRowOf(header.format).decode;
    if (data == nullptr || size == 0 || decode == nullptr) return 0;
    std::string why;
    int status = decode(data, size, header, out, why);
    if (status < 0) {
        out.Reset();
        reason = why;
    }
    return status;
}

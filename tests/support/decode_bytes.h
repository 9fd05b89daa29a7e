// The decoding helper's entry and a format's own decoder on bytes in memory, with the format
// identified as the program identifies it (from the bytes, then the name). Decoder tests only.
#pragma once

#include <string>

#include "decoder/decode_image.h"
#include "decoder/format_decoders.h"
#include "image/format_sniff.h"

inline const unsigned char* BytesOf(const std::string& bytes) { return reinterpret_cast<const unsigned char*>(bytes.data()); }

// DecodeImage with the format the program would send the helper.
inline int DecodeWhole(const std::string& bytes, const std::string& name, DecodedImage& out, std::string& reason) {
    return DecodeImage(BytesOf(bytes), bytes.size(), IdentifyImageFormat(BytesOf(bytes), bytes.size(), name), out, reason);
}

// The format's own decoder (DecodeWithOwnDecoder) with the header the helper reads: 1, 0 or -1.
inline int DecodeOwn(const std::string& bytes, DecodedImage& out, std::string& reason) {
    ImageHeader header;
    ReadImageHeader(BytesOf(bytes), bytes.size(), IdentifyImageFormat(BytesOf(bytes), bytes.size(), ""), header);
    return DecodeWithOwnDecoder(BytesOf(bytes), bytes.size(), header, out, reason);
}

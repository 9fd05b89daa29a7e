// Hands the bytes to the decoder of the format the program identified; no second sniffing.
#include "decoder/extra_decode.h"

#include "decoder/format_decoders.h"

int DecodeExtra(const unsigned char* data, size_t size, const ImageHeader& header, DecodedImage& out,
                std::string& reason) {
    FormatDecoder decode = DecoderFor(header.format);
    if (data == nullptr || size == 0 || decode == nullptr) return 0;
    std::string why;
    int status = decode(data, size, header, out, why);
    if (status < 0) {
        out.Reset();
        reason = why;
    }
    return status;
}

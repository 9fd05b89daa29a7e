// Hands the bytes to the decoder of the format the program identified; no second sniffing.
#include "decoder/extra_decode.h"

#include <utility>

#include "decoder/format_decoders.h"

int DecodeExtra(const unsigned char* data, size_t size, const ImageHeader& header, DecodedImage& out,
                std::string& reason) {
    FormatDecoder decode = DecoderFor(header.format);
    if (data == nullptr || size == 0 || decode == nullptr) return 0;
    DecodedImage image;
    std::string why;
    int status = decode(data, size, header, image, why);
    if (status == 1) {
        out = std::move(image);
    } else if (status < 0) {
        reason = why;
    }
    return status;
}

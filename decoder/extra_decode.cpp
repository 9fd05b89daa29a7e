// Picks the extra decoder from the first bytes; the file's name plays no part.
#include "decoder/extra_decode.h"

#include <utility>

#include "decoder/format_decoders.h"

int DecodeExtra(const unsigned char* data, size_t size, DecodedImage& out, std::string& reason) {
    if (data == nullptr || size == 0) return 0;
    using Decoder = int (*)(const unsigned char*, size_t, DecodedImage&, std::string&);
    Decoder decode = nullptr;
    if (LooksLikeWebp(data, size)) {
        decode = DecodeWebp;
    } else if (LooksLikeHeif(data, size)) {
        decode = DecodeHeif;
    } else if (LooksLikeBmp(data, size)) {
        decode = DecodeBmp;
    } else if (LooksLikeJpeg(data, size)) {
        decode = DecodeCmykJpeg;
    } else if (LooksLikeTiff(data, size)) {
        decode = DecodeTiff;
    }
    if (decode == nullptr) return 0;

    DecodedImage image;
    std::string why;
    int status = decode(data, size, image, why);
    if (status == 1) {
        out = std::move(image);
    } else if (status < 0) {
        reason = why;
    }
    return status;
}

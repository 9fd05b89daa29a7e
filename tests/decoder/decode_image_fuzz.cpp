// libFuzzer target on the decoding helper's entry, in-process. The format is identified as the
// program identifies it, with the file name from QUARRO_FUZZ_NAME (say "x.tga"), so that formats
// without a signature are reached too. A decode that claims success must hand back exactly its pixels.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "decoder/decode_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string name = std::getenv("QUARRO_FUZZ_NAME") != nullptr ? std::getenv("QUARRO_FUZZ_NAME") : "";
    DecodedImage out;
    std::string reason;
    if (DecodeImage(data, size, IdentifyImageFormat(data, size, name), out, reason) == 0) {
        bool whole = out.width > 0 && out.height > 0 &&
                     out.PixelBytes() == static_cast<size_t>(out.width) * static_cast<size_t>(out.height) * 4;
        if (!whole) std::abort();
    } else if (reason.empty()) {
        std::abort();
    }
    return 0;
}

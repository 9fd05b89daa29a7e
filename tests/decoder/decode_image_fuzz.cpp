// libFuzzer target on the decoding helper's entry, in-process. The format is identified as the
// program identifies it, with the file name from QUARRO_FUZZ_NAME (say "x.tga"), so that formats
// without a signature are reached too. With QUARRO_FUZZ_ONLY set, inputs identified as another
// format than the name's extension gives are skipped: a run stays on its format instead of
// wandering off to the easiest signature. A decode that claims success must hand back exactly its pixels.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "decoder/decode_image.h"
#include "image/format_table.h"

namespace {

// The format whose row lists the name's extension; kUnknown when none does.
ImageFormat FormatOfExtension(const std::string& name) {
    std::string extension = name.substr(name.rfind('.') == std::string::npos ? name.size() : name.rfind('.') + 1);
    size_t count = 0;
    const ImageFormatRow* rows = ImageFormatRows(count);
    for (size_t i = 0; i < count; ++i) {
        std::istringstream listed(rows[i].extensions);
        for (std::string one; listed >> one;) {
            if (one == extension) return rows[i].format;
        }
    }
    return ImageFormat::kUnknown;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string name = std::getenv("QUARRO_FUZZ_NAME") != nullptr ? std::getenv("QUARRO_FUZZ_NAME") : "";
    static const ImageFormat only = std::getenv("QUARRO_FUZZ_ONLY") != nullptr ? FormatOfExtension(name) : ImageFormat::kUnknown;
    ImageFormat format = IdentifyImageFormat(data, size, name);
    if (only != ImageFormat::kUnknown && format != only) return -1;  // not kept in the corpus
    DecodedImage out;
    std::string reason;
    if (DecodeImage(data, size, format, out, reason) == 0) {
        bool whole = out.width > 0 && out.height > 0 &&
                     out.PixelBytes() == static_cast<size_t>(out.width) * static_cast<size_t>(out.height) * 4;
        if (!whole) std::abort();
    } else if (reason.empty()) {
        std::abort();
    }
    return 0;
}

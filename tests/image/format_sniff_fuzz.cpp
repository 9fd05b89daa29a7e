// libFuzzer target on the header checks the program makes in its own process before a picture
// goes to the decoding helper: every row's signature and header reader, and the encoded-size
// bound, on arbitrary bytes. These run outside the helper's confinement, so they must never
// read past the bytes given, whatever those claim.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "image/format_sniff.h"
#include "image/format_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The last byte picks a name, so that the formats known by their extension are reached too.
    static const char* const kNames[] = {"x", "x.tga", "x.cut", "x.wal", "x.raw", "x.pal"};
    std::string name = size > 0 ? kNames[data[size - 1] % 6] : "x";
    ImageHeader header;
    std::string reason;
    if (InspectImageHeader(data, size, name, header, reason) == 0) {
        CheckEncodedSize(data, size, static_cast<long long>(size), header, reason);
        CheckEncodedSize(data, size, static_cast<long long>(size) * 4 + 1, header, reason);
    } else if (reason.empty()) {
        std::abort();
    }
    size_t count;
    const ImageFormatRow* rows = ImageFormatRows(count);
    for (size_t i = 0; i < count; ++i) {
        ReadImageHeader(data, size, rows[i].format, header);
        if (header.width > 0 && header.height > 0) CheckEncodedSize(data, size, static_cast<long long>(size), header, reason);
    }
    return 0;
}

#include "files/printable_name.h"

#include <cstdio>

namespace {

void AppendHex(std::string& out, unsigned char byte) {
    char text[5];
    std::snprintf(text, sizeof text, "\\x%02x", byte);
    out += text;
}

// Length of the well-formed UTF-8 sequence at `s[i]` (2 to 4), or 0 when there is none. C1
// control characters (U+0080 to U+009F) count as none: some terminals obey them too.
size_t SequenceLength(const std::string& s, size_t i) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char lead = byte(i);
    size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (length == 0 || i + length > s.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    }
    unsigned char second = byte(i + 1);
    if (lead == 0xC2 && second < 0xA0) return 0;                    // C1 controls
    if (lead == 0xE0 && second < 0xA0) return 0;                    // overlong
    if (lead == 0xED && second > 0x9F) return 0;                    // surrogates
    if (lead == 0xF0 && second < 0x90) return 0;                    // overlong
    if (lead == 0xF4 && second > 0x8F) return 0;                    // beyond U+10FFFF
    return length;
}

}  // namespace

std::string PrintableName(const std::string& name) {
    std::string out;
    out.reserve(name.size());
    for (size_t i = 0; i < name.size();) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (c >= 0x80) {
            size_t length = SequenceLength(name, i);
            if (length == 0) {
                AppendHex(out, c);
                ++i;
            } else {
                out.append(name, i, length);
                i += length;
            }
            continue;
        }
        switch (c) {
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    AppendHex(out, c);
                } else {
                    out += static_cast<char>(c);
                }
        }
        ++i;
    }
    return out;
}

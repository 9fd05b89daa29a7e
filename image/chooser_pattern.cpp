// Growing a chooser pattern by the extensions of the format table's rows.
#include "image/chooser_pattern.h"

#include <algorithm>
#include <sstream>
#include <vector>

#include "image/format_table.h"

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    std::string part;
    while (std::getline(in, part, separator)) {
        if (!part.empty()) parts.push_back(part);
    }
    return parts;
}

}  // namespace

std::string WithEveryReadableExtension(const std::string& pattern) {
    const size_t open = pattern.find('{');
    const size_t close = pattern.rfind('}');
    if (open == std::string::npos || close == std::string::npos || close < open) return pattern;
    std::vector<std::string> listed = Split(pattern.substr(open + 1, close - open - 1), ',');
    std::string added;
    size_t count = 0;
    const ImageFormatRow* rows = ImageFormatRows(count);
    for (size_t i = 0; i < count; ++i) {
        if (rows[i].format == ImageFormat::kPalette || rows[i].format == ImageFormat::kUnknown) continue;
        for (const std::string& extension : Split(rows[i].extensions, ' ')) {
            if (std::find(listed.begin(), listed.end(), extension) != listed.end()) continue;
            listed.push_back(extension);
            added += "," + extension;
        }
    }
    return pattern.substr(0, close) + added + pattern.substr(close);
}

#include "cli/option_values.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cstdlib>

#include "morph/frame_request.h"

bool ParseDouble(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    double parsed = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(parsed)) return false;
    value = parsed;
    return true;
}

bool ParseInt(const std::string& text, long low, long high, int& value) {
    if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '-')) return false;
    char* end = nullptr;
    errno = 0;
    long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || end != text.c_str() + text.size() || parsed < low || parsed > high) return false;
    value = static_cast<int>(parsed);
    return true;
}

bool ParseFraction(const std::string& text, double& value) {
    double parsed;
    if (!ParseDouble(text, parsed) || !IsFraction(parsed)) return false;
    value = parsed;
    return true;
}

bool ParseIntPair(const std::string& text, const char* separators, long low, long high, int& first, int& second) {
    size_t at = text.find_first_of(separators);
    if (at == std::string::npos) return false;
    std::string a = text.substr(0, at), b = text.substr(at + 1);
    if (a.empty() || b.empty() || a[0] == '-' || b[0] == '-') return false;
    int x, y;
    if (!ParseInt(a, low, high, x) || !ParseInt(b, low, high, y)) return false;
    first = x;
    second = y;
    return true;
}

namespace {

bool AllDigits(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

}  // namespace

namespace {

// Length of the integer conversion starting at pattern[i] == '%' (flags, width, precision,
// then d or i), or 0 if there is none there.
size_t IntegerFieldLength(const std::string& pattern, size_t i) {
    size_t j = i + 1;
    while (j < pattern.size() && std::strchr("-+ 0#", pattern[j]) != nullptr) ++j;
    size_t digits = 0;
    while (j < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[j]))) ++j, ++digits;
    if (digits > 3) return 0;
    if (j < pattern.size() && pattern[j] == '.') {
        ++j;
        digits = 0;
        while (j < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[j]))) ++j, ++digits;
        if (digits > 3) return 0;
    }
    if (j < pattern.size() && (pattern[j] == 'd' || pattern[j] == 'i')) return j - i + 1;
    return 0;
}

}  // namespace

bool IsFramePattern(const std::string& pattern) {
    int fields = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') continue;
        if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
            ++i;
            continue;
        }
        size_t length = IntegerFieldLength(pattern, i);
        if (length == 0) return false;
        ++fields;
        i += length - 1;
    }
    return fields == 1;
}

std::string FramePath(const std::string& pattern, int index) {
    int size = std::snprintf(nullptr, 0, pattern.c_str(), index);
    if (size < 0) return std::string();
    std::string path(static_cast<size_t>(size) + 1, '\0');
    std::snprintf(&path[0], path.size(), pattern.c_str(), index);
    path.resize(static_cast<size_t>(size));
    return path;
}

bool ParseFrameRate(const std::string& text, int& num, int& den) {
    // Terms are read as digits only, so "1e3", "+5" and "0x10" stay out; a decimal becomes
    // a fraction over a power of ten before it is reduced.
    long long n = 0, d = 1;
    const size_t slash = text.find('/'), dot = text.find('.');
    if (slash != std::string::npos) {
        const std::string a = text.substr(0, slash), b = text.substr(slash + 1);
        if (!AllDigits(a) || !AllDigits(b) || a.size() > 9 || b.size() > 9) return false;
        n = std::stoll(a);
        d = std::stoll(b);
    } else if (dot != std::string::npos) {
        const std::string whole = text.substr(0, dot), places = text.substr(dot + 1);
        if (!AllDigits(whole) || !AllDigits(places) || whole.size() > 9 || places.size() > 3) return false;
        d = places.size() == 1 ? 10 : places.size() == 2 ? 100 : 1000;
        n = std::stoll(whole) * d + std::stoll(places);
    } else {
        if (!AllDigits(text) || text.size() > 9) return false;
        n = std::stoll(text);
    }
    if (!ReduceFrameRate(n, d)) return false;
    num = static_cast<int>(n);
    den = static_cast<int>(d);
    return true;
}

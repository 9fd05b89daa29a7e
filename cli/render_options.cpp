#include "cli/render_options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "morph/frame_request.h"
#include "morph/morph_settings.h"

namespace {

const int kMaxSide = kMaxOutputSide;
const int kMaxThreads = kMaxMorphThreads;
const int kMaxFrames = 1000000;

bool ParseDouble(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return errno == 0 && end == text.c_str() + text.size() && std::isfinite(value);
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
    return ParseDouble(text, value) && value >= 0.0 && value <= 1.0;
}

// Two whole numbers in [low, high] joined by one of `separators` ("WxH", "F:L"); no signs.
bool ParseIntPair(const std::string& text, const char* separators, long low, long high, int& first, int& second) {
    size_t at = text.find_first_of(separators);
    if (at == std::string::npos) return false;
    std::string a = text.substr(0, at), b = text.substr(at + 1);
    if (a.empty() || b.empty() || a[0] == '-' || b[0] == '-') return false;
    return ParseInt(a, low, high, first) && ParseInt(b, low, high, second);
}

bool ParseSize(const std::string& text, int& width, int& height) {
    return ParseIntPair(text, "xX", 1, kMaxSide, width, height);
}

bool ParseRange(const std::string& text, int& first, int& last) {
    return ParseIntPair(text, ":", 0, kMaxFrames, first, last);
}

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

const char* RenderUsage() {
    return "usage: quarro-render DOCUMENT.mrf -o OUTPUT [options]\n"
           "  -t, --fraction T       warp and dissolve fraction in [0,1], like the window's slider (default 0.5)\n"
           "      --warp W           the geometry fraction alone (overrides -t for the warp)\n"
           "      --dissolve D       the colour fraction alone (overrides -t for the dissolve)\n"
           "  -s, --size WxH         output size, each side 1..10000 (default: image A's size)\n"
           "  -j, --threads N        worker threads, 1..256 (default 4, as the window uses)\n"
           "  -a A  -b B  -p P       field-weight constants (default 0.01, 2.0, 0.2, as the window uses)\n"
           "      --image-a PATH     use this image A instead of the document's (likewise --image-b)\n"
           "  -n, --frames N         render N frames at fractions 0, 1/(N-1), ..., 1; OUTPUT then holds one\n"
           "                         printf-style integer field, e.g. frames/morph_%03d.png\n"
           "      --frame-range F:L  with --frames, render only frames F to L (0-based, inclusive)\n"
           "  -q, --quiet            no progress output\n"
           "  -h, --help             this text;  --version  the version\n"
           "The output format follows OUTPUT's extension. Relative image paths of the document that do not\n"
           "exist from the current folder are looked up from the document's folder.\n";
}

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

int RunLength(const RenderOptions& options) {
    if (options.bounce && options.frames > 1) return 2 * options.frames - 2;
    return options.frames;
}

void FrameFractions(const RenderOptions& options, int index, float& warp, float& dissolve) {
    if (options.frames > 0 && index >= options.frames) index = 2 * options.frames - 2 - index;  // on the way back
    double t = options.frames > 0 ? SequenceFraction(index, options.frames) : options.fraction;
    warp = NarrowFraction(options.hasWarp ? options.warp : t);
    dissolve = NarrowFraction(options.hasDissolve ? options.dissolve : t);
}

ParseResult ParseRenderOptions(const std::vector<std::string>& args, RenderOptions& options, std::string& error) {
    options = RenderOptions();
    bool hasFraction = false, hasRange = false, optionsEnded = false;
    std::vector<std::string> positional;
    auto fail = [&error](const std::string& message) {
        error = message;
        return ParseResult::UsageError;
    };

    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        // Split "--name=value" and "-xVALUE"; `value` is taken from the next argument otherwise.
        std::string name = arg, value;
        bool inlineValue = false;
        if (arg[1] == '-') {
            size_t equals = arg.find('=');
            if (equals != std::string::npos) {
                name = arg.substr(0, equals);
                value = arg.substr(equals + 1);
                inlineValue = true;
            }
        } else if (arg.size() > 2) {
            name = arg.substr(0, 2);
            value = arg.substr(2);
            inlineValue = true;
        }

        if (name == "-h" || name == "--help") return ParseResult::Help;
        if (name == "--version") return ParseResult::Version;
        if (name == "-q" || name == "--quiet") {
            if (inlineValue) return fail("option " + name + " takes no value");
            options.quiet = true;
            continue;
        }

        static const char* const kWithValue[] = {"-o", "--output", "-t", "--fraction", "--warp", "--dissolve",
                                                 "-s", "--size", "-j", "--threads", "-a", "-b", "-p", "--image-a",
                                                 "--image-b", "-n", "--frames", "--frame-range"};
        bool known = false;
        for (const char* option : kWithValue) known = known || name == option;
        if (!known) return fail("unknown option " + arg);
        if (!inlineValue) {
            if (i + 1 >= args.size()) return fail("option " + name + " needs a value");
            value = args[++i];
        }

        if (name == "-o" || name == "--output") {
            if (value.empty()) return fail("the output file name is empty");
            options.outputPath = value;
        } else if (name == "-t" || name == "--fraction") {
            if (!ParseFraction(value, options.fraction)) return fail("fraction '" + value + "' is not in [0,1]");
            hasFraction = true;
        } else if (name == "--warp") {
            if (!ParseFraction(value, options.warp)) return fail("warp fraction '" + value + "' is not in [0,1]");
            options.hasWarp = true;
        } else if (name == "--dissolve") {
            if (!ParseFraction(value, options.dissolve)) {
                return fail("dissolve fraction '" + value + "' is not in [0,1]");
            }
            options.hasDissolve = true;
        } else if (name == "-s" || name == "--size") {
            if (!ParseSize(value, options.width, options.height)) {
                return fail("size '" + value + "' is not WxH with each side in 1..10000");
            }
            options.hasSize = true;
        } else if (name == "-j" || name == "--threads") {
            if (!ParseInt(value, 1, kMaxThreads, options.threads)) {
                return fail("thread count '" + value + "' is not in 1..256");
            }
        } else if (name == "-a" || name == "-b" || name == "-p") {
            double constant;
            if (!ParseDouble(value, constant)) return fail("value '" + value + "' of " + name + " is not a number");
            // The field weight divides by a, and b and p are exponents of distance and length.
            if (name == "-a" && !(constant > 0.0)) return fail("-a must be greater than 0");
            if (name != "-a" && constant < 0.0) return fail(name + " must not be negative");
            float narrowed = static_cast<float>(constant);
            if (!std::isfinite(narrowed)) return fail("value '" + value + "' of " + name + " is out of range");
            (name == "-a" ? options.a : name == "-b" ? options.b : options.p) = narrowed;
        } else if (name == "--image-a" || name == "--image-b") {
            if (value.empty()) return fail("the path of " + name + " is empty");
            (name == "--image-a" ? options.imageA : options.imageB) = value;
        } else if (name == "-n" || name == "--frames") {
            if (!ParseInt(value, 1, kMaxFrames, options.frames)) {
                return fail("frame count '" + value + "' is not in 1..1000000");
            }
        } else if (name == "--frame-range") {
            if (!ParseRange(value, options.firstFrame, options.lastFrame)) {
                return fail("frame range '" + value + "' is not F:L");
            }
            hasRange = true;
        }
    }

    if (positional.empty()) return fail("no morph document given");
    if (positional.size() > 1) return fail("more than one morph document given: '" + positional[1] + "'");
    options.documentPath = positional[0];
    if (options.outputPath.empty()) return fail("no output file given (-o OUTPUT)");
    if (options.frames == 0) {
        if (hasRange) return fail("--frame-range needs --frames");
        return ParseResult::Render;
    }
    if (hasFraction) return fail("-t and --frames exclude each other");
    if (!IsFramePattern(options.outputPath)) {
        return fail("with --frames, OUTPUT must hold exactly one integer field such as %03d");
    }
    if (!hasRange) {
        options.firstFrame = 0;
        options.lastFrame = options.frames - 1;
    } else if (options.firstFrame > options.lastFrame || options.lastFrame >= options.frames) {
        return fail("frame range must satisfy 0 <= F <= L < N");
    }
    return ParseResult::Render;
}

#include "cli/render_options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <getopt.h>

#include "cli/animation_writer.h"
#include "image/png_encoder.h"
#include "morph/frame_request.h"
#include "morph/morph_settings.h"

namespace {

const int kMaxSide = kMaxOutputSide;
const int kMaxThreads = kMaxMorphThreads;

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
    return ParseDouble(text, value) && IsFraction(value);
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
           "      --bounce           with --frames, run A -> B -> A (2N-2 frames) for a seamless loop\n"
           "      --png-level L      zlib level of PNG output, 0..9 (default 1: fast, about the usual size)\n"
           "      --fps F            frames a second of an animation (default 25)\n"
           "  -q, --quiet            no progress output\n"
           "  -h, --help             this text;  --version  the version\n"
           "The output format follows OUTPUT's extension; with --frames, OUTPUT may instead name one\n"
           "animation (.mp4 .webm .mkv .mov .gif .webp), written by the ffmpeg program. Relative image\n"
           "paths of the document that do not exist from the current folder are looked up from the\n"
           "document's folder.\n";
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

int RunLength(const RenderOptions& options) { return RunLength(options.frames, options.bounce); }

FrameRequest FrameRequestOf(const RenderOptions& options, int index) {
    const double t = options.frames > 0 ? RunFraction(index, options.frames, options.bounce) : options.fraction;
    FrameRequest request;
    request.warp = options.hasWarp ? options.warp : t;
    request.dissolve = options.hasDissolve ? options.dissolve : t;
    request.a = options.a;
    request.b = options.b;
    request.p = options.p;
    if (options.hasSize) {
        request.width = options.width;
        request.height = options.height;
    }
    return request;
}

void FrameFractions(const RenderOptions& options, int index, float& warp, float& dissolve) {
    const FrameRequest request = FrameRequestOf(options, index);
    warp = NarrowFraction(request.warp);
    dissolve = NarrowFraction(request.dissolve);
}

namespace {

// One row per option of quarro-render: adding an option is adding a row (and its line of the
// usage text). `apply` stores the value, or returns what is wrong with it; `name` is the
// option as it was spelled ("-t" or "--fraction").
struct OptionRow {
    const char* longName;
    char shortName;  // 0: long form only
    bool takesValue;
    std::string (*apply)(const std::string& name, const std::string& value, RenderOptions& o);
};

std::string ApplyConstant(const std::string& name, const std::string& value, float& constant) {
    double parsed;
    if (!ParseDouble(value, parsed)) return "value '" + value + "' of " + name + " is not a number";
    const FieldWeight which = name == "-a" ? FieldWeight::A : name == "-b" ? FieldWeight::B : FieldWeight::P;
    const std::string problem = FieldWeightProblem(which, parsed, constant);
    return problem.empty() ? problem : name + " " + problem;
}

const OptionRow kOptions[] = {
    {"help", 'h', false, nullptr},
    {"version", 0, false, nullptr},
    {"quiet", 'q', false,
     [](const std::string&, const std::string&, RenderOptions& o) {
         o.quiet = true;
         return std::string();
     }},
    {"output", 'o', true,
     [](const std::string&, const std::string& value, RenderOptions& o) {
         o.outputPath = value;
         return std::string(value.empty() ? "the output file name is empty" : "");
     }},
    {"fraction", 't', true,
     [](const std::string&, const std::string& value, RenderOptions& o) {
         return ParseFraction(value, o.fraction) ? std::string() : "fraction '" + value + "' is not in [0,1]";
     }},
    {"warp", 0, true,
     [](const std::string&, const std::string& value, RenderOptions& o) {
         o.hasWarp = true;
         return ParseFraction(value, o.warp) ? std::string() : "warp fraction '" + value + "' is not in [0,1]";
     }},
    {"dissolve", 0, true,
     [](const std::string&, const std::string& value, RenderOptions& o) {
         o.hasDissolve = true;
         return ParseFraction(value, o.dissolve) ? std::string() : "dissolve fraction '" + value + "' is not in [0,1]";
     }},
    {"size", 's', true,
     [](const std::string&, const std::string& value, RenderOptions& o) {
         o.hasSize = true;
         return ParseSize(value, o.width, o.height) ? std::string()
                                                    : "size '" + value + "' is not WxH with each side in 1..10000";
     }},
    {"threads", 'j', true,
     [](const std::string&, const std::string& value, RenderOptions& o) {
         return ParseInt(value, 1, kMaxThreads, o.threads) ? std::string()
                                                            : "thread count '" + value + "' is not in 1..256";
     }},
    {nullptr, 'a', true,
     [](const std::string& name, const std::string& value, RenderOptions& o) { return ApplyConstant(name, value, o.a); }},
    {nullptr, 'b', true,
     [](const std::string& name, const std::string& value, RenderOptions& o) { return ApplyConstant(name, value, o.b); }},
    {nullptr, 'p', true,
     [](const std::string& name, const std::string& value, RenderOptions& o) { return ApplyConstant(name, value, o.p); }},
    {"image-a", 0, true,
     [](const std::string& name, const std::string& value, RenderOptions& o) {
         o.imageA = value;
         return value.empty() ? "the path of " + name + " is empty" : std::string();
     }},
    {"image-b", 0, true,
     [](const std::string& name, const std::string& value, RenderOptions& o) {
         o.imageB = value;
         return value.empty() ? "the path of " + name + " is empty" : std::string();
     }},
    {"frames", 'n', true,
     [](const std::string&, const std::string& value, RenderOptions& o) {
         return ParseInt(value, 1, kMaxFrames, o.frames) ? std::string()
                                                          : "frame count '" + value + "' is not in 1..1000000";
     }},
    {"frame-range", 0, true,
     [](const std::string&, const std::string& value, RenderOptions& o) {
         return ParseRange(value, o.firstFrame, o.lastFrame) ? std::string() : "frame range '" + value + "' is not F:L";
     }},
    {"bounce", 0, false,
     [](const std::string&, const std::string&, RenderOptions& o) {
         o.bounce = true;
         return std::string();
     }},
    {"png-level", 0, true,
     [](const std::string&, const std::string& value, RenderOptions& o) {
         return ParseInt(value, 0, 9, o.pngLevel) ? std::string() : "PNG level '" + value + "' is not in 0..9";
     }},
    {"fps", 0, true,
     [](const std::string&, const std::string& value, RenderOptions& o) {
         bool ok = ParseDouble(value, o.fps) && o.fps > 0.0 && o.fps <= 1000.0;
         return ok ? std::string() : "frame rate '" + value + "' is not in (0,1000]";
     }},
};
constexpr int kOptionCount = static_cast<int>(sizeof kOptions / sizeof kOptions[0]);

// The code getopt_long returns for row i; short options return their letter.
int CodeOf(int i) { return kOptions[i].shortName != 0 ? kOptions[i].shortName : 256 + i; }

int RowOf(int code) {
    for (int i = 0; i < kOptionCount; ++i) {
        if (CodeOf(i) == code) return i;
    }
    return -1;
}

int RowNamed(const std::string& longName) {
    for (int i = 0; i < kOptionCount; ++i) {
        if (kOptions[i].longName != nullptr && longName == kOptions[i].longName) return i;
    }
    return -1;
}

// What the rows without an `apply` ask for.
ParseResult Asked(int row) { return kOptions[row].shortName == 'h' ? ParseResult::Help : ParseResult::Version; }

}  // namespace

ParseResult ParseRenderOptions(const std::vector<std::string>& args, RenderOptions& options, std::string& error) {
    options = RenderOptions();
    auto fail = [&error](const std::string& message) {
        error = message;
        return ParseResult::UsageError;
    };

    // "-" first: arguments are taken in order, a non-option comes back as code 1 (no
    // reordering, so each option's own text is at hand); ":" next: a missing value comes back
    // as ':' and getopt prints nothing itself.
    std::string shortOptions = "-:";
    std::vector<option> longOptions;
    for (int i = 0; i < kOptionCount; ++i) {
        const OptionRow& row = kOptions[i];
        if (row.shortName != 0) shortOptions += std::string(1, row.shortName) + (row.takesValue ? ":" : "");
        if (row.longName != nullptr) {
            longOptions.push_back({row.longName, row.takesValue ? required_argument : no_argument, nullptr, CodeOf(i)});
        }
    }
    longOptions.push_back({nullptr, 0, nullptr, 0});

    std::vector<std::string> words;
    words.reserve(args.size() + 1);
    words.push_back("quarro-render");
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(&word[0]);
    argv.push_back(nullptr);
    const int argc = static_cast<int>(words.size());

    // getopt keeps its place in globals: optind = 0 starts every parse afresh (also the scan
    // inside a group of short options), so the parser can run any number of times in a process.
    optind = 0;
    opterr = 0;
    std::vector<std::string> positional;
    std::vector<int> seen;
    for (;;) {
        const int at = optind == 0 ? 1 : optind;  // the argument being read
        int longIndex = -1;
        const int code = getopt_long(argc, argv.data(), shortOptions.c_str(), longOptions.data(), &longIndex);
        if (code == -1) break;
        const std::string text = at < argc ? argv[at] : "";
        if (code == 1) {
            positional.push_back(optarg);
            continue;
        }
        // A long option is the whole argument up to any '='; a short one may stand in a group.
        const bool isLong = text.compare(0, 2, "--") == 0;
        const int letter = code == '?' || code == ':' ? optopt : code;
        const std::string spelled = isLong ? text.substr(0, text.find('=')) : std::string("-") + static_cast<char>(letter);
        if (code == '?') {
            const int row = isLong ? RowNamed(spelled.substr(2)) : RowOf(optopt);
            if (row >= 0 && kOptions[row].apply == nullptr) return Asked(row);  // help and version win
            if (row >= 0 && !kOptions[row].takesValue) return fail("option " + spelled + " takes no value");
            return fail("unknown option " + text);
        }
        if (code == ':') return fail("option " + spelled + " needs a value");
        const int row = RowOf(code);
        // Only whole names: getopt_long would take an unambiguous abbreviation too.
        if (isLong && spelled != std::string("--") + kOptions[row].longName) return fail("unknown option " + text);
        if (kOptions[row].apply == nullptr) return Asked(row);
        if (!kOptions[row].takesValue && !isLong && optind == at) return fail("option " + spelled + " takes no value");
        const std::string problem = kOptions[row].apply(spelled, kOptions[row].takesValue ? optarg : "", options);
        if (!problem.empty()) return fail(problem);
        seen.push_back(row);
    }
    for (int i = optind; i < argc; ++i) positional.push_back(argv[i]);
    auto given = [&seen](const char* longName) {
        for (int row : seen) {
            if (kOptions[row].longName != nullptr && std::strcmp(kOptions[row].longName, longName) == 0) return true;
        }
        return false;
    };
    const bool hasFraction = given("fraction"), hasRange = given("frame-range");

    if (positional.empty()) return fail("no morph document given");
    if (positional.size() > 1) return fail("more than one morph document given: '" + positional[1] + "'");
    options.documentPath = positional[0];
    if (options.outputPath.empty()) return fail("no output file given (-o OUTPUT)");
    const bool animation = IsAnimationPath(options.outputPath);
    if (given("png-level") && !IsPngPath(options.outputPath)) return fail("--png-level applies to .png output");
    if (given("fps") && !animation) return fail("--fps applies to animations (.mp4 .webm .mkv .mov .gif .webp)");
    if (options.frames == 0) {
        if (hasRange) return fail("--frame-range needs --frames");
        if (options.bounce) return fail("--bounce needs --frames");
        if (animation) return fail("an animation needs --frames N");
        return ParseResult::Render;
    }
    if (hasFraction) return fail("-t and --frames exclude each other");
    if (animation) {
        if (hasRange) return fail("an animation is written by one run; --frame-range splits frame files");
    } else if (!IsFramePattern(options.outputPath)) {
        return fail("with --frames, OUTPUT must hold exactly one integer field such as %03d, or be an animation");
    }
    const int length = RunLength(options);
    if (!hasRange) {
        options.firstFrame = 0;
        options.lastFrame = length - 1;
    } else {
        const std::string problem = FrameRangeProblem(options.firstFrame, options.lastFrame, options.frames, options.bounce);
        if (!problem.empty()) return fail(problem);
    }
    return ParseResult::Render;
}

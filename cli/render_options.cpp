#include "cli/render_options.h"

#include <algorithm>
#include <cstdio>
#include <climits>
#include <cstring>

#include <getopt.h>

#include "cli/option_values.h"
#include "files/file_name.h"
#include "image/writable_formats.h"
#include "image/png_encoder.h"
#include "morph/frame_request.h"
#include "morph/morph_settings.h"

namespace {

const int kMaxSide = kMaxOutputSide;
const int kMaxThreads = kMaxMorphThreads;
// --quality is read as a whole number in 0..100 (a codec's CRF, a percentage), then judged by
// the output's own scale.
const int kQualityPercentMax = 100;

std::string Range(long low, long high) { return std::to_string(low) + ".." + std::to_string(high); }

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

}  // namespace

bool WritesToStdout(const RenderOptions& options) { return options.outputPath == "-"; }

const VideoCodec* OutputCodec(const RenderOptions& options) {
    return AnimationCodec(options.target, AnimationFormatOf(options));
}

int OutputQuality(const RenderOptions& options) {
    const OutputTarget& target = options.target;
    if (target.kind == OutputKind::Animation) return AnimationQuality(target, AnimationFormatOf(options));
    if (target.kind != OutputKind::FrameFile || target.frame == nullptr) return -1;
    const ImageWriteSettings settings = SettingsWithDefaults(*target.frame, FrameWriteSettings(options));
    return settings.quality != kSettingUnset && settings.lossless != 1 ? settings.quality : -1;
}

ImageWriteSettings FrameWriteSettings(const RenderOptions& options) {
    ImageWriteSettings settings;
    const WritableFormat* row = options.target.frame;
    if (row == nullptr) return settings;
    if (row->level.taken) settings.level = options.pngLevel;
    if (row->quality.taken && options.quality >= 0) settings.quality = options.quality;
    if (*row->compressions != '\0') settings.compression = options.compression;
    if (*row->subsamplings != '\0') settings.subsampling = options.subsampling;
    if (row->takesLossless && options.lossless) settings.lossless = 1;
    return settings;
}

int RunLength(const RenderOptions& options) { return RunLength(options.frames, options.bounce); }

AnimationFormat AnimationFormatOf(const RenderOptions& options) {
    AnimationFormat format;
    format.fpsNum = options.fpsNum;
    format.fpsDen = options.fpsDen;
    format.codec = options.codec;
    format.quality = options.quality >= 0 ? options.quality : kSettingUnset;
    return format;
}

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

// One row per option of quarro-render, read by the parser and by the usage text: adding an
// option is adding a row. `apply` stores the value, or returns what is wrong with it; `name`
// is the option as it was spelled ("-t" or "--fraction").
struct OptionRow {
    const char* longName;
    char shortName;         // 0: long form only
    const char* valueName;  // nullptr: a switch
    std::string help;       // its part of the usage text, wrapped there
    std::string (*apply)(const std::string& name, const std::string& value, RenderOptions& o);
};

std::string ApplyConstant(const std::string& name, const std::string& value, float& constant) {
    double parsed;
    if (!ParseDouble(value, parsed)) return "'" + value + "' is not a number";
    const FieldWeight which = name == "-a" ? FieldWeight::A : name == "-b" ? FieldWeight::B : FieldWeight::P;
    const std::string problem = FieldWeightProblem(which, parsed, constant);
    return problem.empty() ? problem : "'" + value + "' " + problem;
}

std::string ApplyFraction(const std::string& value, double& fraction) {
    return ParseFraction(value, fraction) ? std::string() : "'" + value + "' is not in [0,1]";
}

// An integer option within [low, high]; the refusal names what it counts and the range.
std::string ApplyInt(const char* what, const std::string& value, int low, int high, int& field) {
    return ParseInt(value, low, high, field) ? std::string()
                                             : std::string(what) + " '" + value + "' is not in " + Range(low, high);
}

std::string ApplyPath(const std::string& value, std::string& path) {
    path = value;
    return value.empty() ? "the path is empty" : std::string();
}

std::string QualityHelp() {
    std::string text = "CRF of a video codec, lower is better:";
    for (int i = 0; i < kVideoCodecCount; ++i) {
        const VideoCodec& codec = kVideoCodecs[i];
        text += std::string(i == 0 ? " " : ", ") + codec.name + " " + Range(0, codec.crfMax) + " (default " +
                std::to_string(codec.crfDefault) + ")";
    }
    const IntSetting& webp = WritableFormatNamed("webp")->quality;
    const IntSetting& jpeg = WritableFormatNamed("jpg")->quality;
    return text + "; quality of a .webp animation or still, " + Range(webp.low, webp.high) + " (default " +
           std::to_string(webp.fallback) + "), and of JPEG frames, " + Range(jpeg.low, jpeg.high) + " (default " +
           std::to_string(jpeg.fallback) + ")";
}

// The names of the formats whose row takes a setting: "TIFF", "JPEG and WebP".
std::string FormatsTaking(bool (*takes)(const WritableFormat&)) {
    size_t count = 0;
    const WritableFormat* rows = WritableFormats(count);
    std::vector<std::string> names;
    for (size_t i = 0; i < count; ++i) {
        if (takes(rows[i])) names.push_back(rows[i].name);
    }
    std::string text;
    for (size_t i = 0; i < names.size(); ++i) text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    return text;
}

bool TakesLevel(const WritableFormat& row) { return row.level.taken; }
bool TakesQuality(const WritableFormat& row) { return row.quality.taken; }
bool TakesCompression(const WritableFormat& row) { return *row.compressions != '\0'; }
bool TakesSubsampling(const WritableFormat& row) { return *row.subsamplings != '\0'; }
bool TakesLossless(const WritableFormat& row) { return row.takesLossless; }

// "none (default), lzw, deflate or packbits" of a row's space-separated list, its default first.
std::string ChoiceHelp(const char* list) {
    std::vector<std::string> words;
    std::string word;
    for (const char* at = list;; ++at) {
        if (*at == ' ' || *at == '\0') {
            if (!word.empty()) words.push_back(word);
            word.clear();
            if (*at == '\0') break;
        } else {
            word += *at;
        }
    }
    std::string text;
    for (size_t i = 0; i < words.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == words.size() ? " or " : ", ") + words[i] + (i == 0 ? " (default)" : "");
    }
    return text;
}

std::string CodecHelp() {
    std::string text = "video codec, if the installed ffmpeg has its encoder:";
    for (int i = 0; i < kVideoCodecCount; ++i) {
        text += std::string(i == 0 ? " " : ", ") + kVideoCodecs[i].name + " (in " + kVideoCodecs[i].containers + ")";
    }
    return text + "; default h264, vp9 for .webm";
}

const std::vector<OptionRow>& Rows() {
    static const std::vector<OptionRow> rows = {
        {"output", 'o', "OUTPUT", "the file written; - writes the frames to the standard output (see --format)",
         [](const std::string&, const std::string& value, RenderOptions& o) {
             o.outputPath = value;
             return std::string(value.empty() ? "the output file name is empty" : "");
         }},
        {"fraction", 't', "T",
         "warp and dissolve fraction in [0,1], like the window's slider (default " + Number(0.5) + ")",
         [](const std::string&, const std::string& value, RenderOptions& o) {
             return ApplyFraction(value, o.fraction);
         }},
        {"warp", 0, "W", "the geometry fraction alone, in [0,1] (overrides -t for the warp)",
         [](const std::string&, const std::string& value, RenderOptions& o) {
             o.hasWarp = true;
             return ApplyFraction(value, o.warp);
         }},
        {"dissolve", 0, "D", "the colour fraction alone, in [0,1] (overrides -t for the dissolve)",
         [](const std::string&, const std::string& value, RenderOptions& o) {
             o.hasDissolve = true;
             return ApplyFraction(value, o.dissolve);
         }},
        {"size", 's', "WxH", "output size, each side " + Range(1, kMaxSide) + " (default: image A's size)",
         [](const std::string&, const std::string& value, RenderOptions& o) {
             o.hasSize = true;
             return ParseIntPair(value, "xX", 1, kMaxSide, o.width, o.height)
                        ? std::string()
                        : "size '" + value + "' is not WxH with each side in " + Range(1, kMaxSide);
         }},
        {"threads", 'j', "N",
         "worker threads, " + Range(1, kMaxThreads) + " (default " + std::to_string(kMorphThreads) +
             ", as the window uses)",
         [](const std::string&, const std::string& value, RenderOptions& o) {
             return ApplyInt("thread count", value, 1, kMaxThreads, o.threads);
         }},
        {nullptr, 'a', "A", "field-weight constant a, above 0 (default " + Number(kFieldWeightA) + ", as the window uses)",
         [](const std::string& name, const std::string& value, RenderOptions& o) {
             return ApplyConstant(name, value, o.a);
         }},
        {nullptr, 'b', "B", "field-weight constant b, 0 or more (default " + Number(kFieldWeightB) + ")",
         [](const std::string& name, const std::string& value, RenderOptions& o) {
             return ApplyConstant(name, value, o.b);
         }},
        {nullptr, 'p', "P", "field-weight constant p, 0 or more (default " + Number(kFieldWeightP) + ")",
         [](const std::string& name, const std::string& value, RenderOptions& o) {
             return ApplyConstant(name, value, o.p);
         }},
        {"image-a", 0, "PATH", "use this image A instead of the document's",
         [](const std::string&, const std::string& value, RenderOptions& o) {
             return ApplyPath(value, o.imageA);
         }},
        {"image-b", 0, "PATH", "use this image B instead of the document's",
         [](const std::string&, const std::string& value, RenderOptions& o) {
             return ApplyPath(value, o.imageB);
         }},
        {"frames", 'n', "N",
         "render N frames, " + Range(1, kMaxFrames) + ", at fractions 0, 1/(N-1), ..., 1; OUTPUT then holds "
             "one printf-style integer field, e.g. frames/morph_%03d.png, or names an animation",
         [](const std::string&, const std::string& value, RenderOptions& o) {
             return ApplyInt("frame count", value, 1, kMaxFrames, o.frames);
         }},
        {"frame-range", 0, "F:L", "with --frames, render only frames F to L (0-based, inclusive)",
         [](const std::string&, const std::string& value, RenderOptions& o) {
             return ParseIntPair(value, ":", 0, kMaxFrames, o.firstFrame, o.lastFrame)
                        ? std::string()
                        : "frame range '" + value + "' is not F:L with each in " + Range(0, kMaxFrames);
         }},
        {"bounce", 0, nullptr, "with --frames, run A -> B -> A (2N-2 frames) for a seamless loop",
         [](const std::string&, const std::string&, RenderOptions& o) {
             o.bounce = true;
             return std::string();
         }},
        {"png-level", 0, "L",
         "zlib level of PNG output, " + Range(WritableFormatNamed("png")->level.low, WritableFormatNamed("png")->level.high) +
             " (default " + std::to_string(WritableFormatNamed("png")->level.fallback) + ": fast, about the usual size)",
         [](const std::string&, const std::string& value, RenderOptions& o) {
             // The range is the table's, judged with the output's format.
             return ParseInt(value, INT_MIN + 1, INT_MAX, o.pngLevel) ? std::string()
                                                                     : "PNG level '" + value + "' is not a whole number";
         }},
        {"compression", 0, "NAME",
         "compression of " + FormatsTaking(TakesCompression) + " frames: " +
             ChoiceHelp(WritableFormatNamed("tif")->compressions),
         [](const std::string&, const std::string& value, RenderOptions& o) {
             o.compression = value;
             return std::string(value.empty() ? "the compression is empty" : "");
         }},
        {"subsampling", 0, "S",
         "chroma subsampling of " + FormatsTaking(TakesSubsampling) + " frames: " +
             ChoiceHelp(WritableFormatNamed("jpg")->subsamplings),
         [](const std::string&, const std::string& value, RenderOptions& o) {
             o.subsampling = value;
             return std::string(value.empty() ? "the subsampling is empty" : "");
         }},
        {"lossless", 0, nullptr, FormatsTaking(TakesLossless) + " frames without loss (lossy by default)",
         [](const std::string&, const std::string&, RenderOptions& o) {
             o.lossless = true;
             return std::string();
         }},
        {"quality", 0, "Q", QualityHelp(),
         [](const std::string&, const std::string& value, RenderOptions& o) {
             return ParseInt(value, 0, kQualityPercentMax, o.quality)
                        ? std::string()
                        : "quality '" + value + "' is not a whole number in " + Range(0, kQualityPercentMax);
         }},
        {"codec", 0, "NAME", CodecHelp(),
         [](const std::string&, const std::string& value, RenderOptions& o) {
             o.codec = value;
             return FindVideoCodec(value) != nullptr ? std::string()
                                                     : "codec '" + value + "' is not one of " + VideoCodecNames();
         }},
        {"fps", 0, "N[/D]",
         "frames a second of an animation or a y4m stream, at most " + std::to_string(kMaxFrameRate) +
             ", e.g. 30000/1001 (default 25)",
         [](const std::string&, const std::string& value, RenderOptions& o) {
             return ParseFrameRate(value, o.fpsNum, o.fpsDen)
                        ? std::string()
                        : "frame rate '" + value + "' is not N, N/D or a decimal in (0," + std::to_string(kMaxFrameRate) +
                              "] with N, D in " + Range(1, kMaxRateTerm);
         }},
        {"format", 0, "F",
         "with -o -, the stream written: " + StreamFormatNames() + " (default png); y4m is 4:2:0 (C420jpeg), " +
             "BT.709 limited range, as the video files are encoded",
         [](const std::string&, const std::string& value, RenderOptions& o) {
             o.format = value;
             OutputTarget ignored;
             const bool known = !value.empty() && ClassifyOutput("-", value, false, ignored);
             return known ? std::string() : "format '" + value + "' is not one of " + StreamFormatNames();
         }},
        {"quiet", 'q', nullptr, "no progress output",
         [](const std::string&, const std::string&, RenderOptions& o) {
             o.quiet = true;
             return std::string();
         }},
        {"verbose", 'v', nullptr, "name the colour profile each picture was converted from",
         [](const std::string&, const std::string&, RenderOptions& o) {
             o.verbose = true;
             return std::string();
         }},
        {"help", 'h', nullptr, "this text", nullptr},
        {"version", 0, nullptr, "the version", nullptr},
    };
    return rows;
}

// The code getopt_long returns for row i; short options return their letter.
int CodeOf(int i) { return Rows()[i].shortName != 0 ? Rows()[i].shortName : 256 + i; }

int RowOf(int code) {
    for (int i = 0; i < static_cast<int>(Rows().size()); ++i) {
        if (CodeOf(i) == code) return i;
    }
    return -1;
}

int RowNamed(const std::string& longName) {
    for (int i = 0; i < static_cast<int>(Rows().size()); ++i) {
        if (Rows()[i].longName != nullptr && longName == Rows()[i].longName) return i;
    }
    return -1;
}

// What the rows without an `apply` ask for.
ParseResult Asked(int row) { return Rows()[row].shortName == 'h' ? ParseResult::Help : ParseResult::Version; }

// Appends `help` to `text`, whose last line holds the option's names up to `column`, in lines
// of at most `width` characters, each after the first indented to `column`.
void AppendWrapped(std::string& text, const std::string& help, size_t column, size_t width) {
    size_t used = column;
    for (size_t at = 0; at < help.size();) {
        const size_t end = std::min(help.find(' ', at), help.size());
        const size_t length = end - at;
        if (used > column && used + 1 + length > width) {
            text += "\n" + std::string(column, ' ');
            used = column;
        } else if (used > column) {
            text += ' ';
            ++used;
        }
        text.append(help, at, length);
        used += length;
        at = end + 1;
    }
    text += '\n';
}

std::string MakeUsage() {
    const size_t column = 26, width = 100;
    std::string text = "Usage: quarro-render DOCUMENT.mrf -o OUTPUT [options]\n";
    for (const OptionRow& row : Rows()) {
        std::string left = "  ";
        left += row.shortName != 0 ? std::string("-") + row.shortName + (row.longName != nullptr ? ", " : "") : "    ";
        if (row.longName != nullptr) left += std::string("--") + row.longName;
        if (row.valueName != nullptr) left += std::string(" ") + row.valueName;
        text += left + std::string(left.size() < column ? column - left.size() : 1, ' ');
        AppendWrapped(text, row.help, column, width);
    }
    AppendWrapped(text,
                  "The output format follows OUTPUT's extension (writable: " + WritableExtensionList() +
                      "); with --frames, OUTPUT may instead name one animation (" + AnimationExtensions(false) +
                      "), written by the ffmpeg program (a .webp names an animation when it holds no integer field, "
                      "a still otherwise). An output that would replace image A, image B or the document is refused. "
                      "A relative image path of the document is looked for beside the document first, then from the "
                      "current folder; a warning names the one used when both exist and differ.",
                  0, 100);
    return text;
}

}  // namespace

const char* RenderUsage() {
    static const std::string usage = MakeUsage();
    return usage.c_str();
}

namespace {

// What the option scan found besides the values it stored: the words that are not options,
// and the rows of the options given, for the checks between options.
struct ScannedWords {
    std::vector<std::string> positional;
    std::vector<int> rows;

    bool Given(const char* longName) const {
        for (int row : rows) {
            if (Rows()[row].longName != nullptr && std::strcmp(Rows()[row].longName, longName) == 0) return true;
        }
        return false;
    }
};

ParseResult Refuse(std::string& error, const std::string& message) {
    error = message;
    return ParseResult::UsageError;
}

// Reads the words in order, storing each option's value through its row. Help and version
// win over anything after them; the first wrong option or value is the usage error.
ParseResult ScanOptions(const std::vector<std::string>& args, RenderOptions& options, ScannedWords& scanned,
                        std::string& error) {
    const std::vector<OptionRow>& rows = Rows();
    // "-" first: arguments are taken in order, a non-option comes back as code 1 (no
    // reordering, so each option's own text is at hand); ":" next: a missing value comes back
    // as ':' and getopt prints nothing itself.
    std::string shortOptions = "-:";
    std::vector<option> longOptions;
    for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
        const OptionRow& row = rows[static_cast<size_t>(i)];
        const bool takesValue = row.valueName != nullptr;
        if (row.shortName != 0) shortOptions += std::string(1, row.shortName) + (takesValue ? ":" : "");
        if (row.longName != nullptr) {
            longOptions.push_back({row.longName, takesValue ? required_argument : no_argument, nullptr, CodeOf(i)});
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
    for (;;) {
        const int at = optind == 0 ? 1 : optind;  // the argument being read
        int longIndex = -1;
        const int code = getopt_long(argc, argv.data(), shortOptions.c_str(), longOptions.data(), &longIndex);
        if (code == -1) break;
        const std::string text = at < argc ? argv[at] : "";
        if (code == 1) {
            scanned.positional.push_back(optarg);
            continue;
        }
        // A long option is the whole argument up to any '='; a short one may stand in a group.
        const bool isLong = text.compare(0, 2, "--") == 0;
        const int letter = code == '?' || code == ':' ? optopt : code;
        const std::string spelled = isLong ? text.substr(0, text.find('=')) : std::string("-") + static_cast<char>(letter);
        if (code == '?') {
            const int row = isLong ? RowNamed(spelled.substr(2)) : RowOf(optopt);
            if (row >= 0 && rows[row].apply == nullptr) return Asked(row);  // help and version win
            if (row >= 0 && rows[row].valueName == nullptr) return Refuse(error, "option " + spelled + " takes no value");
            return Refuse(error, "unknown option " + (isLong ? spelled : text));
        }
        if (code == ':') return Refuse(error, "option " + spelled + " needs a value");
        const int row = RowOf(code);
        // Only whole names: getopt_long would take an unambiguous abbreviation too.
        if (isLong && spelled != std::string("--") + rows[row].longName) return Refuse(error, "unknown option " + spelled);
        if (rows[row].apply == nullptr) return Asked(row);
        if (rows[row].valueName == nullptr && !isLong && optind == at) {
            return Refuse(error, "option " + spelled + " takes no value");
        }
        const std::string problem = rows[row].apply(spelled, rows[row].valueName != nullptr ? optarg : "", options);
        if (!problem.empty()) return Refuse(error, "option " + spelled + ": " + problem);
        scanned.rows.push_back(row);
    }
    for (int i = optind; i < argc; ++i) scanned.positional.push_back(argv[i]);
    return ParseResult::Render;
}

// The writer settings as given on the command line, whatever the format takes.
ImageWriteSettings FrameWriteSettingsGiven(const ScannedWords& scanned, const RenderOptions& options) {
    ImageWriteSettings given;
    if (scanned.Given("png-level")) given.level = options.pngLevel;
    if (scanned.Given("quality")) given.quality = options.quality;
    given.compression = options.compression;
    given.subsampling = options.subsampling;
    if (options.lossless) given.lossless = 1;
    return given;
}

// Only the setting `option` of `given`.
ImageWriteSettings OneSetting(const ImageWriteSettings& given, const std::string& option) {
    ImageWriteSettings one;
    if (option == "png-level") one.level = given.level;
    if (option == "quality") one.quality = given.quality;
    if (option == "compression") one.compression = given.compression;
    if (option == "subsampling") one.subsampling = given.subsampling;
    if (option == "lossless") one.lossless = given.lossless;
    return one;
}

// The writer settings against the target: a frame file's, or a PNG stream's, are judged by the
// row of its format in the table's words; the others name the outputs they apply to.
ParseResult CheckWriterSettings(const ScannedWords& scanned, const RenderOptions& options, std::string& error) {
    struct Setting {
        const char* option;
        bool (*takes)(const WritableFormat&);
        const char* elsewhere;  // what else takes it besides frames of the formats that do
    };
    const Setting settings[] = {
        {"png-level", TakesLevel, " and --format png"},
        {"quality", TakesQuality, ""},
        {"compression", TakesCompression, ""},
        {"subsampling", TakesSubsampling, ""},
        {"lossless", TakesLossless, ""},
    };
    const OutputTarget& target = options.target;
    const ImageWriteSettings given = FrameWriteSettingsGiven(scanned, options);
    for (const Setting& setting : settings) {
        if (!scanned.Given(setting.option)) continue;
        const std::string option = std::string("--") + setting.option;
        if (target.frame != nullptr) {
            const std::string problem = WriteSettingsProblem(*target.frame, OneSetting(given, setting.option));
            if (!problem.empty()) return Refuse(error, option + ": " + problem);
        } else if (target.kind == OutputKind::Animation && std::strcmp(setting.option, "quality") == 0) {
            continue;  // an animation's quality, judged with its codec
        } else if (target.kind != OutputKind::FrameFile) {
            const std::string animations = std::strcmp(setting.option, "quality") == 0 ? "video files, .webp animations and " : "";
            return Refuse(error, option + " applies to " + animations + FormatsTaking(setting.takes) + " frames" +
                                     setting.elsewhere);
        }
    }
    if (target.frame != nullptr) {
        const std::string problem = WriteSettingsProblem(*target.frame, given);
        if (!problem.empty()) return Refuse(error, problem);
    }
    return ParseResult::Render;
}

// The animation controls against the target: --codec and --quality judged by its container.
ParseResult CheckAnimationControls(const ScannedWords& scanned, const RenderOptions& options, std::string& error) {
    const bool animation = options.target.kind == OutputKind::Animation;
    if (scanned.Given("codec") && !animation) {
        return Refuse(error, "--codec applies to video files (" + AnimationExtensions(true) + ")");
    }
    if (scanned.Given("fps") && !animation && !(options.target.kind == OutputKind::Stream && options.format == "y4m")) {
        return Refuse(error, "--fps applies to animations (" + AnimationExtensions(false) + ") and --format y4m");
    }
    if (!animation) return ParseResult::Render;
    const std::string problem = AnimationFormatProblem(options.target, AnimationFormatOf(options), {"--codec", "--quality"});
    return problem.empty() ? ParseResult::Render : Refuse(error, problem);
}

// What the length of the run needs: one frame or a sequence, and how its frames are named.
ParseResult CheckRun(const ScannedWords& scanned, RenderOptions& options, std::string& error) {
    const bool hasRange = scanned.Given("frame-range");
    const bool animation = options.target.kind == OutputKind::Animation;
    if (options.frames == 0) {
        if (hasRange) return Refuse(error, "--frame-range needs --frames");
        if (options.bounce) return Refuse(error, "--bounce needs --frames");
        if (animation) return Refuse(error, "an animation needs --frames N (-n N)");
        return ParseResult::Render;
    }
    if (scanned.Given("fraction")) return Refuse(error, "-t and --frames exclude each other");
    if (animation) {
        if (hasRange) return Refuse(error, "an animation is written by one run; --frame-range splits frame files");
    } else if (options.target.kind == OutputKind::FrameFile && !IsFramePattern(options.outputPath)) {
        return Refuse(error,
                      "with --frames, OUTPUT must hold exactly one integer field such as %03d, be an animation, or be -");
    }
    const int length = RunLength(options);
    if (!hasRange) {
        options.firstFrame = 0;
        options.lastFrame = length - 1;
        return ParseResult::Render;
    }
    const std::string problem = FrameRangeProblem(options.firstFrame, options.lastFrame, options.frames, options.bounce);
    return problem.empty() ? ParseResult::Render : Refuse(error, "--frame-range: " + problem);
}

// The rules between options, once every value is in: the document and the output, the target
// they name, and what each option needs and excludes.
ParseResult CheckBetweenOptions(const ScannedWords& scanned, RenderOptions& options, std::string& error) {
    if (scanned.positional.empty()) return Refuse(error, "no morph document given");
    if (scanned.positional.size() > 1) {
        return Refuse(error, "more than one morph document given: '" + scanned.positional[1] + "'");
    }
    options.documentPath = scanned.positional[0];
    if (options.outputPath.empty()) return Refuse(error, "no output file given (-o OUTPUT)");
    const bool toStdout = WritesToStdout(options);
    if (scanned.Given("format") && !toStdout) return Refuse(error, "--format applies to -o - (frames on the standard output)");
    if (toStdout && options.format.empty()) options.format = "png";
    // The name is read once: several frames to one name make an animation of a .webp.
    const bool oneFileOfFrames = options.frames > 0 && !IsFramePattern(options.outputPath);
    ClassifyOutput(options.outputPath, options.format, oneFileOfFrames, options.target);
    ParseResult result = CheckWriterSettings(scanned, options, error);
    if (result == ParseResult::Render) result = CheckAnimationControls(scanned, options, error);
    if (result == ParseResult::Render) result = CheckRun(scanned, options, error);
    return result;
}

}  // namespace

ParseResult ParseRenderOptions(const std::vector<std::string>& args, RenderOptions& options, std::string& error) {
    options = RenderOptions();
    ScannedWords scanned;
    const ParseResult scan = ScanOptions(args, options, scanned, error);
    return scan == ParseResult::Render ? CheckBetweenOptions(scanned, options, error) : scan;
}

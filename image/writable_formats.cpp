#include "image/writable_formats.h"

#include <IL/il.h>

#include <algorithm>
#include <sstream>
#include <vector>

#include "files/file_name.h"
#include "files/output_path.h"
#include "image/png_encoder.h"

namespace {

const IntSetting kNone = {false, 0, 0, 0};
const IntSetting kPngLevel = {true, 0, 9, kDefaultPngLevel};
const IntSetting kJpegQuality = {true, 1, 100, 95};
const IntSetting kWebpQuality = {true, 0, 100, 90};

// The program's own writers first, then the image library's rare formats. .pnm and .ppm are
// written by the library as binary PPM.
const WritableFormat kFormats[] = {
    {"PNG", "png", ImageWriter::Png, 0, AlphaWritten::UnlessOpaque, kPngLevel, kNone, "", "", false},
    {"JPEG", "jpg jpeg jpe", ImageWriter::Jpeg, 0, AlphaWritten::Never, kNone, kJpegQuality, "4:2:0 4:4:4", "", false},
    {"TIFF", "tif tiff", ImageWriter::Tiff, 0, AlphaWritten::UnlessOpaque, kNone, kNone, "", "none lzw deflate packbits",
     false},
    {"BMP", "bmp", ImageWriter::Bmp, 0, AlphaWritten::UnlessOpaque, kNone, kNone, "", "", false},
    {"TGA", "tga", ImageWriter::Tga, 0, AlphaWritten::UnlessOpaque, kNone, kNone, "", "", false},
    {"WebP", "webp", ImageWriter::Webp, 0, AlphaWritten::UnlessOpaque, kNone, kWebpQuality, "", "", true},
    {"DDS", "dds", ImageWriter::Library, IL_DDS, AlphaWritten::Always, kNone, kNone, "", "", false},
    {"PCX", "pcx", ImageWriter::Library, IL_PCX, AlphaWritten::Always, kNone, kNone, "", "", false},
    {"PPM", "pnm ppm", ImageWriter::Library, IL_PNM, AlphaWritten::Never, kNone, kNone, "", "", false},
    {"PSD", "psd", ImageWriter::Library, IL_PSD, AlphaWritten::Always, kNone, kNone, "", "", false},
    {"raw pixels", "raw", ImageWriter::Library, IL_RAW, AlphaWritten::Always, kNone, kNone, "", "", false},
    {"SGI", "sgi bw rgb rgba", ImageWriter::Library, IL_SGI, AlphaWritten::Always, kNone, kNone, "", "", false},
    {"Radiance HDR", "hdr", ImageWriter::Library, IL_HDR, AlphaWritten::Never, kNone, kNone, "", "", false},
};

std::vector<std::string> Words(const std::string& text, char separator) {
    std::vector<std::string> words;
    std::istringstream in(text);
    std::string word;
    while (std::getline(in, word, separator)) {
        if (!word.empty()) words.push_back(word);
    }
    return words;
}

std::string Range(const IntSetting& setting) {
    return std::to_string(setting.low) + ".." + std::to_string(setting.high);
}

// "a or b or c" of a space-separated list.
std::string Choices(const char* list) {
    std::string text;
    const std::vector<std::string> words = Words(list, ' ');
    for (size_t i = 0; i < words.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == words.size() ? " or " : ", ") + words[i];
    }
    return text;
}

bool OneOf(const std::string& value, const char* list) {
    const std::vector<std::string> words = Words(list, ' ');
    return std::find(words.begin(), words.end(), value) != words.end();
}

std::string Takes(const WritableFormat& format) {
    std::string names;
    auto add = [&names](bool taken, const char* name) {
        if (taken) names += (names.empty() ? "" : ", ") + std::string(name);
    };
    add(format.level.taken, "level");
    add(format.quality.taken, "quality");
    add(*format.subsamplings != '\0', "subsampling");
    add(*format.compressions != '\0', "compression");
    add(format.takesLossless, "lossless");
    return names.empty() ? "it takes no settings" : "it takes: " + names;
}

std::string IntProblem(const WritableFormat& format, const IntSetting& setting, const char* name, int value) {
    if (value == kSettingUnset) return "";
    if (!setting.taken) return std::string("a ") + format.name + " file takes no " + name + " (" + Takes(format) + ")";
    if (value < setting.low || value > setting.high) {
        return std::string(format.name) + " " + name + " " + std::to_string(value) + " is not in " + Range(setting);
    }
    return "";
}

std::string ChoiceProblem(const WritableFormat& format, const char* list, const char* name, const std::string& value) {
    if (value.empty()) return "";
    if (*list == '\0') return std::string("a ") + format.name + " file takes no " + name + " (" + Takes(format) + ")";
    if (!OneOf(value, list)) return std::string(format.name) + " " + name + " '" + value + "' is not " + Choices(list);
    return "";
}

}  // namespace

const WritableFormat* WritableFormats(size_t& count) {
    count = sizeof kFormats / sizeof kFormats[0];
    return kFormats;
}

const WritableFormat* WritableFormatNamed(const std::string& extension) {
    for (const WritableFormat& format : kFormats) {
        if (OneOf(extension, format.extensions)) return &format;
    }
    return nullptr;
}

std::string WritableExtensionList() {
    std::string list;
    for (const WritableFormat& format : kFormats) {
        list += (list.empty() ? "" : ", ") + Words(format.extensions, ' ').front();
    }
    return list;
}

const WritableFormat* WritableFormatOf(const std::string& path, std::string& reason) {
    const std::string extension = LowerFileExtension(path);
    if (extension.size() <= 1) {
        reason = "the name has no extension to choose the image format by (writable: " + WritableExtensionList() + ")";
        return nullptr;
    }
    const std::string lower = extension.substr(1);
    if (const WritableFormat* format = WritableFormatNamed(lower)) return format;
    if (lower == "pal") {
        reason = ".pal is a colour palette, not an image: save the frame as .png, .bmp or another image format";
    } else {
        reason = "no image format is written for the extension " + FileExtension(path) +
                 " (writable: " + WritableExtensionList() + ")";
    }
    return nullptr;
}

std::string WithEveryWritableExtension(const std::string& pattern) {
    const size_t open = pattern.find('{');
    const size_t close = pattern.rfind('}');
    if (open == std::string::npos || close == std::string::npos || close < open) return pattern;
    std::vector<std::string> listed = Words(pattern.substr(open + 1, close - open - 1), ',');
    std::string added;
    for (const WritableFormat& format : kFormats) {
        for (const std::string& extension : Words(format.extensions, ' ')) {
            if (std::find(listed.begin(), listed.end(), extension) != listed.end()) continue;
            listed.push_back(extension);
            added += "," + extension;
        }
    }
    return pattern.substr(0, close) + added + pattern.substr(close);
}

std::string WriteSettingsProblem(const WritableFormat& format, const ImageWriteSettings& settings) {
    std::string problem = IntProblem(format, format.level, "level", settings.level);
    if (problem.empty()) problem = IntProblem(format, format.quality, "quality", settings.quality);
    if (problem.empty()) problem = ChoiceProblem(format, format.subsamplings, "subsampling", settings.subsampling);
    if (problem.empty()) problem = ChoiceProblem(format, format.compressions, "compression", settings.compression);
    if (problem.empty() && settings.lossless != kSettingUnset) {
        if (!format.takesLossless) {
            problem = std::string("a ") + format.name + " file takes no lossless (" + Takes(format) + ")";
        } else if (settings.lossless != 0 && settings.lossless != 1) {
            problem = std::string(format.name) + " lossless must be 0 or 1";
        } else if (settings.lossless == 1 && settings.quality != kSettingUnset) {
            problem = std::string("a lossless ") + format.name + " file takes no quality";
        }
    }
    return problem;
}

ImageWriteSettings SettingsWithDefaults(const WritableFormat& format, const ImageWriteSettings& settings) {
    ImageWriteSettings full = settings;
    if (format.level.taken && full.level == kSettingUnset) full.level = format.level.fallback;
    if (format.quality.taken && full.quality == kSettingUnset) full.quality = format.quality.fallback;
    if (*format.subsamplings != '\0' && full.subsampling.empty()) full.subsampling = Words(format.subsamplings, ' ')[0];
    if (*format.compressions != '\0' && full.compression.empty()) full.compression = Words(format.compressions, ' ')[0];
    if (format.takesLossless && full.lossless == kSettingUnset) full.lossless = 0;
    return full;
}

std::string WriteSettingsHelp(const WritableFormat& format) {
    std::string text;
    auto add = [&text](const std::string& part) { text += (text.empty() ? "" : ", ") + part; };
    auto number = [&add](const char* name, const IntSetting& setting) {
        if (setting.taken) add(std::string(name) + " " + Range(setting) + " (default " + std::to_string(setting.fallback) + ")");
    };
    number("level", format.level);
    number("quality", format.quality);
    if (*format.subsamplings != '\0') add(std::string("subsampling ") + Choices(format.subsamplings));
    if (*format.compressions != '\0') add(std::string("compression ") + Choices(format.compressions));
    if (format.takesLossless) add("lossless 0 or 1 (default 0)");
    return text;
}

int CheckImageOutputPath(const std::string& path, std::string& reason) {
    if (WritableFormatOf(path, reason) == nullptr) return -1;
    return CheckOutputPath(path, reason);
}

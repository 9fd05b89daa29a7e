// The one table of the formats the program writes: a row per format with its extensions, the
// writer that encodes it, the settings it takes with their ranges and defaults, and what it
// does with the alpha of an opaque picture. The output checks, the choosers' save pattern,
// the usage text and every refusal of a format or a setting are made from it.
#pragma once

#include <climits>
#include <string>

// Who encodes a format. The image library is kept for the rare formats only.
enum class ImageWriter { Png, Jpeg, Tiff, Bmp, Tga, Webp, Library };

// What a written file keeps of the alpha channel.
enum class AlphaWritten {
    UnlessOpaque,  // an opaque picture is written without alpha, any other with it
    Never,         // the format has no alpha
    Always,        // the image library writes what it is given
};

// A whole-number setting a format takes; `taken` false when it takes none.
struct IntSetting {
    bool taken;
    int low, high, fallback;
};

struct WritableFormat {
    const char* name;        // "JPEG", as messages say it
    const char* extensions;  // space-separated, lower case, the usual one first
    ImageWriter writer;
    unsigned libraryType;    // the image library's type code for Library rows, else 0
    AlphaWritten alpha;
    IntSetting level;        // PNG zlib level
    IntSetting quality;      // JPEG and lossy WebP quality
    const char* subsamplings;  // JPEG chroma subsampling, space-separated, the default first; "" none
    const char* compressions;  // TIFF compression, space-separated, the default first; "" none
    bool takesLossless;      // WebP: lossless or lossy (lossy by default)
};

// A whole-number setting the caller left to the format's default.
const int kSettingUnset = INT_MIN;

// The settings of one save as the caller gives them; kSettingUnset and "" leave the format's
// default.
struct ImageWriteSettings {
    int level = kSettingUnset;
    int quality = kSettingUnset;
    std::string subsampling;
    std::string compression;
    int lossless = kSettingUnset;  // 0 or 1
};

// The rows, in the order the lists of writable formats give them.
const WritableFormat* WritableFormats(size_t& count);

// The row of the path's extension (case ignored), or nullptr with `reason` (".pal is a colour
// palette, not an image...", "no image format is written for the extension .xyz (writable: ...)").
const WritableFormat* WritableFormatOf(const std::string& path, std::string& reason);
// The row named by an extension without its dot ("png"), or nullptr.
const WritableFormat* WritableFormatNamed(const std::string& extension);

// "png, jpg, tif, ...": the usual extension of every row, for messages and usage texts.
std::string WritableExtensionList();
// A chooser pattern "*.{a,b,c}" with every writable extension it lacks added before its closing
// brace, in the table's order; the original pattern stays a prefix of the result.
std::string WithEveryWritableExtension(const std::string& pattern);

// "" when `format` takes every setting given in `settings` within its range; otherwise what is
// wrong, in words the window, the renderer and Python all show ("JPEG quality 101 is not in
// 1..100", "a PNG file takes no quality (it takes: level)").
std::string WriteSettingsProblem(const WritableFormat& format, const ImageWriteSettings& settings);
// `settings` with every setting the format takes and the caller left open set to its default.
ImageWriteSettings SettingsWithDefaults(const WritableFormat& format, const ImageWriteSettings& settings);
// "level 0..9 (default 1)", "quality 1..100 (default 95), subsampling 4:2:0 or 4:4:4": what the
// format takes, for usage texts and docstrings; "" when it takes nothing.
std::string WriteSettingsHelp(const WritableFormat& format);

// The format check of WritableFormatOf, then the folder and name checks of CheckOutputPath.
int CheckImageOutputPath(const std::string& path, std::string& reason);

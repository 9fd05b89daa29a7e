#include "decoder/magick_support.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/temp_folder.h"

std::string FindTool(const std::string& name) {
    std::string direct = "/usr/bin/" + name;
    if (access(direct.c_str(), X_OK) == 0) return direct;
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "";
    size_t start = 0;
    while (start <= folders.size()) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        std::string candidate = folders.substr(start, end - start) + "/" + name;
        if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return "";
}

DecodedImage TestPattern(int width, int height, bool withAlpha) {
    DecodedImage picture;
    picture.width = width;
    picture.height = height;
    picture.rgba.resize(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned char* p = &picture.rgba[(static_cast<size_t>(y) * width + x) * 4];
            // Smooth ramps keep lossy codecs close; the three differ in direction so no
            // flip or turn of the picture maps it onto itself.
            p[0] = static_cast<unsigned char>(x * 255 / (width - 1));
            p[1] = static_cast<unsigned char>(y * 255 / (height - 1));
            p[2] = static_cast<unsigned char>(((x + 2 * y) * 255) / (width + 2 * height));
            p[3] = withAlpha ? static_cast<unsigned char>(40 + ((x + y) * 215) / (width + height)) : 255;
        }
    }
    return picture;
}

bool RunQuiet(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

bool MagickWrite(const DecodedImage& picture, const std::string& options, const std::string& path) {
    std::string convert = FindTool("convert");
    if (convert.empty()) return false;
    std::string raw = path.substr(path.rfind(':') + 1) + ".in.rgba";  // without a "BMP3:" writer prefix
    WriteWholeFile(raw, std::string(picture.rgba.begin(), picture.rgba.end()));
    bool ok = RunQuiet(convert + " -size " + std::to_string(picture.width) + "x" + std::to_string(picture.height) +
                       " -depth 8 rgba:'" + raw + "' " + options + " '" + path + "'");
    std::remove(raw.c_str());
    return ok;
}

namespace {

bool MagickDecodeWith(const std::string& path, const std::string& options, DecodedImage& picture) {
    std::string convert = FindTool("convert");
    if (convert.empty()) return false;
    std::string raw = path + ".out.rgba", size = path + ".out.size";
    std::string command = convert + " '" + path + "[0]'" + options +
                          " -colorspace sRGB -print '%w %h' -depth 8 rgba:'" + raw + "' > '" + size + "' 2>/dev/null";
    bool ok = std::system(command.c_str()) == 0;
    std::string bytes = ReadWholeFile(raw), dimensions = ReadWholeFile(size);
    std::remove(raw.c_str());
    std::remove(size.c_str());
    int width = 0, height = 0;
    if (!ok || std::sscanf(dimensions.c_str(), "%d %d", &width, &height) != 2) return false;
    if (width <= 0 || height <= 0 || bytes.size() != static_cast<size_t>(width) * height * 4) return false;
    picture.width = width;
    picture.height = height;
    picture.rgba.assign(bytes.begin(), bytes.end());
    return true;
}

}  // namespace

bool MagickDecode(const std::string& path, bool autoOrient, DecodedImage& picture) {
    return MagickDecodeWith(path, autoOrient ? " -auto-orient" : "", picture);
}

bool MagickDecodeFirstFrame(const std::string& path, DecodedImage& picture) {
    return MagickDecodeWith(path, " -coalesce", picture);
}

int LargestDifference(const DecodedImage& a, const DecodedImage& b) {
    if (a.width != b.width || a.height != b.height || a.rgba.size() != b.rgba.size()) return 256;
    int largest = 0;
    for (size_t i = 0; i < a.rgba.size(); ++i) largest = std::max(largest, std::abs(a.rgba[i] - b.rgba[i]));
    return largest;
}

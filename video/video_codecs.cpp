#include "video/video_codecs.h"

#include <cstring>

#include "files/file_name.h"

// Which container carries what follows what players play from it: WebM is VP9 or AV1 only,
// QuickTime players take H.264 and HEVC, Matroska takes all four.
const VideoCodec kVideoCodecs[] = {
    {"h264", "libx264", 51, 18, ".mp4 .mov .mkv"},
    {"hevc", "libx265", 51, 22, ".mp4 .mov .mkv"},
    {"vp9", "libvpx-vp9", 63, 30, ".webm .mkv .mp4"},
    {"av1", "libsvtav1 libaom-av1", 63, 32, ".webm .mkv .mp4"},
};
const int kVideoCodecCount = static_cast<int>(sizeof kVideoCodecs / sizeof kVideoCodecs[0]);

namespace {

bool ListHolds(const char* list, const std::string& word) {
    if (word.empty()) return false;
    for (const char* at = std::strstr(list, word.c_str()); at != nullptr; at = std::strstr(at + 1, word.c_str())) {
        const bool starts = at == list || at[-1] == ' ';
        const char after = at[word.size()];
        if (starts && (after == ' ' || after == '\0')) return true;
    }
    return false;
}

}  // namespace

const VideoCodec* FindVideoCodec(const std::string& name) {
    for (int i = 0; i < kVideoCodecCount; ++i) {
        if (name == kVideoCodecs[i].name) return &kVideoCodecs[i];
    }
    return nullptr;
}

const VideoCodec* DefaultVideoCodec(const std::string& path) {
    const std::string extension = LowerFileExtension(path);
    if (extension == ".webm") return FindVideoCodec("vp9");
    if (extension == ".mp4" || extension == ".mov" || extension == ".mkv") return FindVideoCodec("h264");
    return nullptr;
}

bool ContainerCarries(const VideoCodec& codec, const std::string& path) {
    return ListHolds(codec.containers, LowerFileExtension(path));
}

std::string VideoCodecNames() {
    std::string names;
    for (int i = 0; i < kVideoCodecCount; ++i) names += std::string(i == 0 ? "" : ", ") + kVideoCodecs[i].name;
    return names;
}

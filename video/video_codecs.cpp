#include "video/video_codecs.h"

#include <cstring>

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

// Video in the codecs every player of the container plays; a GIF with a palette drawn from the
// frames themselves; lossy animated WebP.
const VideoContainer kContainers[] = {
    {".mp4", "mp4", "h264"},       {".mov", "mov", "h264"}, {".mkv", "matroska", "h264"},
    {".webm", "webm", "vp9"},      {".gif", "gif", nullptr}, {".webp", "webp", nullptr},
};

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

const VideoContainer* VideoContainerOf(const std::string& extension) {
    for (const VideoContainer& container : kContainers) {
        if (extension == container.extension) return &container;
    }
    return nullptr;
}

const VideoCodec* DefaultVideoCodec(const VideoContainer& container) {
    return container.defaultCodec != nullptr ? FindVideoCodec(container.defaultCodec) : nullptr;
}

bool ContainerCarries(const VideoCodec& codec, const VideoContainer& container) {
    return ListHolds(codec.containers, container.extension);
}

std::string VideoCodecNames() {
    std::string names;
    for (int i = 0; i < kVideoCodecCount; ++i) names += std::string(i == 0 ? "" : ", ") + kVideoCodecs[i].name;
    return names;
}

std::string AnimationExtensions(bool videoOnly) {
    std::string list;
    for (const VideoContainer& container : kContainers) {
        if (videoOnly && container.defaultCodec == nullptr) continue;
        list += (list.empty() ? "" : " ") + std::string(container.extension);
    }
    return list;
}

#include "video/output_target.h"

#include <numeric>

#include "files/file_name.h"

namespace {

const char* const kStreamNames[] = {"png", "ppm", "y4m"};
const StreamFormat kStreamFormats[] = {StreamFormat::Png, StreamFormat::Ppm, StreamFormat::Y4m};

// What the quality of an animation counts: a codec's CRF, or the quality of the still format of
// the same extension (WebP); `taken` false for a GIF.
struct QualityScale {
    bool taken = false;
    std::string what;
    int low = 0, high = 0, fallback = -1;
};

QualityScale QualityScaleOf(const OutputTarget& target, const AnimationFormat& format) {
    QualityScale scale;
    if (const VideoCodec* codec = AnimationCodec(target, format)) {
        scale = {true, std::string("the CRF of ") + codec->name, 0, codec->crfMax, codec->crfDefault};
    } else if (const WritableFormat* still = WritableFormatNamed(target.container->extension + 1)) {
        if (still->quality.taken) {
            scale = {true, std::string(still->name) + " quality", still->quality.low, still->quality.high,
                     still->quality.fallback};
        }
    }
    return scale;
}

}  // namespace

bool ClassifyOutput(const std::string& path, const std::string& streamFormat, bool oneFileOfFrames,
                    OutputTarget& target) {
    OutputTarget found;
    if (path == "-") {
        const std::string name = streamFormat.empty() ? "png" : streamFormat;
        for (size_t i = 0; i < sizeof kStreamNames / sizeof kStreamNames[0]; ++i) {
            if (name != kStreamNames[i]) continue;
            found.kind = OutputKind::Stream;
            found.stream = kStreamFormats[i];
            if (found.stream == StreamFormat::Png) found.frame = WritableFormatNamed("png");
            target = found;
            return true;
        }
        return false;
    }
    const std::string extension = LowerFileExtension(path);
    const WritableFormat* still = extension.size() > 1 ? WritableFormatNamed(extension.substr(1)) : nullptr;
    const VideoContainer* container = VideoContainerOf(extension);
    if (container != nullptr && (still == nullptr || oneFileOfFrames)) {
        found.kind = OutputKind::Animation;
        found.container = container;
    } else {
        found.kind = OutputKind::FrameFile;
        // Only a name no format is written for is looked at again, for the words of its refusal.
        found.frame = still != nullptr ? still : WritableFormatOf(path, found.problem);
    }
    target = found;
    return true;
}

bool ReduceFrameRate(long long& num, long long& den) {
    if (num <= 0 || den <= 0) return false;
    const long long common = std::gcd(num, den);
    const long long n = num / common, d = den / common;
    if (n > kMaxRateTerm || d > kMaxRateTerm || n > static_cast<long long>(kMaxFrameRate) * d) return false;
    num = n;
    den = d;
    return true;
}

std::string StreamFormatNames() {
    std::string names;
    for (const char* name : kStreamNames) names += (names.empty() ? "" : ", ") + std::string(name);
    return names;
}

const VideoCodec* AnimationCodec(const OutputTarget& target, const AnimationFormat& format) {
    if (target.container == nullptr || target.container->defaultCodec == nullptr) return nullptr;
    return format.codec.empty() ? DefaultVideoCodec(*target.container) : FindVideoCodec(format.codec);
}

int AnimationQuality(const OutputTarget& target, const AnimationFormat& format) {
    const QualityScale scale = QualityScaleOf(target, format);
    if (!scale.taken) return -1;
    return format.quality != kSettingUnset ? format.quality : scale.fallback;
}

std::string AnimationFormatProblem(const OutputTarget& target, const AnimationFormat& format,
                                   const AnimationControlNames& names) {
    if (target.kind != OutputKind::Animation) {
        return "not an animation file name (" + AnimationExtensions(false) + ")";
    }
    const VideoContainer& container = *target.container;
    const std::string codecName = names.codec, qualityName = names.quality;
    if (!format.codec.empty()) {
        const VideoCodec* codec = FindVideoCodec(format.codec);
        if (codec == nullptr) return codecName + " '" + format.codec + "' is not one of " + VideoCodecNames();
        if (container.defaultCodec == nullptr) {
            return codecName + " applies to video files (" + AnimationExtensions(true) + ")";
        }
        if (!ContainerCarries(*codec, container)) {
            return codecName + " " + codec->name + ": a " + container.extension + " file does not carry " + codec->name +
                   " (" + codec->name + " goes in " + codec->containers + ")";
        }
    }
    if (format.quality == kSettingUnset) return "";
    const QualityScale scale = QualityScaleOf(target, format);
    if (!scale.taken) {
        return qualityName + " applies to video files and .webp animations: a GIF takes its colours from a palette "
                             "per frame";
    }
    if (format.quality < scale.low || format.quality > scale.high) {
        return qualityName + " " + std::to_string(format.quality) + " is out of range: " + scale.what + " is " +
               std::to_string(scale.low) + ".." + std::to_string(scale.high);
    }
    return "";
}

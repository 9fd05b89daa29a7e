// The one reading of an output name: a frame file with the row of its writer, an animation
// with its container and usual codec, or frames on a stream. The renderer and the Python
// module check and write from it, so the extension is looked at once, here. Also the checks of
// an animation's controls, worded with the names the caller gives them ("--codec", "codec").
#pragma once

#include <string>

#include "image/writable_formats.h"
#include "video/video_codecs.h"

enum class OutputKind { FrameFile, Animation, Stream };

// What goes to the standard output with -o -.
enum class StreamFormat { Png, Ppm, Y4m };

struct OutputTarget {
    OutputKind kind = OutputKind::FrameFile;
    // The writer's row: of a frame file, or of a PNG stream's frames; nullptr otherwise, and for
    // a frame file no format is written for, with `problem` saying so.
    const WritableFormat* frame = nullptr;
    const VideoContainer* container = nullptr;  // an animation's
    StreamFormat stream = StreamFormat::Png;    // a stream's
    std::string problem;  // why no writer takes the name ("no image format is written for ...")
};

// The target of `path`: "-" is a stream in `streamFormat` ("" for png), whose name must be one
// of StreamFormatNames() (false otherwise, the target left alone). An extension written both as
// a still and as an animation (.webp) names an animation when `oneFileOfFrames`, several frames
// going to that one name.
bool ClassifyOutput(const std::string& path, const std::string& streamFormat, bool oneFileOfFrames,
                    OutputTarget& target);

// "png, ppm, y4m".
std::string StreamFormatNames();

// The largest frame rate, in frames a second, and the largest term of a rate N/D.
const int kMaxFrameRate = 1000;
const int kMaxRateTerm = 1000000;

// Brings num/den to lowest terms: true when it is then a rate an animation takes (positive,
// both terms in 1..kMaxRateTerm, at most kMaxFrameRate); false, the terms left alone, otherwise.
bool ReduceFrameRate(long long& num, long long& den);

// The rate, codec and quality an animation is written with.
struct AnimationFormat {
    int fpsNum = 25, fpsDen = 1;      // frames a second, as a fraction (30000/1001)
    std::string codec;                // a VideoCodec name; "" for the container's usual one
    int quality = kSettingUnset;      // a video codec's CRF or WebP's quality; unset: the default
    double stallSeconds = 30;         // ffmpeg is stopped when it makes no progress for this long
};

// How a front end calls the controls of an animation.
struct AnimationControlNames {
    const char* codec;    // "--codec", "codec"
    const char* quality;  // "--quality", "quality"
};

// The codec an animation target is written with (`format.codec`, or the container's usual
// one); nullptr for a GIF or a WebP, or a name no codec has.
const VideoCodec* AnimationCodec(const OutputTarget& target, const AnimationFormat& format);

// The quality an animation target is written at: `format.quality`, or the default of its
// codec or of WebP; -1 for a GIF, which has no quality setting.
int AnimationQuality(const OutputTarget& target, const AnimationFormat& format);

// "" when `format`'s codec and quality suit the animation `target`; else what is wrong, with
// the controls named as `names` says: "--codec h264: a .webm file does not carry h264 (h264
// goes in .mp4 .mov .mkv)", "quality 52 is out of range: the CRF of h264 is 0..51".
std::string AnimationFormatProblem(const OutputTarget& target, const AnimationFormat& format,
                                   const AnimationControlNames& names);

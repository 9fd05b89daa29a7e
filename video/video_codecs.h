// The video codecs an animation may be encoded with, the containers that carry them and the
// ranges of their quality setting: one table read by the option parser, its usage text and
// the animation writer, so that what --help promises is what the parser checks.
#pragma once

#include <string>

struct VideoCodec {
    const char* name;        // as given to --codec
    const char* encoders;    // ffmpeg encoders that write it, the preferred first, space separated
    int crfMax;              // --quality is a constant rate factor in 0..crfMax, lower is better
    int crfDefault;          // without --quality
    const char* containers;  // the extensions that carry it, space separated
};

extern const VideoCodec kVideoCodecs[];
extern const int kVideoCodecCount;

// --quality of the formats that count it in percent (WebP animations, JPEG frames): 0..100.
const int kQualityPercentMax = 100;
const int kWebpQualityDefault = 90;
// JPEG frames: beyond 95 the files grow fast for differences nobody sees.
const int kJpegQualityDefault = 95;

// The row named `name` (exactly, as --codec takes it), or nullptr.
const VideoCodec* FindVideoCodec(const std::string& name);

// The codec a video file is written with when --codec is not given: H.264 for .mp4 .mov .mkv,
// VP9 for .webm; nullptr for anything that is not a video container (.gif .webp, frames).
const VideoCodec* DefaultVideoCodec(const std::string& path);

// True when the container named by the path's extension (any case) carries the codec.
bool ContainerCarries(const VideoCodec& codec, const std::string& path);

// "h264, hevc, vp9, av1": the names, for messages and the usage text.
std::string VideoCodecNames();

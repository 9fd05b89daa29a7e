// The video codecs an animation may be encoded with, the containers that carry them and the
// ranges of their quality setting, and the animation containers with their usual codec: the
// tables read by the output classification, the renderer's option parser and usage text, the
// Python module and the animation writer, so that what one promises is what the others check.
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

// A file format ffmpeg writes an animation in.
struct VideoContainer {
    const char* extension;     // ".mp4", lower case
    const char* muxer;         // ffmpeg's name for it
    const char* defaultCodec;  // a VideoCodec name: a 4:2:0 video container; nullptr: GIF, WebP
};

// The row named `name` (exactly, as --codec takes it), or nullptr.
const VideoCodec* FindVideoCodec(const std::string& name);

// The container of a lower-case extension with its dot (".webm"), or nullptr.
const VideoContainer* VideoContainerOf(const std::string& extension);

// The codec a video container is written with when none is asked for (H.264, VP9 for .webm);
// nullptr for GIF and WebP, which have no codec choice.
const VideoCodec* DefaultVideoCodec(const VideoContainer& container);

// True when the container carries the codec.
bool ContainerCarries(const VideoCodec& codec, const VideoContainer& container);

// "h264, hevc, vp9, av1": the names, for messages and the usage text.
std::string VideoCodecNames();

// ".mp4 .mov .mkv .webm .gif .webp": the animation extensions, or the video ones alone.
std::string AnimationExtensions(bool videoOnly);

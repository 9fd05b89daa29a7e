// libwebp and libwebpdemux, opened at run time (decoder/run_time_library.h): only WebP pictures
// need them, and every library linked at build time costs each start of the decoding helper its
// loading. Two tables, one per library; a WebP picture needs both (the demuxer for animations).
#pragma once

#include <webp/decode.h>
#include <webp/demux.h>

#include <string>

// The functions of libwebp that the WebP decoder calls, by their names without "WebP". The
// header's inline WebPGetFeatures calls the Internal one with the header's ABI version.
#define QUARRO_WEBP_FUNCTIONS(X) \
    X(GetFeaturesInternal)       \
    X(DecodeRGBAInto)

// The functions of libwebpdemux, by their names without "WebP"; the header's inline
// WebPAnimDecoderOptionsInit and WebPAnimDecoderNew call the Internal ones.
#define QUARRO_WEBP_DEMUX_FUNCTIONS(X) \
    X(AnimDecoderOptionsInitInternal)  \
    X(AnimDecoderNewInternal)          \
    X(AnimDecoderGetInfo)              \
    X(AnimDecoderGetNext)              \
    X(AnimDecoderDelete)

// One pointer per function, typed by the headers' own declarations.
#define QUARRO_WEBP_MEMBER(name) decltype(&::WebP##name) name = nullptr;
struct WebpLibrary {
    QUARRO_WEBP_FUNCTIONS(QUARRO_WEBP_MEMBER)
};
struct WebpDemuxLibrary {
    QUARRO_WEBP_DEMUX_FUNCTIONS(QUARRO_WEBP_MEMBER)
};
#undef QUARRO_WEBP_MEMBER


// Open `soname` (the table's, decoder/run_time_library.h, or another) and resolve every
// function into `library`: 0, or -1 with a reason naming the library. It stays loaded.
int OpenWebpLibrary(const char* soname, WebpLibrary& library, std::string& reason);
int OpenWebpDemuxLibrary(const char* soname, WebpDemuxLibrary& library, std::string& reason);

// The process's libwebp and libwebpdemux, opened on the first call and kept; nullptr with the
// reason when one could not be loaded. The helper calls them before its filter, inside which
// they fail cleanly.
const WebpLibrary* LoadWebpLibrary(std::string& reason);
const WebpDemuxLibrary* LoadWebpDemuxLibrary(std::string& reason);

// The command line of quarro-render, parsed apart from any rendering so that it can be
// tested on its own. Out-of-range values are usage errors, never clamped silently.
#pragma once

#include <string>
#include <vector>

#include "cli/option_values.h"
#include "image/png_encoder.h"
#include "image/writable_formats.h"
#include "morph/frame_request.h"
#include "morph/morph_settings.h"
#include "video/output_target.h"

struct RenderOptions {
    std::string documentPath;
    std::string outputPath;        // a plain file name, or with --frames a pattern with one %d field
    double fraction = 0.5;         // -t: both fractions, like the window's slider
    bool hasWarp = false;
    double warp = 0.0;             // --warp: the geometry fraction alone
    bool hasDissolve = false;
    double dissolve = 0.0;         // --dissolve: the colour fraction alone
    bool hasSize = false;
    int width = 0, height = 0;     // -s WxH; otherwise image A's size
    int threads = kMorphThreads;   // -j, as the window uses
    float a = kFieldWeightA, b = kFieldWeightB, p = kFieldWeightP;
    std::string imageA, imageB;    // --image-a / --image-b override the document's paths
    int frames = 0;                // -n: 0 renders one frame, N a sequence at 0, 1/(N-1), ..., 1
    int firstFrame = 0, lastFrame = -1;  // --frame-range F:L within the sequence
    bool quiet = false;
    bool verbose = false;          // -v: say what became of each picture's colour profile
    int pngLevel = kDefaultPngLevel;             // --png-level: zlib level of PNG output, 0..9
    std::string compression;       // --compression: of TIFF frames; "" = the table's default
    std::string subsampling;       // --subsampling: of JPEG frames; "" = the table's default
    bool lossless = false;         // --lossless: WebP frames without loss
    int fpsNum = 25, fpsDen = 1;   // --fps N/D: frames a second of an animation or a y4m stream
    bool bounce = false;           // --bounce: A -> B -> A, the turning frames once each
    int quality = -1;              // --quality: a video codec's CRF, WebP or JPEG quality; -1 = the default
    std::string codec;             // --codec: "" = the container's usual codec (DefaultVideoCodec)
    std::string format;            // --format: with -o -, the stream written: "png", "ppm" or "y4m"
    OutputTarget target;           // what OUTPUT (and --format) name, read once by the parser
};

enum class ParseResult { Render, Help, Version, UsageError };

// Fills `options` from the arguments after the program name. On UsageError `error` holds
// one line saying what is wrong.
ParseResult ParseRenderOptions(const std::vector<std::string>& args, RenderOptions& options, std::string& error);

// The usage text printed with --help, made from the option table.
const char* RenderUsage();

// True when the frames go to the standard output (-o -) rather than to files.
bool WritesToStdout(const RenderOptions& options);

// The codec a video file is written with (--codec, or the container's usual one); nullptr
// when the output is not a video file.
const VideoCodec* OutputCodec(const RenderOptions& options);

// The quality the output is written at: --quality, or the default of its codec or format;
// -1 for outputs without a quality setting (PNG, GIF, the streams, lossless WebP).
int OutputQuality(const RenderOptions& options);

// The writer settings given for frame files (--png-level, --quality, --compression,
// --subsampling, --lossless) as the table of writable formats takes them; only those the
// frames' format takes.
ImageWriteSettings FrameWriteSettings(const RenderOptions& options);

// The number of frames a sequence runs through: N, or 2N - 2 with --bounce (the end frames
// are not repeated, so the run loops without a pause); 0 for a single frame.
int RunLength(const RenderOptions& options);

// The rate, codec and quality an animation is written with, as the options ask.
AnimationFormat AnimationFormatOf(const RenderOptions& options);

// The engine parameters of frame `index` of the run (or of the single frame when frames is 0).
FrameRequest FrameRequestOf(const RenderOptions& options, int index);

// The warp and dissolve fractions of frame `index` of the run (or of the single frame when
// frames is 0; with --bounce the frames after B retrace the way back to A), narrowed to float the way the window narrows its slider value.
void FrameFractions(const RenderOptions& options, int index, float& warp, float& dissolve);

// Animations through the ffmpeg program, which is spawned (never linked) and fed raw RGBA
// frames one by one, in the container of the output's target (video/output_target.h). Video is encoded as BT.709,
// limited range, and tagged so. The file is written beside the destination without a name
// where the file system allows (so even SIGKILL leaves nothing), and takes the destination's
// name only once ffmpeg has succeeded. Usable from any program: it installs no signal
// handler, and records its child and temporary file in the clean-up table of
// files/pending_temps.h for a program that asks for one.
#pragma once

#include <string>
#include <vector>

#include "files/replace_file.h"
#include "image/pixel_image.h"
#include "video/ffmpeg_process.h"
#include "video/output_target.h"

class CAnimationWriter {
public:
    CAnimationWriter() = default;
    // Aborts an animation that was not finished.
    ~CAnimationWriter();
    CAnimationWriter(const CAnimationWriter&) = delete;
    CAnimationWriter& operator=(const CAnimationWriter&) = delete;

    // Starts ffmpeg for frames of width x height, written to `destination` as its `target`
    // (an animation) says. 0, or -1 with a reason (ffmpeg missing, with how to install it; a
    // codec it lacks or the container cannot carry, a quality out of range, in the words of
    // AnimationFormatProblem; no temporary file; no process).
    int Open(const std::string& destination, const OutputTarget& target, int width, int height,
             const AnimationFormat& format, std::string& reason);
    // Hands one frame (4-byte RGBA of the opened size) to ffmpeg; from any one thread at a time.
    // 0, or -1 with ffmpeg's own last words when it has stopped, or the stall it was stopped for.
    int WriteFrame(const CPixelImage& frame, std::string& reason);
    // Ends the input, waits for ffmpeg and puts the file in place. 0, or -1 with a reason and
    // no file left.
    int Finish(std::string& reason);
    // Stops ffmpeg and removes the temporary file.
    void Abort();

private:
    std::string destination;
    int width = 0, height = 0;
    int paddedWidth = 0, paddedHeight = 0;  // even sides for the 4:2:0 codecs
    TempFile temp;
    CFfmpegProcess ffmpeg;
    bool open = false;
    std::vector<unsigned char> padded;
};

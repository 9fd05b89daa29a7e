// Animations through the ffmpeg program, which is spawned (never linked) and fed raw RGBA
// frames on a pipe. The container follows the file's extension; the file is written under a
// temporary name beside the destination and renamed into place only once ffmpeg has succeeded,
// so a failure, or SIGINT, SIGTERM or SIGHUP, leaves nothing behind.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "image/pixel_image.h"

// True for the extensions written as one animation: .mp4 .webm .mkv .mov .gif .webp (any case).
bool IsAnimationPath(const std::string& path);

// The full path of an executable `program` on PATH, or "" when there is none.
std::string FindOnPath(const std::string& program);

// The ffmpeg program's path; "" with a reason that says how to install it when it is missing.
std::string FindFfmpeg(std::string& reason);

class CAnimationWriter {
public:
    CAnimationWriter() = default;
    // Aborts an animation that was not finished.
    ~CAnimationWriter();
    CAnimationWriter(const CAnimationWriter&) = delete;
    CAnimationWriter& operator=(const CAnimationWriter&) = delete;

    // Starts ffmpeg for frames of width x height at `fps` frames a second. 0, or -1 with a
    // reason (ffmpeg missing, with how to install it; no temporary file; no process).
    int Open(const std::string& destination, int width, int height, double fps, std::string& reason);
    // Hands one frame (4-byte RGBA of the opened size) to ffmpeg; from any one thread at a time.
    // 0, or -1 with ffmpeg's own last words when it has stopped.
    int WriteFrame(const CPixelImage& frame, std::string& reason);
    // Ends the input, waits for ffmpeg and puts the file in place. 0, or -1 with a reason and
    // no file left.
    int Finish(std::string& reason);
    // Stops ffmpeg and removes the temporary file.
    void Abort();

private:
    int Stop(std::string& reason);  // closes the pipe and reaps ffmpeg; 0 if it succeeded
    std::string LastWords() const;

    std::string destination, tempPath;
    int width = 0, height = 0;
    int paddedWidth = 0, paddedHeight = 0;  // even sides for the 4:2:0 codecs
    pid_t child = -1;
    int pipeFd = -1;
    int logFd = -1;
    std::vector<unsigned char> padded;
};

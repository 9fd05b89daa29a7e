// Decoding a picture file in the confined helper program quarro-decode: the file is opened and
// its header checked here, the helper decodes it in a process of its own, and its reply is
// checked as a stranger's. A crash, hang or memory blow-up of a decoder costs that helper only.
#pragma once

#include <string>
#include <vector>

#include "image/pixel_image.h"

// Uses this helper program from now on instead of the running program's own (an empty path
// goes back to that). The Python module sets the one it carries.
void SetImageDecoderPath(const std::string& path);
// The helper program to start: the one set above, else ../libexec/quarro/quarro-decode from the
// folder of the running program's real file, as installed and in the build tree alike; nothing
// is searched for. 0, or -1 with a reason naming the path when it is missing, not executable or
// could be changed by another user.
int FindImageDecoder(std::string& program, std::string& reason);

// Wall-clock time a decode may take before the helper is stopped, the same for every picture,
// with its CPU time limited to the same number of seconds, rounded up; 0 (the default) gives
// each picture the times its validated size calls for (decode_budget.h).
void SetImageDecodeTimeLimit(double seconds);

// A host that reads pictures one after another, each when the last has come (the Python
// module), keeps a helper started ahead of the next one; others start a helper only for a
// picture in hand. Off by default; turning it off stops a spare that is waiting.
void KeepImageDecoderSpare(bool keep);

// 0 with `target` holding the picture as 4-byte RGBA, top row first; or -1 with a reason a
// user can act on ("the PNG header claims 100000 x 100000 pixels, more than this program
// reads", "the decoder crashed (...)") and `target` untouched.
int DecodeImageFile(const std::string& path, CPixelImage& target, std::string& reason);

// What to do with a picture's colour profile, and what was done with it.
struct ImageColour {
    bool keepStored = false;  // asked: the numbers as stored instead of converted to sRGB
    // Told: "converted to sRGB from the JPEG's ICC profile "Display P3"", or, with `warning`, why
    // the colours are as stored; empty for untagged and sRGB pictures.
    std::string note;
    bool warning = false;
};
// DecodeImageFile as `colour` asks, filling in its note; `colour` may be null (converted, untold).
int DecodeImageFile(const std::string& path, CPixelImage& target, std::string& reason, ImageColour* colour);

// One picture of a batch: its path and what to do with its colours; once read, 0 in `result`
// with `image` and `colour` as DecodeImageFile gives them, or -1 with the reason. A file that
// could not even be opened also leaves the opener's own words ("is a FIFO, not a regular file",
// "No such file or directory") in `openReason` and its error number, if any, in `openError`.
struct ImageFileRead {
    std::string path;
    CPixelImage image;
    ImageColour colour;
    int result = -1;
    std::string reason;
    std::string openReason;
    int openError = 0;
};

// Reads every picture of the batch at once, each in a helper of its own, and returns when all
// have ended: the number that failed. A failure costs the other pictures nothing, so that a
// caller can report them in its own order.
int DecodeImageFiles(std::vector<ImageFileRead>& reads);

// Frames written one after another to a descriptor (the standard output, -o -) for another
// program to read: a PNG stream, a PPM stream (P6), or YUV4MPEG2 for video tools. The y4m
// stream is 4:2:0 with the chroma of each 2 x 2 block at its centre (C420jpeg), converted
// with the BT.709 matrix to limited range, as the video files are encoded; its header says
// XCOLORRANGE=LIMITED (the format has no field for the matrix).
#pragma once

#include <string>
#include <vector>

#include "image/pixel_image.h"
#include "video/output_target.h"

class CFrameStream {
public:
    // Writes to `fd` (not owned); y4m frames at fpsNum/fpsDen a second, PNG at zlib `pngLevel`.
    CFrameStream(int fd, StreamFormat format, int fpsNum, int fpsDen, int pngLevel);

    // Encodes one 4-byte RGBA frame and writes it whole; frames come in order, from one thread
    // at a time, all of one size. 0, or -1 with a reason (the reader went away, a write failed).
    int WriteFrame(const CPixelImage& frame, std::string& reason);

    int FramesWritten() const { return framesWritten; }

private:
    int WriteAllBytes(const unsigned char* data, size_t size, std::string& reason);

    int fd;
    StreamFormat format;
    int fpsNum, fpsDen, pngLevel;
    int framesWritten = 0;
    std::vector<unsigned char> bytes;
};

// The planes Y (width x height), Cb and Cr (each ceil(width/2) x ceil(height/2)) of a 4-byte
// RGBA image, one after another: BT.709, limited range (Y 16..235, Cb and Cr 16..240), each
// chroma sample from the mean colour of its 2 x 2 block (of the pixels there are, at odd edges).
void RgbaToYuv420(const CPixelImage& image, std::vector<unsigned char>& planes);

// Rows of a picture on their way to its pixels, for decoders that make rows top to bottom.
// Rows meant for memory shared with the program are made in small buffers and handed over in
// batches by pwrite: writing them through the shared mapping would take a page fault for every
// page, which costs more than the copy. For a large picture a second thread hands the batches
// over while the decoder makes the next ones. Rows made as RGB are widened to RGBA on the way,
// and converted to sRGB on the way when the picture has a colour profile (on the second thread,
// while the decoder goes on). Other rows are made where they belong.
#pragma once

#include <pthread.h>

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "decoder/decoded_image.h"

class ColourConversion;

class PixelRows {
public:
    // `out` holds the reserved pixels (ReservePixels succeeded); rows are made with
    // `bytesPerPixel` 4 (RGBA) or 3 (RGB, alpha 255).
    explicit PixelRows(DecodedImage& out, int bytesPerPixel = 4);
    ~PixelRows();
    PixelRows(const PixelRows&) = delete;
    PixelRows& operator=(const PixelRows&) = delete;

    // Converts every row from now on, before it reaches the pixels (`conversion` must outlive this).
    void ConvertOnTheWay(const ColourConversion* conversion) { convert = conversion; }

    // Where the next rows are to be made, Room() of them at most, one after the other.
    unsigned char* Next();
    int Room() const;
    // Counts `rows` more rows as made at Next(). A full batch goes on to the pixels; after the
    // last row every row is there when this returns. 0, or -1 with a reason when the pixels'
    // memory refuses them.
    int Made(int rows, std::string& reason);

private:
    struct Batch {
        std::vector<unsigned char> rows;
        int first = 0, count = 0;
        bool full = false;  // waiting to be handed over
    };
    static void* HandOverLoop(void* self);
    int Hand(Batch& batch, std::vector<unsigned char>& widened, std::string& reason);
    int Pass(std::string& reason);

    DecodedImage& out;
    const int madeBytesPerPixel;
    const size_t madeRowBytes, rowBytes;
    int batchRows = 0;  // 0: rows are made where they belong
    int done = 0;       // rows made and passed on
    Batch batches[2];
    int current = 0;
    std::vector<unsigned char> widened;  // this thread's RGBA rows, when there is no other thread
    const ColourConversion* convert = nullptr;

    // The hand-over thread, when there is one, and what it shares with the decoder.
    bool threaded = false;
    pthread_t thread;
    std::mutex mutex;
    std::condition_variable changed;
    bool stopping = false;
    std::string failure;
};

// Rows of a picture on their way to its pixels, for decoders that make rows top to bottom.
// Rows meant for memory shared with the program are made in small buffers and handed over in
// batches by pwrite: writing them through the shared mapping would take a page fault for every
// page, which costs more than the copy. For a large picture a second thread hands the batches
// over while the decoder makes the next ones, having prepared their colour conversion while the
// decoder made the first ones; the decoder hands some over itself when that thread falls behind.
// Rows made as RGB are widened to RGBA on the way, and converted to sRGB on the way when the
// picture has a colour profile. Other rows are made where they belong.
#pragma once

#include <pthread.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
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

    // Called before the first row is made: `prepare` gives the conversion every row takes before
    // it reaches the pixels (which must outlive this), or null for none. It runs on the hand-over
    // thread while the decoder makes the first rows, which wait for it in batches; without that
    // thread it runs here. It has run when the last row is made, and when this ends.
    void ConvertOnTheWay(std::function<const ColourConversion*()> prepare);

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
    };
    static void* HandOverLoop(void* self);
    int Hand(Batch& batch, std::vector<unsigned char>& widened, std::string& reason);
    int Pass(std::string& reason);
    Batch* NewBatch();
    // With `lock` held on `mutex`: the conversion is known, so batches may be handed over.
    bool Ready() const { return !prepare && !preparing; }
    // With `lock` held: hands the oldest queued batch over, unlocked meanwhile.
    void HandOldest(std::unique_lock<std::mutex>& lock, std::vector<unsigned char>& wide);

    DecodedImage& out;
    const int madeBytesPerPixel;
    const size_t madeRowBytes, rowBytes;
    int batchRows = 0;  // 0: rows are made where they belong
    int done = 0;       // rows made and passed on
    std::vector<std::unique_ptr<Batch>> batches;  // every batch made so far
    size_t mostBatches = 1;
    Batch* current = nullptr;  // the one the decoder fills
    std::vector<unsigned char> widened;  // the decoder's RGBA rows, when it hands batches over itself
    const ColourConversion* convert = nullptr;

    // The hand-over thread, when there is one, and what it shares with the decoder.
    bool threaded = false;
    pthread_t thread;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Batch*> queued;  // full, in order, waiting to be handed over
    std::vector<Batch*> emptied;  // handed over, for the decoder again: the last one first, still in the cache
    std::function<const ColourConversion*()> prepare;  // waiting to run on the thread
    bool preparing = false;     // the thread is running `prepare`
    int handing = 0;            // batches being handed over, by either thread
    bool stopping = false;
    std::string failure;
};

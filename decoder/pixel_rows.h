// Rows of a picture on their way to its pixels, for decoders that make rows top to bottom.
// Rows meant for memory shared with the program are made in a small buffer and handed over in
// batches by pwrite: writing them through the shared mapping would take a page fault for every
// page, which costs more than the copy. Other rows are made where they belong.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "decoder/decoded_image.h"

class PixelRows {
public:
    // `out` holds the reserved pixels (ReservePixels succeeded).
    explicit PixelRows(DecodedImage& out);
    PixelRows(const PixelRows&) = delete;
    PixelRows& operator=(const PixelRows&) = delete;

    // Where the next rows are to be made, Room() of them at most, each width x 4 bytes.
    unsigned char* Next();
    int Room() const;
    // Counts `rows` more rows as made at Next(); a full batch, or the last rows, go on to the
    // pixels. 0, or -1 with a reason when the pixels' memory refuses them.
    int Made(int rows, std::string& reason);

private:
    int Hand(std::string& reason);

    DecodedImage& out;
    size_t rowBytes;
    int batchRows;
    int done = 0;     // rows handed over
    int pending = 0;  // rows made in the batch, not yet handed over
    std::vector<unsigned char> batch;
};

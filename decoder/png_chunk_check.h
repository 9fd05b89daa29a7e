// The CRCs of a PNG's chunks, checked apart from the decoder so that the check of a large
// picture's image data runs on another core while the decoder inflates it: the chunks before
// the image data at once, the image data's chunks by a second thread. The file's chunks must
// be known to lie within it (as the decode entry checks before any decoder starts).
#pragma once

#include <pthread.h>

#include <cstddef>

class PngChunkCheck {
public:
    PngChunkCheck(const unsigned char* data, size_t size);
    ~PngChunkCheck();
    PngChunkCheck(const PngChunkCheck&) = delete;
    PngChunkCheck& operator=(const PngChunkCheck&) = delete;

    // True when every chunk before the first image data chunk has the CRC it claims.
    bool HeadIntact() const { return headIntact; }
    // Waits for the image data's check; true when every image data chunk has its CRC.
    bool DataIntact();

private:
    static void* CheckData(void* self);

    const unsigned char* data;
    size_t size;
    size_t dataStart = 0;  // the first image data chunk, or the end
    bool headIntact = true;
    bool dataIntact = true;
    bool threaded = false;
    pthread_t thread;
};

#include "decoder/pixel_rows.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// A batch stays within the processor's second-level cache while it is made and copied.
const size_t kBatchBytes = 128 << 10;

}  // namespace

PixelRows::PixelRows(DecodedImage& out)
    : out(out),
      rowBytes(static_cast<size_t>(out.width) * 4),
      batchRows(out.inPlace && out.placeFile >= 0 && rowBytes > 0
                    ? static_cast<int>(std::max<size_t>(1, kBatchBytes / rowBytes))
                    : 0) {
    if (batchRows > 0) batch.resize(static_cast<size_t>(batchRows) * rowBytes);
}

unsigned char* PixelRows::Next() {
    if (batchRows == 0) return out.Pixels() + static_cast<size_t>(done) * rowBytes;
    return batch.data() + static_cast<size_t>(pending) * rowBytes;
}

int PixelRows::Room() const { return batchRows == 0 ? out.height - done : batchRows - pending; }

int PixelRows::Made(int rows, std::string& reason) {
    if (batchRows == 0) {
        done += rows;
        return 0;
    }
    pending += rows;
    if (pending < batchRows && done + pending < out.height) return 0;
    return Hand(reason);
}

int PixelRows::Hand(std::string& reason) {
    size_t bytes = static_cast<size_t>(pending) * rowBytes, sent = 0;
    off_t at = static_cast<off_t>(static_cast<size_t>(done) * rowBytes);
    while (sent < bytes) {
        ssize_t n = pwrite(out.placeFile, batch.data() + sent, bytes - sent, at + static_cast<off_t>(sent));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            reason = std::string("the decoder could not write the pixels: ") + (n < 0 ? std::strerror(errno) : "no room");
            return -1;
        }
        sent += static_cast<size_t>(n);
    }
    done += pending;
    pending = 0;
    return 0;
}

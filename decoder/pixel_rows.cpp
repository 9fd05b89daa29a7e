#include "decoder/pixel_rows.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "decoder/colour_convert.h"

namespace {

// A batch stays within the processor's second-level cache while it is made and copied.
const size_t kBatchBytes = 128 << 10;
// Below this many bytes of pixels a second thread costs more than it saves.
const size_t kThreadedBytes = 4 << 20;
// The hand-over thread needs little stack; its default would count against the memory limit.
const size_t kThreadStack = 256 << 10;

void Widen(const unsigned char* rgb, unsigned char* rgba, size_t pixels) {
    for (size_t i = 0; i < pixels; ++i) {
        rgba[4 * i] = rgb[3 * i];
        rgba[4 * i + 1] = rgb[3 * i + 1];
        rgba[4 * i + 2] = rgb[3 * i + 2];
        rgba[4 * i + 3] = 255;
    }
}

}  // namespace

PixelRows::PixelRows(DecodedImage& out, int bytesPerPixel)
    : out(out),
      madeBytesPerPixel(bytesPerPixel),
      madeRowBytes(static_cast<size_t>(out.width) * bytesPerPixel),
      rowBytes(static_cast<size_t>(out.width) * 4) {
    bool shared = out.inPlace && out.placeFile >= 0;
    if (rowBytes == 0 || (!shared && bytesPerPixel == 4)) return;
    batchRows = static_cast<int>(std::max<size_t>(1, kBatchBytes / rowBytes));
    // Whole groups of 16 rows, the most a JPEG's scan makes at once.
    if (batchRows >= 16) batchRows -= batchRows % 16;
    if (!shared) batchRows = 1;  // RGB rows widened into place one by one
    for (Batch& batch : batches) batch.rows.resize(static_cast<size_t>(batchRows) * madeRowBytes);
    if (!shared || out.PixelBytes() < kThreadedBytes) return;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, kThreadStack);
    threaded = pthread_create(&thread, &attributes, HandOverLoop, this) == 0;
    pthread_attr_destroy(&attributes);
}

PixelRows::~PixelRows() {
    if (!threaded) return;
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    pthread_join(thread, nullptr);
}

unsigned char* PixelRows::Next() {
    if (batchRows == 0) return out.Pixels() + static_cast<size_t>(done) * rowBytes;
    Batch& batch = batches[current];
    return batch.rows.data() + static_cast<size_t>(batch.count) * madeRowBytes;
}

int PixelRows::Room() const {
    if (batchRows == 0) return out.height - done;
    return std::min(batchRows - batches[current].count, out.height - done - batches[current].count);
}

int PixelRows::Made(int rows, std::string& reason) {
    if (batchRows == 0) {
        unsigned char* made = out.Pixels() + static_cast<size_t>(done) * rowBytes;
        if (convert != nullptr) convert->Convert(made, made, static_cast<size_t>(rows) * static_cast<size_t>(out.width));
        done += rows;
        return 0;
    }
    Batch& batch = batches[current];
    batch.count += rows;
    bool last = done + batch.count >= out.height;
    if (batch.count < batchRows && !last) return 0;
    if (Pass(reason) != 0) return -1;
    if (!last || !threaded) return 0;
    // Every row is made: the thread hands the rest over and ends.
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return !batches[0].full && !batches[1].full; });
    if (failure.empty()) return 0;
    reason = failure;
    return -1;
}

// Passes the current batch on, and makes the other one current once it is free again.
int PixelRows::Pass(std::string& reason) {
    Batch& batch = batches[current];
    batch.first = done;
    done += batch.count;
    if (!threaded) {
        int status = Hand(batch, widened, reason);
        batch.count = 0;
        return status;
    }
    std::unique_lock<std::mutex> lock(mutex);
    batch.full = true;
    changed.notify_all();
    current = 1 - current;
    Batch& next = batches[current];
    changed.wait(lock, [&next, this] { return !next.full || !failure.empty(); });
    if (!failure.empty()) {
        reason = failure;
        return -1;
    }
    next.count = 0;
    return 0;
}

void* PixelRows::HandOverLoop(void* self) {
    PixelRows& rows = *static_cast<PixelRows*>(self);
    std::vector<unsigned char> widened;
    int turn = 0;
    std::unique_lock<std::mutex> lock(rows.mutex);
    for (;;) {
        Batch& batch = rows.batches[turn];
        rows.changed.wait(lock, [&] { return batch.full || rows.stopping; });
        if (!batch.full) return nullptr;
        lock.unlock();
        std::string reason;
        int status = rows.Hand(batch, widened, reason);
        lock.lock();
        if (status != 0 && rows.failure.empty()) rows.failure = reason;
        batch.full = false;
        rows.changed.notify_all();
        turn = 1 - turn;
    }
}

// Puts a batch's rows where they belong: widened, and written to the shared memory file or
// into place.
int PixelRows::Hand(Batch& batch, std::vector<unsigned char>& wide, std::string& reason) {
    unsigned char* rows = batch.rows.data();
    size_t bytes = static_cast<size_t>(batch.count) * rowBytes;
    size_t at = static_cast<size_t>(batch.first) * rowBytes;
    const size_t pixels = static_cast<size_t>(batch.count) * static_cast<size_t>(out.width);
    if (madeBytesPerPixel == 3) {
        bool shared = out.placeFile >= 0 && out.inPlace;
        unsigned char* target = out.Pixels() + at;
        if (shared) {
            wide.resize(bytes);
            target = wide.data();
        }
        Widen(rows, target, pixels);
        if (convert != nullptr) convert->Convert(target, target, pixels);
        if (!shared) return 0;
        rows = wide.data();
    } else if (convert != nullptr) {
        convert->Convert(rows, rows, pixels);
    }
    size_t sent = 0;
    while (sent < bytes) {
        ssize_t n = pwrite(out.placeFile, rows + sent, bytes - sent, static_cast<off_t>(at + sent));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            reason = std::string("the decoder could not write the pixels: ") + (n < 0 ? std::strerror(errno) : "no room");
            return -1;
        }
        sent += static_cast<size_t>(n);
    }
    return 0;
}

#include "decoder/pixel_rows.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "decoder/colour_convert.h"

namespace {

// A batch stays within the processor's second-level cache while it is made and copied.
const size_t kBatchBytes = 128 << 10;
// Rows the decoder may make ahead of the hand-over thread while that prepares the colour
// conversion (2 to 6 ms in a fresh helper, the decoder's time for several megabytes).
const size_t kQueuedBytes = 8 << 20;
// Past this many batches waiting, the decoder hands the oldest over itself: converting and writing
// a batch can take the hand-over thread about as long as making it takes the decoder.
const size_t kMostBehind = 4;
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
    current = NewBatch();
    if (!shared || out.PixelBytes() < kThreadedBytes) return;
    mostBatches = std::max<size_t>(2, kQueuedBytes / (static_cast<size_t>(batchRows) * madeRowBytes));
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

PixelRows::Batch* PixelRows::NewBatch() {
    batches.push_back(std::make_unique<Batch>());
    batches.back()->rows.resize(static_cast<size_t>(batchRows) * madeRowBytes);
    return batches.back().get();
}

void PixelRows::ConvertOnTheWay(std::function<const ColourConversion*()> preparation) {
    if (!threaded) {
        convert = preparation();
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        prepare = std::move(preparation);
    }
    changed.notify_all();
}

unsigned char* PixelRows::Next() {
    if (batchRows == 0) return out.Pixels() + static_cast<size_t>(done) * rowBytes;
    return current->rows.data() + static_cast<size_t>(current->count) * madeRowBytes;
}

int PixelRows::Room() const {
    if (batchRows == 0) return out.height - done;
    return std::min(batchRows - current->count, out.height - done - current->count);
}

int PixelRows::Made(int rows, std::string& reason) {
    if (batchRows == 0) {
        unsigned char* made = out.Pixels() + static_cast<size_t>(done) * rowBytes;
        if (convert != nullptr) convert->Convert(made, made, static_cast<size_t>(rows) * static_cast<size_t>(out.width));
        done += rows;
        return 0;
    }
    current->count += rows;
    bool last = done + current->count >= out.height;
    if (current->count < batchRows && !last) return 0;
    if (Pass(reason) != 0) return -1;
    if (!last || !threaded) return 0;
    // Every row is made: the rest is handed over by both threads.
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        changed.wait(lock, [this] { return Ready() && (!queued.empty() || handing == 0); });
        if (queued.empty()) break;
        HandOldest(lock, widened);
    }
    if (failure.empty()) return 0;
    reason = failure;
    return -1;
}

// Passes the current batch on, and makes an empty one current: one handed over already, or while
// the thread prepares the conversion, a new one up to kQueuedBytes. Once the conversion is known,
// the decoder hands batches over itself while the thread is more than kMostBehind behind.
int PixelRows::Pass(std::string& reason) {
    current->first = done;
    done += current->count;
    if (!threaded) {
        int status = Hand(*current, widened, reason);
        current->count = 0;
        return status;
    }
    std::unique_lock<std::mutex> lock(mutex);
    queued.push_back(current);
    changed.notify_all();
    while (Ready() && queued.size() > kMostBehind && failure.empty()) HandOldest(lock, widened);
    if (emptied.empty() && batches.size() < mostBatches) {
        current = NewBatch();
    } else {
        changed.wait(lock, [this] { return !emptied.empty() || !failure.empty(); });
        if (!failure.empty()) {
            reason = failure;
            return -1;
        }
        current = emptied.back();
        emptied.pop_back();
    }
    current->count = 0;
    return 0;
}

void PixelRows::HandOldest(std::unique_lock<std::mutex>& lock, std::vector<unsigned char>& wide) {
    Batch& batch = *queued.front();
    queued.pop_front();
    ++handing;
    lock.unlock();
    std::string reason;
    int status = Hand(batch, wide, reason);
    lock.lock();
    if (status != 0 && failure.empty()) failure = reason;
    emptied.push_back(&batch);
    --handing;
    changed.notify_all();
}

void* PixelRows::HandOverLoop(void* self) {
    PixelRows& rows = *static_cast<PixelRows*>(self);
    std::vector<unsigned char> widened;
    std::unique_lock<std::mutex> lock(rows.mutex);
    for (;;) {
        rows.changed.wait(lock, [&] { return rows.prepare || !rows.queued.empty() || rows.stopping; });
        if (rows.prepare) {
            std::function<const ColourConversion*()> preparation = std::move(rows.prepare);
            rows.prepare = nullptr;
            rows.preparing = true;
            lock.unlock();
            const ColourConversion* conversion = preparation();
            lock.lock();
            rows.convert = conversion;
            rows.preparing = false;
            rows.changed.notify_all();
            continue;
        }
        if (rows.queued.empty()) return nullptr;
        rows.HandOldest(lock, widened);
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

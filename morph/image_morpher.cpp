#include "morph/image_morpher.h"

#include <iostream>
#include <new>
#include <system_error>
#include <vector>

#include "morph/fast_plan.h"

namespace {

// Starts a thread without letting the library's exception escape; false if none could be had.
template <typename Fn>
bool TryStartThread(std::thread& thread, Fn&& fn) {
    try {
        thread = std::thread(std::forward<Fn>(fn));
        return true;
    } catch (const std::system_error&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool HoldsRgbaPixels(const CPixelImage* image) {
    return image->bytesPerPixel == 4 && image->pixels != nullptr && image->width > 0 && image->height > 0;
}

}  // namespace

std::vector<RowBand> SplitRows(uint32_t H, uint32_t n) {
    std::vector<RowBand> bands(n);
    const uint32_t rowsPerBand = n == 0 ? 0 : H / n;
    for (uint32_t i = 0; i < n; ++i) {
        bands[i].firstRow = static_cast<int32_t>(i * rowsPerBand);
        bands[i].endRow = static_cast<int32_t>(i == n - 1 ? H : (i + 1) * rowsPerBand);
    }
    return bands;
}

bool PrepareOutputBuffer(CPixelImage& output, uint32_t width, uint32_t height) {
    if (output.width == static_cast<int>(width) && output.height == static_cast<int>(height) &&
        output.bytesPerPixel == 4 && output.pixels != nullptr) {
        return false;
    }
    output.Allocate(static_cast<int>(width), static_cast<int>(height), 4);
    return true;
}

CImageMorpher::CImageMorpher() : fastPlan(std::make_unique<CFastMorphPlan>()) { Reset(); }

CImageMorpher::~CImageMorpher() {
    stopRequested.store(true);
    std::list<std::unique_ptr<Controller>> all;
    {
        std::lock_guard<std::mutex> lock(requestMutex);
        all.swap(controllers);
    }
    for (auto& c : all) {
        if (c->thread.joinable()) c->thread.join();
    }
    Reset();
    warpedSegments.clear();
    workSegmentsB.clear();
    workSegmentsA.clear();
}

void CImageMorpher::SetThreadCount(uint32_t n) {
    if (n != 0) threadCount = static_cast<int32_t>(n);
}

void CImageMorpher::SetCompletionCallback(CompletionCallback function, void* data) {
    std::lock_guard<std::mutex> lock(requestMutex);
    completionCallback = function;
    callbackData = data;
}

void CImageMorpher::ReapFinishedControllers() {
    for (auto it = controllers.begin(); it != controllers.end();) {
        if ((*it)->finished.load()) {
            (*it)->thread.join();
            it = controllers.erase(it);
        } else {
            ++it;
        }
    }
}

int CImageMorpher::StartMorph(const MorphSettings& settings) {
    std::lock_guard<std::mutex> lock(requestMutex);
    cancelRequested.store(false);
    ReapFinishedControllers();
    auto controller = std::make_unique<Controller>();
    Controller* self = controller.get();
    // The request record: the controller owns its copy of the settings.
    auto request = std::make_shared<MorphSettings>(settings);
    bool started = TryStartThread(self->thread, [this, self, request]() {
        MorphSettings local = *request;
        RunMorph(local);
        std::lock_guard<std::mutex> finishing(requestMutex);
        self->finished.store(true);
        controllerFinished.notify_all();
    });
    if (!started) {
        std::cerr << "Thread creation error in __FUNCTION__\n";
        return -1;
    }
    controllers.push_back(std::move(controller));
    return 0;
}

void CImageMorpher::WaitUntilIdle() {
    for (;;) {
        std::unique_ptr<Controller> next;
        {
            std::lock_guard<std::mutex> lock(requestMutex);
            if (controllers.empty()) return;
            next = std::move(controllers.front());
            controllers.pop_front();
        }
        if (next->thread.joinable()) next->thread.join();
    }
}

bool CImageMorpher::AllControllersFinished() const {
    for (const auto& c : controllers) {
        if (!c->finished.load()) return false;
    }
    return true;
}

bool CImageMorpher::WaitUntilIdleFor(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(requestMutex);
    if (!controllerFinished.wait_for(lock, timeout, [this]() { return AllControllersFinished(); })) return false;
    ReapFinishedControllers();
    return true;
}

int CImageMorpher::RunMorph(const MorphSettings& settings) {
    std::lock_guard<std::mutex> run(runMutex);
    if (stopRequested.load()) return -1;
    if (Configure(settings) != 0) {
        Reset();
        return -1;
    }

    const uint32_t W = outputWidth;
    const uint32_t H = outputHeight.load();
    if (!PrepareOutputBuffer(*outputImage, W, H)) outputImage->fileName = "undefined";
    const bool nothingToRender = W == 0 || H == 0;
    if (outputImage->pixels == nullptr && !nothingToRender) {
        std::cerr << "ERROR: could not allocate the output image of " << W << " x " << H << " pixels\n";
        outputImage->Clear();
    } else if (!nothingToRender) {
        job.imageA = imageA;
        job.imageB = imageB;
        job.outputPixels = outputImage->pixels;
        job.workSegmentsA = &workSegmentsA;
        job.workSegmentsB = &workSegmentsB;
        job.warpedSegments = &warpedSegments;
        job.dissoveFrac = dissoveFrac;
        job.a = a;
        job.b = b;
        job.outputWidth = W;
        job.outputHeight = H;
        useFastKernel = kernel.load() == MorphKernel::Fast && fastPlan->Prepare(job);

        const uint32_t n = static_cast<uint32_t>(threadCount.load());
        std::vector<RowBand> bands = SplitRows(H, n);
        std::vector<std::thread> workers(n);
        std::vector<bool> running(n, false);
        for (uint32_t i = 0; i < n; ++i) {
            bands[i].engine = this;
            const RowBand* band = &bands[i];
            running[i] = TryStartThread(workers[i], [this, band]() { MorphRows(*band); });
            if (!running[i]) std::cerr << "Thread creation error in __FUNCTON__\n";
        }
        // A band whose worker could not be started is rendered here rather than left unset.
        for (uint32_t i = 0; i < n; ++i) {
            if (!running[i]) MorphRows(bands[i]);
        }
        for (uint32_t i = 0; i < n; ++i) {
            if (running[i]) workers[i].join();
        }
        useFastKernel = false;  // the plan refers to this morph's images only
    }

    CompletionCallback callback;
    void* data;
    {
        // The window may register its callback while a short job is already running.
        std::lock_guard<std::mutex> lock(requestMutex);
        callback = completionCallback;
        data = callbackData;
    }
    if (callback != nullptr && !stopRequested.load() && !cancelRequested.load()) callback(data);
    Reset();
    return 0;
}

int CImageMorpher::Configure(const MorphSettings& settings) {
    Reset();
    warpFrac = settings.warpFrac;
    dissoveFrac = settings.dissoveFrac;
    a = settings.a;
    b = settings.b;
    p = settings.p;
    outputWidth = settings.outputWidth;
    outputHeight.store(settings.outputHeight);
    imageA = settings.imageA;
    imageB = settings.imageB;
    outputImage = settings.outputImage;
    segmentsA = settings.segmentsA;
    segmentsB = settings.segmentsB;

    static const SegmentList kNoSegments;
    PrepareSegments(segmentsA ? *segmentsA : kNoSegments, segmentsB ? *segmentsB : kNoSegments, warpFrac, p,
                    workSegmentsA, workSegmentsB, warpedSegments);

    if (warpFrac < 0.0f || warpFrac > 1.0f) {
        std::cerr << "ERROR: warpFrac (" << warpFrac << ") must be in the range [0..1]\n";
        return -1;
    }
    if (dissoveFrac < 0.0f || dissoveFrac > 1.0f) {
        std::cerr << "ERROR: dissoveFrac (" << dissoveFrac << ") must be in the range [0..1]\n";
        return -1;
    }
    if (imageA == nullptr || imageB == nullptr || outputImage == nullptr) {
        std::cerr << "ERROR: a morph needs image A, image B and an output image\n";
        return -1;
    }
    if (imageA->bytesPerPixel != 4 || imageB->bytesPerPixel != 4) {
        std::cerr << "ERROR: " << imageA->fileName << " and " << imageB->fileName << " must be 32-bit images!\n";
        return -1;
    }
    if (!HoldsRgbaPixels(imageA) || !HoldsRgbaPixels(imageB)) {
        std::cerr << "ERROR: " << imageA->fileName << " and " << imageB->fileName << " must hold pixels!\n";
        return -1;
    }
    return 0;
}

void CImageMorpher::Reset() {
    imageA = imageB = outputImage = nullptr;
    segmentsA = segmentsB = nullptr;
    rowsDone.store(0);
}

void CImageMorpher::MorphRows(const RowBand& band) {
    const size_t pairs = job.warpedSegments->size();
    unsigned char* activeMask = nullptr;
    if (pairs > 0) {
        activeMask = new (std::nothrow) unsigned char[pairs];
        if (activeMask == nullptr) {
            std::cerr << "ERROR: memory allocation error in " << "CImageMorpher::MorphRows" << std::endl;
            return;
        }
        // Every pair is evaluated until an evaluation finds it weak.
        for (size_t i = 0; i < pairs; ++i) activeMask[i] = 1;
    }
    // The vector kernel's per-worker scratch; without it the band is rendered by the plain path.
    FastRowScratch scratch;
    const bool fast = useFastKernel && scratch.Allocate(*fastPlan);
    const float H = static_cast<float>(job.outputHeight);
    const float dy = 1.0f / H;
    float y = (static_cast<float>(band.firstRow) + 0.5f) / H;
    for (int32_t row = band.firstRow; row < band.endRow; ++row) {
        if (stopRequested.load(std::memory_order_relaxed) || cancelRequested.load(std::memory_order_relaxed)) break;
        if (fast) {
            MorphRowFast(*fastPlan, static_cast<uint32_t>(row), y, activeMask, scratch);
        } else {
            MorphRowPlain(job, static_cast<uint32_t>(row), y, activeMask);
        }
        y = y + dy;
        std::lock_guard<std::mutex> lock(rowMutex);
        rowsDone.fetch_add(1, std::memory_order_relaxed);
    }
    delete[] activeMask;
}

int CImageMorpher::GetProgress(float* fraction) {
    if (fraction == nullptr) return -1;
    if (runMutex.try_lock()) {
        uint32_t H = outputHeight.load();
        runMutex.unlock();
        if (H == 0) return -1;
        *fraction = 1.0f;
        return 0;
    }
    uint32_t H = outputHeight.load();
    if (H == 0) return -1;
    *fraction = static_cast<float>(static_cast<double>(rowsDone.load(std::memory_order_relaxed)) / H);
    return 0;
}

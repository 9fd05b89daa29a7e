// The morph engine: a request returns at once; a controller thread validates the settings,
// prepares the segments, sizes the output and runs one worker per band of output rows.
// The window, the command-line renderer, the tests and the benchmarks all use this class.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "image/pixel_image.h"
#include "morph/field_warp.h"
#include "morph/morph_settings.h"
#include "morph/segment_list.h"

class CFastMorphPlan;

// The row renderer of a morph: the vector kernel, or the plain per-pixel path that is its
// reference. Both give the same bytes.
enum class MorphKernel { Plain, Fast };

// One worker's share of the output: rows [firstRow, endRow).
struct RowBand {
    int32_t firstRow = 0;
    int32_t endRow = 0;
    class CImageMorpher* engine = nullptr;
};

// Splits H output rows into n contiguous bands of floor(H / n) rows; the last band takes the
// remainder (with n > H every band but the last is empty).
std::vector<RowBand> SplitRows(uint32_t H, uint32_t n);

// Gives `output` an RGBA buffer of width x height, keeping the one it has when it already has
// that size: the window draws the output while the engine writes it, so a buffer of the right
// size is never freed under it. True when a new buffer was allocated (its bytes are unset;
// on failure the image is left empty).
bool PrepareOutputBuffer(CPixelImage& output, uint32_t width, uint32_t height);

class CImageMorpher {
public:
    using CompletionCallback = void (*)(void*);

    CImageMorpher();
    // Stops a running morph at its next row and joins every thread before releasing anything.
    ~CImageMorpher();
    CImageMorpher(const CImageMorpher&) = delete;
    CImageMorpher& operator=(const CImageMorpher&) = delete;

    // Worker count of the next morph; 0 is ignored.
    void SetThreadCount(uint32_t n);
    // Called once on the controller thread, with runMutex held, when a morph has rendered.
    void SetCompletionCallback(CompletionCallback function, void* data);

    // Copies the settings and starts the morph in the background. 0 when the job was handed
    // to its controller thread; -1 (after a message on stderr) when no thread could be had.
    int StartMorph(const MorphSettings& settings);

    // Stops the morphs requested so far at their next row: they end without the completion
    // callback, so RenderOneFrame says they were not rendered. For a caller that gives a frame
    // up (Python's Ctrl+C); the next StartMorph renders again. From any thread.
    void Cancel() { cancelRequested.store(true); }

    // Never waits. -1 (nothing written) before the first morph; otherwise 0 with the finished
    // fraction of rows while a morph runs, and 1.0 while none runs.
    int GetProgress(float* fraction);

    // Blocks until every morph requested so far has ended (for the command-line renderer and
    // tests; the window never calls it).
    void WaitUntilIdle();
    // The same wait for at most `timeout`: true when every morph requested so far has ended,
    // false when the time ran out first.
    bool WaitUntilIdleFor(std::chrono::milliseconds timeout);

    // The row renderer of the next morph: the vector kernel (default) or the plain per-pixel
    // path, which is its reference. Both give the same bytes.
    void SetKernel(MorphKernel k) { kernel.store(k); }
    MorphKernel GetKernel() const { return kernel.load(); }

    // The engine's state, public like the rest of the program's plain classes.
    std::atomic<int32_t> threadCount{1};  // may be set while an earlier morph runs
    CompletionCallback completionCallback = nullptr;
    void* callbackData = nullptr;
    CPixelImage* imageA = nullptr;
    CPixelImage* imageB = nullptr;
    CPixelImage* outputImage = nullptr;
    SegmentList* segmentsA = nullptr;
    SegmentList* segmentsB = nullptr;
    float dissoveFrac = 0.0f;
    float warpFrac = 0.0f;
    float a = 0.0f, b = 0.0f, p = 0.0f;
    uint32_t outputWidth = 0;
    std::atomic<uint32_t> outputHeight{0};
    SegmentList workSegmentsA, workSegmentsB, warpedSegments;
    std::mutex requestMutex;
    std::mutex runMutex;
    std::mutex rowMutex;
    std::atomic<uint32_t> rowsDone{0};

    // Internal steps, public so that tests can drive them on the calling thread.
    int RunMorph(const MorphSettings& settings);
    int Configure(const MorphSettings& settings);
    void Reset();
    void MorphRows(const RowBand& band);

private:
    struct Controller {
        std::thread thread;
        std::atomic<bool> finished{false};
    };
    void ReapFinishedControllers();  // requestMutex held
    bool AllControllersFinished() const;  // requestMutex held

    std::list<std::unique_ptr<Controller>> controllers;
    std::condition_variable controllerFinished;  // with requestMutex
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> cancelRequested{false};
    MorphJob job;
    std::atomic<MorphKernel> kernel{MorphKernel::Fast};
    std::unique_ptr<CFastMorphPlan> fastPlan;  // prepared per morph when the vector kernel renders it
    bool useFastKernel = false;
};

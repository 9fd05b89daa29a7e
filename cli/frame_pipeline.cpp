#include "cli/frame_pipeline.h"

#include <system_error>

CFramePipeline::CFramePipeline(EncodeFunction encodeFunction, int encoders, int buffers)
    : encode(std::move(encodeFunction)), encoderCount(encoders < 1 ? 1 : encoders) {
    if (buffers < encoderCount + 1) buffers = encoderCount + 1;
    for (int i = 0; i < buffers; ++i) {
        storage.push_back(std::make_unique<QueuedFrame>());
        freeFrames.push_back(storage.back().get());
    }
}

CFramePipeline::~CFramePipeline() {
    std::string path, reason;
    Finish(path, reason);
}

int CFramePipeline::Start(std::string& reason) {
    for (int i = 0; i < encoderCount; ++i) {
        try {
            threads.emplace_back(&CFramePipeline::EncoderLoop, this);
        } catch (const std::system_error& error) {
            reason = std::string("no encoder thread could be started: ") + error.what();
            std::string ignoredPath, ignoredReason;
            Finish(ignoredPath, ignoredReason);
            return -1;
        }
    }
    return 0;
}

QueuedFrame* CFramePipeline::Acquire() {
    std::unique_lock<std::mutex> lock(mutex);
    bufferFreed.wait(lock, [this] { return failed || !freeFrames.empty(); });
    if (failed) return nullptr;
    QueuedFrame* frame = freeFrames.front();
    freeFrames.pop_front();
    return frame;
}

void CFramePipeline::Submit(QueuedFrame* frame) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        queuedFrames.push_back(frame);
    }
    frameQueued.notify_one();
}

void CFramePipeline::Release(QueuedFrame* frame) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        freeFrames.push_back(frame);
    }
    bufferFreed.notify_one();
}

void CFramePipeline::EncoderLoop() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        frameQueued.wait(lock, [this] { return closing || !queuedFrames.empty(); });
        if (queuedFrames.empty()) return;  // closing, and nothing left to write
        QueuedFrame* frame = queuedFrames.front();
        queuedFrames.pop_front();
        if (!failed) {
            lock.unlock();
            std::string reason;
            int status = encode(*frame, reason);
            lock.lock();
            if (status != 0 && !failed) {
                failed = true;
                failedPath = frame->path;
                failureReason = reason;
            }
        }
        freeFrames.push_back(frame);
        // A failure wakes the render loop however many buffers are free.
        bufferFreed.notify_all();
    }
}

int CFramePipeline::Finish(std::string& path, std::string& reason) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        closing = true;
    }
    frameQueued.notify_all();
    for (std::thread& thread : threads) {
        if (thread.joinable()) thread.join();
    }
    threads.clear();
    std::lock_guard<std::mutex> lock(mutex);
    if (!failed) return 0;
    path = failedPath;
    reason = failureReason;
    return -1;
}

void PipelineShape(size_t frameBytes, bool ordered, int& encoders, int& buffers) {
    unsigned cores = std::thread::hardware_concurrency();
    encoders = ordered ? 1 : static_cast<int>(cores < 1 ? 1 : cores > 4 ? 4 : cores);
    buffers = encoders + 1;
    const size_t budget = size_t(1) << 30;
    while (buffers > 2 && static_cast<size_t>(buffers) * frameBytes > budget) --buffers;
    encoders = buffers - 1 < encoders ? buffers - 1 : encoders;
}

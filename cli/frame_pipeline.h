// The frames of a run on their way to their files: the render loop takes a free buffer,
// renders into it and hands it on, and encoder threads write it while the next frame renders.
// A fixed set of buffers bounds the memory whatever the length of the run; one encoder thread
// keeps the frames in the order they were handed on. The first failure stops the run.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "image/pixel_image.h"

struct QueuedFrame {
    int index = 0;      // the frame's number in the run
    std::string path;   // where it goes, fixed before the run starts
    CPixelImage image;  // rendered into by the loop, read by one encoder
};

class CFramePipeline {
public:
    // Runs on an encoder thread: 0, or -1 with a reason the user can act on.
    using EncodeFunction = std::function<int(QueuedFrame& frame, std::string& reason)>;

    // `encoders` threads (at least 1) and `buffers` frames (at least encoders + 1).
    CFramePipeline(EncodeFunction encode, int encoders, int buffers);
    // Finishes the run if the owner did not.
    ~CFramePipeline();
    CFramePipeline(const CFramePipeline&) = delete;
    CFramePipeline& operator=(const CFramePipeline&) = delete;

    // Starts the encoder threads: 0, or -1 with `reason` when the system gave no thread.
    int Start(std::string& reason);

    // Render-loop side. A free buffer, waiting while every one is in flight; nullptr once a
    // frame has failed, for the loop to stop.
    QueuedFrame* Acquire();
    // Hands a rendered buffer to the encoders.
    void Submit(QueuedFrame* frame);
    // Gives back a buffer that holds no frame to write (its render failed).
    void Release(QueuedFrame* frame);

    // Waits until every handed-on frame is written (or dropped after a failure) and stops the
    // threads. 0, or -1 with the first failed frame's path and reason.
    int Finish(std::string& failedPath, std::string& reason);

private:
    void EncoderLoop();

    EncodeFunction encode;
    int encoderCount;
    std::vector<std::unique_ptr<QueuedFrame>> storage;
    std::vector<std::thread> threads;

    std::mutex mutex;  // guards everything below
    std::condition_variable bufferFreed, frameQueued;
    std::deque<QueuedFrame*> freeFrames, queuedFrames;
    bool closing = false;
    bool failed = false;
    std::string failedPath, failureReason;
};

// How many encoder threads and frame buffers a run uses for frames of `frameBytes` bytes:
// as many encoders as cores (at most 4, 1 when `ordered`) and one buffer more; fewer of both
// (never under 1 encoder and 2 buffers) when the buffers would pass about 1 GiB.
void PipelineShape(size_t frameBytes, bool ordered, int& encoders, int& buffers);

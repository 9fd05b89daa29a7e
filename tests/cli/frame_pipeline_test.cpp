// The frame pipeline between the render loop and the encoders: order with one encoder, every
// frame once with several, the bound on buffers, and the stop after the first failure.
#include "cli/frame_pipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace {

// Records what the encoders saw; `failAt` (or -1) is the frame whose encoding fails.
struct EncodeLog {
    std::mutex mutex;
    std::vector<int> order;
    std::set<const QueuedFrame*> buffers;
    int failAt = -1;

    CFramePipeline::EncodeFunction Function() {
        return [this](QueuedFrame& frame, std::string& reason) {
            std::lock_guard<std::mutex> lock(mutex);
            order.push_back(frame.index);
            buffers.insert(&frame);
            if (frame.index != failAt && frame.image.pixels[0] == static_cast<unsigned char>(frame.index)) return 0;
            reason = "disk full";
            return -1;
        };
    }
};

// The render loop's side: frames 0..count-1 handed on in order; how many were handed on.
int Feed(CFramePipeline& pipeline, int count) {
    int handed = 0;
    for (int index = 0; index < count; ++index) {
        QueuedFrame* frame = pipeline.Acquire();
        if (frame == nullptr) break;
        frame->index = index;
        frame->path = "f" + std::to_string(index);
        frame->image.Allocate(3, 2, 4);
        frame->image.pixels[0] = static_cast<unsigned char>(index);
        pipeline.Submit(frame);
        ++handed;
    }
    return handed;
}

TEST(FramePipeline, OneEncoderWritesEveryFrameInOrderThroughItsFewBuffers) {
    EncodeLog log;
    CFramePipeline pipeline(log.Function(), 1, 3);
    std::string reason, path;
    ASSERT_EQ(0, pipeline.Start(reason));
    EXPECT_EQ(40, Feed(pipeline, 40));
    EXPECT_EQ(0, pipeline.Finish(path, reason));
    std::vector<int> expected(40);
    for (int i = 0; i < 40; ++i) expected[static_cast<size_t>(i)] = i;
    EXPECT_EQ(expected, log.order);
    EXPECT_LE(log.buffers.size(), 3u);
}

TEST(FramePipeline, SeveralEncodersWriteEachFrameOnce) {
    EncodeLog log;
    CFramePipeline pipeline(log.Function(), 3, 4);
    std::string reason, path;
    ASSERT_EQ(0, pipeline.Start(reason));
    EXPECT_EQ(60, Feed(pipeline, 60));
    EXPECT_EQ(0, pipeline.Finish(path, reason));
    std::vector<int> order = log.order;
    std::sort(order.begin(), order.end());
    for (int i = 0; i < 60; ++i) EXPECT_EQ(i, order[static_cast<size_t>(i)]);
    EXPECT_LE(log.buffers.size(), 4u);
}

TEST(FramePipeline, FirstFailureStopsTheRunAndIsReported) {
    for (int encoders : {1, 2}) {
        EncodeLog log;
        log.failAt = 5;
        CFramePipeline pipeline(log.Function(), encoders, encoders + 1);
        std::string reason, path;
        ASSERT_EQ(0, pipeline.Start(reason));
        // Far more frames than a stalled encoder thread could see go by.
        int handed = Feed(pipeline, 100000);
        EXPECT_LT(handed, 100000) << "the render loop was not stopped";
        EXPECT_EQ(-1, pipeline.Finish(path, reason));
        EXPECT_EQ("f5", path);
        EXPECT_EQ("disk full", reason);
        // A lone encoder records the failure before it takes the next frame, so nothing after
        // the failed frame is written. With more, another encoder may finish frames it took
        // before the failure was recorded; how many depends on the scheduler, so only the stop
        // itself is certain there.
        if (encoders == 1) {
            EXPECT_EQ(5, *std::max_element(log.order.begin(), log.order.end()));
        }
    }
}

TEST(FramePipeline, ReleasedBufferCanBeTakenAgain) {
    EncodeLog log;
    CFramePipeline pipeline(log.Function(), 1, 2);
    std::string reason, path;
    ASSERT_EQ(0, pipeline.Start(reason));
    QueuedFrame* first = pipeline.Acquire();
    QueuedFrame* second = pipeline.Acquire();
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, second);
    pipeline.Release(first);
    EXPECT_EQ(first, pipeline.Acquire());  // would block for ever had the release been lost
    pipeline.Release(first);
    pipeline.Release(second);
    EXPECT_EQ(0, pipeline.Finish(path, reason));
    EXPECT_TRUE(log.order.empty());
}

TEST(PipelineShape, BoundsBuffersByMemoryAndOrderByOneEncoder) {
    int encoders = 0, buffers = 0;
    PipelineShape(8u << 20, true, encoders, buffers);
    EXPECT_EQ(1, encoders);
    EXPECT_EQ(2, buffers);
    PipelineShape(8u << 20, false, encoders, buffers);
    EXPECT_GE(encoders, 1);
    EXPECT_LE(encoders, 4);
    EXPECT_EQ(encoders + 1, buffers);
    PipelineShape(size_t(400) << 20, false, encoders, buffers);  // a 10000 x 10000 frame
    EXPECT_EQ(2, buffers);
    EXPECT_EQ(1, encoders);
}

}  // namespace

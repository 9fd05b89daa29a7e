#include "morph/image_morpher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "morph/fast_sqrt.h"
#include "morph/morph_scene.h"

namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

class ImageMorpherTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitFastSqrt(); }
};

// ---- An independent, deliberately plain rendering of the frame ---------------------------

struct RefSeg {
    float px, py, qx, qy, len, lpow, inv, inv2, dx, dy, nx, ny, ux, uy;
};

float BitsToFloat(uint32_t b) {
    float f;
    std::memcpy(&f, &b, 4);
    return f;
}

RefSeg MakeSeg(float px, float py, float qx, float qy, float p) {
    RefSeg s{};
    s.px = px, s.py = py, s.qx = qx, s.qy = qy;
    s.dx = qx - px;
    s.dy = qy - py;
    s.nx = s.dy;
    s.ny = -s.dx;
    float sq = s.dx * s.dx + s.dy * s.dy;
    s.len = static_cast<float>(std::sqrt(static_cast<double>(sq)));
    s.lpow = static_cast<float>(std::pow(static_cast<double>(s.len), static_cast<double>(p)));
    if (s.len != 0.0f) {
        uint32_t bits;
        std::memcpy(&bits, &s.len, 4);
        float e = BitsToFloat(0x7F000000u - bits);
        s.inv = (2.0f - s.len * e) * e;
        s.inv2 = s.inv * s.inv;
        s.ux = s.nx * s.inv;
        s.uy = s.ny * s.inv;
    }
    return s;
}

unsigned char RefSample(const CPixelImage& im, float x, float y, int k) {
    int W = im.width, H = im.height;
    int ix = static_cast<int>(std::floor(x)), iy = static_cast<int>(std::floor(y));
    if (ix < 0) ix = 0, x = 0;
    else if (ix >= W - 1) ix = W - 2, x = static_cast<float>(W - 2);
    if (iy < 0) iy = 0, y = 0;
    else if (iy >= H - 1) iy = H - 2, y = static_cast<float>(H - 2);
    float fx = x - ix, fy = y - iy;
    auto at = [&](int c, int r) { return static_cast<float>(im.pixels[4 * (r * W + c) + k]); };
    float top = at(ix, iy) + (at(ix + 1, iy) - at(ix, iy)) * fx;
    float bottom = at(ix, iy + 1) + (at(ix + 1, iy + 1) - at(ix, iy + 1)) * fx;
    return static_cast<unsigned char>(std::nearbyint(top + (bottom - top) * fy));
}

std::vector<unsigned char> ReferenceFrame(const CPixelImage& A, const CPixelImage& B, const SegmentList& la,
                                          const SegmentList& lb, float warp, float dissolve, uint32_t W,
                                          uint32_t H, uint32_t threads) {
    const float a = 0.01f, b = 2.0f, p = 0.2f;
    std::vector<RefSeg> sa, sb, sw;
    for (size_t i = 0; i < la.size(); ++i) {
        RefSeg ra = MakeSeg(la[i].P.x, 1 - la[i].P.y, la[i].Q.x, 1 - la[i].Q.y, p);
        RefSeg rb = MakeSeg(lb[i].P.x, 1 - lb[i].P.y, lb[i].Q.x, 1 - lb[i].Q.y, p);
        float t = warp, Px, Py, Qx, Qy;
        do {
            t = t + 0.000001f;
            Px = (rb.px - ra.px) * t + ra.px;
            Py = (rb.py - ra.py) * t + ra.py;
            Qx = (rb.qx - ra.qx) * t + ra.qx;
            Qy = (rb.qy - ra.qy) * t + ra.qy;
        } while (Px == Qx && Py == Qy);
        float Dx = Qx - Px, Dy = Qy - Py;
        float lenT = FastSqrt(Dx * Dx + Dy * Dy);
        float L = ra.len + (rb.len - ra.len) * t;
        if (std::fabs(lenT - L) > 0.1f) {
            float Mx = Px + Dx * 0.5f, My = Py + Dy * 0.5f, s = L / lenT;
            float Ex = (Dx * 0.5f) * s, Ey = (Dy * 0.5f) * s;
            Px = Mx - Ex, Py = My - Ey, Qx = Mx + Ex, Qy = My + Ey;
        }
        sa.push_back(ra);
        sb.push_back(rb);
        sw.push_back(MakeSeg(Px, Py, Qx, Qy, p));
    }
    std::vector<unsigned char> out(static_cast<size_t>(W) * H * 4);
    uint32_t per = H / threads;
    for (uint32_t band = 0; band < threads; ++band) {
        uint32_t first = band * per, end = band == threads - 1 ? H : first + per;
        std::vector<unsigned char> mask(sw.size(), 1);
        float y = (static_cast<float>(first) + 0.5f) / static_cast<float>(H);
        for (uint32_t r = first; r < end; ++r) {
            float x = 0.5f / static_cast<float>(W);
            for (uint32_t c = 0; c < W; ++c) {
                float SAx = 0, SAy = 0, SBx = 0, SBy = 0, S = 0.00001f;
                for (size_t i = 0; i < sw.size(); ++i) {
                    if (c % 4 != 0 && mask[i] == 0) continue;
                    const RefSeg& w = sw[i];
                    float Rx = x - w.px, Ry = y - w.py;
                    float u = (Rx * w.dx + Ry * w.dy) * w.inv2;
                    float v = (Rx * w.nx + Ry * w.ny) * w.inv;
                    float dist;
                    if (u < 0) dist = FastSqrt(Rx * Rx + Ry * Ry);
                    else if (u > 1) dist = FastSqrt((x - w.qx) * (x - w.qx) + (y - w.qy) * (y - w.qy));
                    else dist = std::fabs(v);
                    float q = w.lpow / (a + dist);
                    float wt = static_cast<float>(std::pow(static_cast<double>(q), static_cast<double>(b)));
                    if (wt < 0.001f) {
                        mask[i] = 0;
                        continue;
                    }
                    float ax = sa[i].px + sa[i].dx * u + sa[i].ux * v, ay = sa[i].py + sa[i].dy * u + sa[i].uy * v;
                    if (ax < 0 || ax > 1 || ay < 0 || ay > 1) continue;
                    float bx = sb[i].px + sb[i].dx * u + sb[i].ux * v, by = sb[i].py + sb[i].dy * u + sb[i].uy * v;
                    if (bx < 0 || bx > 1 || by < 0 || by > 1) continue;
                    SAx = SAx + (ax - x) * wt, SAy = SAy + (ay - y) * wt;
                    SBx = SBx + (bx - x) * wt, SBy = SBy + (by - y) * wt;
                    S = S + wt;
                    mask[i] = 1;
                }
                float XAx = x + SAx / S, XAy = y + SAy / S, XBx = x + SBx / S, XBy = y + SBy / S;
                unsigned char* o = &out[(static_cast<size_t>(r) * W + c) * 4];
                for (int k = 0; k < 3; ++k) {
                    double ca = RefSample(A, XAx * static_cast<float>(A.width), XAy * static_cast<float>(A.height), k);
                    double cb = RefSample(B, XBx * static_cast<float>(B.width), XBy * static_cast<float>(B.height), k);
                    o[k] = static_cast<unsigned char>(static_cast<int>(ca + (cb - ca) * static_cast<double>(dissolve)));
                }
                o[3] = 255;
                x = x + 1.0f / static_cast<float>(W);
            }
            y = y + 1.0f / static_cast<float>(H);
        }
    }
    return out;
}

// ---- Scene helpers ------------------------------------------------------------------------

void Pattern(CPixelImage& im, int w, int h, int seed) {
    im.Allocate(w, h, 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            unsigned char* p = im.pixels + 4 * (y * w + x);
            p[0] = static_cast<unsigned char>((x * 7 + y * 3 + seed * 41) & 255);
            p[1] = static_cast<unsigned char>(((x / 5 + y / 4) % 2) * 200 + seed);
            p[2] = static_cast<unsigned char>((x * y + seed * 13) & 255);
            p[3] = 255;
        }
}

struct Scenario : MorphScene {
    Scenario(int wa, int ha, int wb, int hb, uint32_t W, uint32_t H) {
        Pattern(imageA, wa, ha, 1);
        Pattern(imageB, wb, hb, 2);
        settings.outputWidth = W;
        settings.outputHeight = H;
    }
    void AddPair(Point pa, Point qa, Point pb, Point qb) { MorphScene::AddPair(LineSegment(pa, qa), LineSegment(pb, qb)); }
};

std::vector<unsigned char> Render(Scenario& s, uint32_t threads) {
    CImageMorpher engine;
    engine.SetThreadCount(threads);
    EXPECT_EQ(engine.StartMorph(s.settings), 0);
    engine.WaitUntilIdle();
    return std::vector<unsigned char>(s.output.pixels, s.output.pixels + s.output.ByteCount());
}

// ---- Band split ---------------------------------------------------------------------------

TEST(RowBands, TenRowsOverFourWorkersGiveTheRemainderToTheLast) {
    auto bands = SplitRows(10, 4);
    ASSERT_EQ(bands.size(), 4u);
    int expected[4][2] = {{0, 2}, {2, 4}, {4, 6}, {6, 10}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(bands[i].firstRow, expected[i][0]);
        EXPECT_EQ(bands[i].endRow, expected[i][1]);
    }
}

TEST(RowBands, OneWorkerTakesAllRowsAndMoreWorkersThanRowsLeaveOnlyTheLastBusy) {
    auto one = SplitRows(7, 1);
    EXPECT_EQ(one[0].firstRow, 0);
    EXPECT_EQ(one[0].endRow, 7);
    auto many = SplitRows(3, 5);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(many[i].firstRow, many[i].endRow);
    EXPECT_EQ(many[4].firstRow, 0);
    EXPECT_EQ(many[4].endRow, 3);
}

// ---- Rendering ----------------------------------------------------------------------------

TEST_F(ImageMorpherTest, FramesMatchAnIndependentRenderingForOneAndFourThreads) {
    Scenario s(37, 29, 23, 41, 31, 19);
    s.AddPair(Point(0.2f, 0.3f), Point(0.7f, 0.35f), Point(0.25f, 0.2f), Point(0.6f, 0.5f));
    s.AddPair(Point(0.5f, 0.9f), Point(0.5f, 0.6f), Point(0.4f, 0.8f), Point(0.6f, 0.6f));
    s.AddPair(Point(0.1f, 0.1f), Point(0.1f, 0.1f), Point(0.8f, 0.2f), Point(0.9f, 0.1f));  // point vs segment
    for (float t : {0.0f, 0.35f, 1.0f}) {
        s.settings.warpFrac = t;
        s.settings.dissoveFrac = t;
        for (uint32_t threads : {1u, 4u}) {
            auto got = Render(s, threads);
            auto want = ReferenceFrame(s.imageA, s.imageB, s.segmentsA, s.segmentsB, t, t, 31, 19, threads);
            ASSERT_EQ(got.size(), want.size());
            EXPECT_TRUE(got == want) << "fraction " << t << ", " << threads << " threads";
        }
    }
    EXPECT_EQ(s.output.fileName, "undefined");
}

TEST_F(ImageMorpherTest, RandomScenesMatchTheIndependentRendering) {
    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> coord(-0.2f, 1.2f), frac(0.0f, 1.0f);
    for (int scene = 0; scene < 12; ++scene) {
        Scenario s(3 + scene * 5, 2 + scene * 3, 40 - scene, 7 + scene, 5 + scene * 3, 3 + scene * 2);
        for (int i = 0; i < scene % 5 + 1; ++i)
            s.AddPair(Point(coord(rng), coord(rng)), Point(coord(rng), coord(rng)), Point(coord(rng), coord(rng)),
                      Point(coord(rng), coord(rng)));
        s.settings.warpFrac = frac(rng);
        s.settings.dissoveFrac = frac(rng);
        uint32_t threads = 1 + scene % 4;
        auto got = Render(s, threads);
        auto want = ReferenceFrame(s.imageA, s.imageB, s.segmentsA, s.segmentsB, s.settings.warpFrac, s.settings.dissoveFrac,
                                   s.settings.outputWidth, s.settings.outputHeight, threads);
        EXPECT_TRUE(got == want) << "scene " << scene;
    }
}

TEST_F(ImageMorpherTest, PairOfTwoPointsEndsAndContributesNothing) {
    Scenario with(20, 20, 20, 20, 12, 9), without(20, 20, 20, 20, 12, 9);
    with.AddPair(Point(0.3f, 0.3f), Point(0.3f, 0.3f), Point(0.6f, 0.6f), Point(0.6f, 0.6f));
    EXPECT_TRUE(Render(with, 2) == Render(without, 2));
}

TEST_F(ImageMorpherTest, OnePixelWideAndHighImagesSampleLikeTheirDoubledCopies) {
    // A 1-pixel-wide image must sample as a 2-pixel-wide image with its column repeated
    // (only the vertical blend matters), and likewise for a 1-pixel-high one.
    Scenario thin(1, 9, 8, 1, 6, 5), doubled(2, 9, 8, 2, 6, 5);
    for (int r = 0; r < 9; ++r)
        for (int c = 0; c < 2; ++c) std::memcpy(doubled.imageA.pixels + 4 * (r * 2 + c), thin.imageA.pixels + 4 * r, 4);
    for (int r = 0; r < 2; ++r) std::memcpy(doubled.imageB.pixels + 4 * 8 * r, thin.imageB.pixels, 4 * 8);
    for (Scenario* s : {&thin, &doubled})
        s->AddPair(Point(0.2f, 0.3f), Point(0.7f, 0.6f), Point(0.3f, 0.3f), Point(0.5f, 0.9f));
    for (float dissolve : {0.0f, 0.6f, 1.0f}) {
        thin.settings.dissoveFrac = doubled.settings.dissoveFrac = dissolve;
        EXPECT_TRUE(Render(thin, 3) == Render(doubled, 3)) << "dissolve " << dissolve;
    }
}

TEST_F(ImageMorpherTest, OutputKeepsABufferOfTheRequestedSize) {
    Scenario s(10, 10, 10, 10, 8, 6);
    s.output.Allocate(8, 6, 4);
    unsigned char* before = s.output.pixels;
    Render(s, 2);
    EXPECT_EQ(s.output.pixels, before);
    s.settings.outputWidth = 9;
    Render(s, 2);
    EXPECT_EQ(s.output.width, 9);
    EXPECT_EQ(s.output.height, 6);
    EXPECT_EQ(s.output.bytesPerPixel, 4);
}

// Runs one morph of the scenario to its end on a fresh engine: how often it called back, and
// what it wrote to stderr.
int MorphCountingCallbacks(Scenario& s, std::string& err) {
    std::atomic<int> calls{0};
    CImageMorpher engine;
    engine.SetCompletionCallback([](void* d) { ++*static_cast<std::atomic<int>*>(d); }, &calls);
    CaptureStderr();
    EXPECT_EQ(engine.StartMorph(s.settings), 0);
    engine.WaitUntilIdle();
    err = GetCapturedStderr();
    return calls.load();
}

TEST_F(ImageMorpherTest, OutputThatCannotBeAllocatedIsReportedLeftEmptyAndStillCallsBack) {
    Scenario s(10, 10, 10, 10, 0x7FFFFFFFu, 0x7FFFFFFFu);
    std::string err;
    EXPECT_EQ(MorphCountingCallbacks(s, err), 1);  // a waiting window must unlock
    EXPECT_NE(err.find("ERROR: could not allocate the output image"), std::string::npos);
    EXPECT_TRUE(s.output.IsEmpty());
    EXPECT_EQ(s.output.width, 0);
}

TEST_F(ImageMorpherTest, EmptyOutputSizeRendersNothingAndCallsBack) {
    Scenario s(10, 10, 10, 10, 0, 7);
    std::string err;
    EXPECT_EQ(MorphCountingCallbacks(s, err), 1);
    EXPECT_EQ(err, "");
    EXPECT_TRUE(s.output.IsEmpty());
}

// ---- Validation, progress, callback -------------------------------------------------------

TEST_F(ImageMorpherTest, ConfigureReportsTheFirstFailingCheck) {
    Scenario s(10, 10, 10, 10, 4, 4);
    CImageMorpher engine;
    s.settings.warpFrac = 1.5f;
    s.settings.dissoveFrac = -1.0f;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(engine.Configure(s.settings), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "ERROR: warpFrac (1.5) must be in the range [0..1]\n");

    s.settings.warpFrac = 1.0f;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(engine.Configure(s.settings), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "ERROR: dissoveFrac (-1) must be in the range [0..1]\n");

    s.settings.dissoveFrac = 0.0f;
    s.imageB.Allocate(10, 10, 3);
    s.imageA.fileName = "a.png";
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(engine.Configure(s.settings), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "ERROR: a.png and undefined must be 32-bit images!\n");

    Pattern(s.imageB, 10, 10, 3);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(engine.Configure(s.settings), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(ImageMorpherTest, FailedMorphLeavesTheOutputAloneAndCallsNoCallback) {
    Scenario s(10, 10, 10, 10, 4, 4);
    s.settings.warpFrac = 2.0f;
    std::atomic<int> calls{0};
    CImageMorpher engine;
    engine.SetCompletionCallback([](void* d) { ++*static_cast<std::atomic<int>*>(d); }, &calls);
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(engine.StartMorph(s.settings), 0);
    engine.WaitUntilIdle();
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(calls.load(), 0);
    EXPECT_TRUE(s.output.IsEmpty());
    EXPECT_EQ(engine.imageA, nullptr);  // references cleared
}

TEST_F(ImageMorpherTest, ProgressFailsBeforeTheFirstMorphAndReadsOneAfterIt) {
    CImageMorpher engine;
    float v = -5.0f;
    EXPECT_EQ(engine.GetProgress(nullptr), -1);
    EXPECT_EQ(engine.GetProgress(&v), -1);
    EXPECT_EQ(v, -5.0f);
    Scenario s(10, 10, 10, 10, 6, 5);
    std::atomic<int> calls{0};
    engine.SetCompletionCallback([](void* d) { ++*static_cast<std::atomic<int>*>(d); }, &calls);
    ASSERT_EQ(engine.StartMorph(s.settings), 0);
    engine.WaitUntilIdle();
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(engine.GetProgress(&v), 0);
    EXPECT_EQ(v, 1.0f);
}

TEST_F(ImageMorpherTest, ProgressCountsRowsWhileTheMorphRuns) {
    // Enough work to be seen mid-way (the plain kernel, a few hundred milliseconds); the poll
    // must never block and must only rise.
    Scenario s(64, 64, 64, 64, 400, 300);
    for (int i = 0; i < 40; ++i)
        s.AddPair(Point(0.02f * i, 0.1f), Point(0.02f * i + 0.3f, 0.9f), Point(0.9f - 0.02f * i, 0.2f),
                  Point(0.5f, 0.8f - 0.01f * i));
    CImageMorpher engine;
    engine.SetThreadCount(4);
    engine.SetKernel(MorphKernel::Plain);
    ASSERT_EQ(engine.StartMorph(s.settings), 0);
    float last = 0.0f;
    int polls = 0;
    bool sawPartial = false;
    for (;;) {
        float v = 0.0f;
        int status = engine.GetProgress(&v);
        ++polls;
        if (status == 0) {
            EXPECT_GE(v, 0.0f);
            EXPECT_LE(v, 1.0f);
            if (v < 1.0f) {
                EXPECT_GE(v, last);
                last = v;
                if (v > 0.0f) sawPartial = true;
                // Row granularity: a multiple of 1 / 300.
                EXPECT_NEAR(v * 300.0f, std::round(v * 300.0f), 1e-3);
            } else if (polls > 1 && last > 0.0f) {
                break;
            }
        }
        if (polls > 2000000) break;
        std::this_thread::sleep_for(std::chrono::microseconds(50));
        if (status == 0 && v == 1.0f && last == 0.0f && polls > 100) break;  // finished before a poll saw it
    }
    engine.WaitUntilIdle();
    float v = 0.0f;
    EXPECT_EQ(engine.GetProgress(&v), 0);
    EXPECT_EQ(v, 1.0f);
    EXPECT_TRUE(sawPartial) << "no poll saw the morph part-way in " << polls << " polls";
}

struct Order {
    std::atomic<int> finished{0};
    std::atomic<int> startedSecondBeforeFirstFinished{0};
};

TEST_F(ImageMorpherTest, SecondRequestRunsAfterTheFirstHasCalledBack) {
    Scenario s1(40, 40, 40, 40, 120, 90), s2(40, 40, 40, 40, 50, 30);
    for (int i = 0; i < 20; ++i)
        s1.AddPair(Point(0.05f * i, 0.2f), Point(0.05f * i, 0.8f), Point(0.05f * i, 0.3f), Point(0.1f, 0.7f));
    std::atomic<int> calls{0};
    CImageMorpher engine;
    engine.SetThreadCount(2);
    engine.SetCompletionCallback([](void* d) { ++*static_cast<std::atomic<int>*>(d); }, &calls);
    ASSERT_EQ(engine.StartMorph(s1.settings), 0);
    ASSERT_EQ(engine.StartMorph(s2.settings), 0);
    engine.WaitUntilIdle();
    EXPECT_EQ(calls.load(), 2);
    EXPECT_EQ(s1.output.width, 120);
    EXPECT_EQ(s2.output.width, 50);
    auto want1 = ReferenceFrame(s1.imageA, s1.imageB, s1.segmentsA, s1.segmentsB, 0.5f, 0.5f, 120, 90, 2);
    EXPECT_TRUE(std::vector<unsigned char>(s1.output.pixels, s1.output.pixels + s1.output.ByteCount()) == want1);
}

// The completion callback holds the controller until the test lets it go, so the timed wait
// must run out while it is held, and the whole of both morphs must have ended once it returns true.
TEST_F(ImageMorpherTest, TimedWaitRunsOutWhileAMorphIsHeldAndReturnsOnceAllHaveEnded) {
    Scenario s1(20, 20, 20, 20, 12, 9), s2(20, 20, 20, 20, 7, 5);
    CImageMorpher engine;
    EXPECT_TRUE(engine.WaitUntilIdleFor(std::chrono::milliseconds(0)));
    struct Gate {
        std::atomic<bool> open{false};
        std::atomic<int> calls{0};
    } gate;
    engine.SetCompletionCallback(
        [](void* d) {
            auto* g = static_cast<Gate*>(d);
            while (!g->open.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ++g->calls;
        },
        &gate);
    ASSERT_EQ(engine.StartMorph(s1.settings), 0);
    ASSERT_EQ(engine.StartMorph(s2.settings), 0);
    EXPECT_FALSE(engine.WaitUntilIdleFor(std::chrono::milliseconds(30)));
    EXPECT_EQ(gate.calls.load(), 0);
    gate.open.store(true);
    ASSERT_TRUE(engine.WaitUntilIdleFor(std::chrono::seconds(60)));
    EXPECT_EQ(gate.calls.load(), 2);
    EXPECT_EQ(s2.output.width, 7);
    EXPECT_TRUE(engine.WaitUntilIdleFor(std::chrono::milliseconds(0)));
}

TEST_F(ImageMorpherTest, DestructionDuringAMorphStopsAndJoinsEverything) {
    Scenario s(64, 64, 64, 64, 800, 600);
    for (int i = 0; i < 60; ++i)
        s.AddPair(Point(0.01f * i, 0.1f), Point(0.5f, 0.9f), Point(0.9f, 0.01f * i), Point(0.3f, 0.6f));
    std::atomic<int> calls{0};
    {
        CImageMorpher engine;
        // The plain path keeps this morph running for seconds: the vector kernel could end it
        // within the 20 ms below, and the engine must be destroyed while it still runs.
        engine.SetKernel(MorphKernel::Plain);
        engine.SetThreadCount(4);
        engine.SetCompletionCallback([](void* d) { ++*static_cast<std::atomic<int>*>(d); }, &calls);
        ASSERT_EQ(engine.StartMorph(s.settings), 0);
        ASSERT_EQ(engine.StartMorph(s.settings), 0);  // a second one waiting on the first
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // Both controllers have ended; the images and lists may now go away safely.
    EXPECT_EQ(calls.load(), 0);
}

TEST_F(ImageMorpherTest, DestroyingAnIdleEngineIsQuiet) {
    ::testing::internal::CaptureStderr();
    { CImageMorpher engine; }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

}  // namespace

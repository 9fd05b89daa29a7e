// The vector kernel against the plain per-pixel path: random scenes rendered both ways must
// give the same bytes (and, row by row, the same activeMask), on every instruction set the
// kernel was built for and with 1, 3 and 4 workers.
#include "morph/fast_kernel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "hwy/highway.h"
#include "hwy/targets.h"
#include "morph/fast_sqrt.h"
#include "morph/image_morpher.h"
#include "morph/morph_scene.h"

namespace {

struct Scene : MorphScene {
    Scene() { settings.outputWidth = settings.outputHeight = 1; }
    std::string Describe() const {
        const MorphSettings& m = settings;
        return std::to_string(imageA.width) + "x" + std::to_string(imageA.height) + " / " +
               std::to_string(imageB.width) + "x" + std::to_string(imageB.height) + " -> " +
               std::to_string(m.outputWidth) + "x" + std::to_string(m.outputHeight) + ", " +
               std::to_string(segmentsA.size()) + " pairs, warp " + std::to_string(m.warpFrac) + ", dissolve " +
               std::to_string(m.dissoveFrac) + ", a " + std::to_string(m.a) + ", b " + std::to_string(m.b) + ", p " +
               std::to_string(m.p);
    }
};

void FillImage(CPixelImage& image, int w, int h, std::mt19937& rng) {
    image.Allocate(w, h, 4);
    std::uniform_int_distribution<int> byte(0, 255);
    const int style = static_cast<int>(rng() % 3);
    for (int r = 0; r < h; ++r) {
        for (int c = 0; c < w; ++c) {
            unsigned char* px = image.pixels + (static_cast<size_t>(r) * w + c) * 4;
            for (int k = 0; k < 4; ++k) {
                if (style == 0) {
                    px[k] = static_cast<unsigned char>(byte(rng));
                } else if (style == 1) {  // smooth ramps: many exact halves in the sampler
                    px[k] = static_cast<unsigned char>((c * (37 + 11 * k) + r * 53) & 255);
                } else {  // flat with a few jumps
                    px[k] = static_cast<unsigned char>(((c / 3 + r / 2) % 2) * 200 + k * 10);
                }
            }
        }
    }
}

// Image size: mostly odd and small, sometimes one pixel wide or high.
int PickSize(std::mt19937& rng) {
    const int kind = static_cast<int>(rng() % 8);
    if (kind == 0) return 1;
    if (kind == 1) return 2;
    return 3 + static_cast<int>(rng() % 37);
}

float Uniform(std::mt19937& rng, float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); }

Point RandomPoint(std::mt19937& rng) { return Point(Uniform(rng, -0.2f, 1.2f), Uniform(rng, -0.2f, 1.2f)); }

// One pair of a kind that the warp treats specially, or an ordinary one.
void AddPair(Scene& s, std::mt19937& rng) {
    Point pa = RandomPoint(rng), qa = RandomPoint(rng), pb = RandomPoint(rng), qb = RandomPoint(rng);
    switch (rng() % 12) {
        case 0:  // zero length on image A
            qa = pa;
            break;
        case 1:  // zero length on both images (left out by the preparation)
            qa = pa;
            qb = pb;
            break;
        case 2:  // nearly zero length
            qa = Point(pa.x + 1e-6f, pa.y);
            qb = Point(pb.x, std::nextafter(pb.y, 2.0f));
            break;
        case 3:  // far outside the image
            pa = Point(pa.x + 7.0f, pa.y - 40.0f);
            qa = Point(qa.x + 9.0f, qa.y - 35.0f);
            pb = Point(-pb.x * 30.0f, pb.y);
            break;
        case 4:  // crossing: the in-between ends meet and are nudged apart
            pb = qa;
            qb = pa;
            break;
        case 5:  // rotating by a large angle: the in-between segment is rescaled
            pb = Point(pa.x, qa.y);
            qb = Point(qa.x, pa.y);
            break;
        case 6:  // the same segment on both images
            pb = pa;
            qb = qa;
            break;
        case 7:  // very far: squared distances beyond the float range
            pa = Point(3.0e19f, -2.0e19f);
            break;
        case 8:  // a short pair, weak away from it
            qa = Point(pa.x + 0.01f, pa.y + 0.005f);
            qb = Point(pb.x - 0.004f, pb.y + 0.01f);
            break;
        default:
            break;
    }
    s.segmentsA.push_back(LineSegment(pa, qa));
    s.segmentsB.push_back(LineSegment(pb, qb));
}

Scene MakeScene(uint32_t seed) {
    std::mt19937 rng(seed * 7919u + 17u);
    Scene s;
    FillImage(s.imageA, PickSize(rng), PickSize(rng), rng);
    if (rng() % 4 == 0) {
        FillImage(s.imageB, s.imageA.width, s.imageA.height, rng);
    } else {
        FillImage(s.imageB, PickSize(rng), PickSize(rng), rng);
    }
    const float fractions[] = {0.0f, 1.0f, 0.5f, Uniform(rng, 0.0f, 1.0f), 0.25f};
    s.settings.warpFrac = fractions[rng() % 5];
    s.settings.dissoveFrac = rng() % 3 == 0 ? s.settings.warpFrac : fractions[rng() % 5];
    const float as[] = {0.01f, 0.01f, 0.2f, 0.0f, 1e-4f, -0.05f};
    const float bs[] = {2.0f, 2.0f, 2.0f, 6.0f, 1.0f, 0.5f, 3.0f, 0.0f, -1.0f, 12.0f};
    const float ps[] = {0.2f, 0.2f, 0.0f, 1.0f, 0.5f, 2.0f};
    s.settings.a = as[rng() % 6];
    s.settings.b = bs[rng() % 10];
    s.settings.p = ps[rng() % 6];
    const uint32_t widths[] = {1, 2, 3, 4, 5, 7, 8, 15, 16, 17, 31, 33, 47, 64, 65};
    s.settings.outputWidth = rng() % 3 == 0 ? widths[rng() % 15] : 1 + rng() % 70;
    s.settings.outputHeight = 1 + rng() % 19;
    if (seed % 50 == 0) s.settings.outputWidth = s.settings.outputHeight = 1;
    const int pairs = static_cast<int>(rng() % 9);
    for (int i = 0; i < pairs; ++i) AddPair(s, rng);
    return s;
}

std::vector<unsigned char> Render(Scene& s, MorphKernel kernel, uint32_t threads) {
    CImageMorpher engine;
    engine.SetKernel(kernel);
    engine.SetThreadCount(threads);
    s.output.Clear();  // a frame of an earlier render must not stand in for this one
    if (engine.RunMorph(s.settings) != 0 || s.output.pixels == nullptr) return {};
    return std::vector<unsigned char>(s.output.pixels, s.output.pixels + s.output.ByteCount());
}

// Index of the first differing byte, or -1.
long FirstDifference(const std::vector<unsigned char>& x, const std::vector<unsigned char>& y) {
    if (x.size() != y.size()) return 0;
    for (size_t i = 0; i < x.size(); ++i) {
        if (x[i] != y[i]) return static_cast<long>(i);
    }
    return -1;
}

class FastKernelTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitFastSqrt(); }
    void TearDown() override { hwy::SetSupportedTargetsForTest(0); }
};

TEST_F(FastKernelTest, EngineFramesMatchThePlainPathOnRandomScenes) {
    const uint32_t threadCounts[] = {1, 3, 4};
    for (uint32_t seed = 0; seed < 240; ++seed) {
        Scene s = MakeScene(seed);
        const uint32_t threads = threadCounts[seed % 3];
        const std::vector<unsigned char> plain = Render(s, MorphKernel::Plain, threads);
        const std::vector<unsigned char> fast = Render(s, MorphKernel::Fast, threads);
        ASSERT_EQ(plain.size(), static_cast<size_t>(s.settings.outputWidth) * s.settings.outputHeight * 4) << s.Describe();
        const long at = FirstDifference(plain, fast);
        ASSERT_EQ(at, -1) << "scene " << seed << " (" << s.Describe() << "), " << threads << " workers, pixel "
                          << (at / 4) % s.settings.outputWidth << "," << (at / 4) / s.settings.outputWidth;
    }
}

// Renders every row of the scene through MorphRowPlain and MorphRowFast, one worker's mask
// each, both starting from startActive(i) for pair i. Returns the first row after which the
// masks differ, -1 when they never do, -2 when the kernel cannot take the job. The kernel's
// counters of how it treated the pairs are added to `stats`.
long RenderRowsBothWays(Scene& s, std::vector<unsigned char>& outPlain, std::vector<unsigned char>& outFast,
                        FastRowScratch* stats = nullptr,
                        const std::function<bool(size_t)>& startActive = [](size_t) { return true; }) {
    SegmentList workA, workB, warped;
    PrepareSegments(s.segmentsA, s.segmentsB, s.settings.warpFrac, s.settings.p, workA, workB, warped);
    outPlain.assign(static_cast<size_t>(s.settings.outputWidth) * s.settings.outputHeight * 4, 1);
    outFast.assign(outPlain.size(), 2);
    MorphJob job;
    job.imageA = &s.imageA;
    job.imageB = &s.imageB;
    job.workSegmentsA = &workA;
    job.workSegmentsB = &workB;
    job.warpedSegments = &warped;
    job.dissoveFrac = s.settings.dissoveFrac;
    job.a = s.settings.a;
    job.b = s.settings.b;
    job.outputWidth = s.settings.outputWidth;
    job.outputHeight = s.settings.outputHeight;
    MorphJob fastJob = job;
    job.outputPixels = outPlain.data();
    fastJob.outputPixels = outFast.data();
    CFastMorphPlan plan;
    FastRowScratch scratch;
    if (!plan.Prepare(fastJob) || !scratch.Allocate(plan)) return -2;
    std::vector<unsigned char> maskPlain(warped.size() + 1), maskFast(warped.size() + 1);
    for (size_t i = 0; i < maskPlain.size(); ++i) maskPlain[i] = maskFast[i] = startActive(i) ? 1 : 0;
    const float H = static_cast<float>(s.settings.outputHeight);
    float y = 0.5f / H;
    long firstDifferentRow = -1;
    for (uint32_t row = 0; row < s.settings.outputHeight; ++row) {
        MorphRowPlain(job, row, y, maskPlain.data());
        MorphRowFast(plan, row, y, maskFast.data(), scratch);
        if (maskPlain != maskFast && firstDifferentRow < 0) firstDifferentRow = row;
        y = y + 1.0f / H;
    }
    if (stats != nullptr) {
        stats->neverPairs += scratch.neverPairs;
        stats->directPairs += scratch.directPairs;
        stats->outsidePairs += scratch.outsidePairs;
        stats->replayedPairs += scratch.replayedPairs;
        stats->insideColumns += scratch.insideColumns;
        stats->testedColumns += scratch.testedColumns;
        stats->frameClassified += scratch.frameClassified;
    }
    return firstDifferentRow;
}

// Row by row through the kernel itself, on every instruction set it was built for: the same
// bytes and the same mask after every row, and every treatment of a pair exercised.
TEST_F(FastKernelTest, RowsAndMasksMatchOnEveryInstructionSet) {
    const std::vector<int64_t> targets = hwy::SupportedAndGeneratedTargets();
    ASSERT_FALSE(targets.empty());
    for (int64_t target : targets) {
        hwy::SetSupportedTargetsForTest(target);
        ASSERT_STREQ(FastKernelTarget(), hwy::TargetName(target));
        FastRowScratch stats;
        for (uint32_t seed = 1000; seed < 1120; ++seed) {
            Scene s = MakeScene(seed);
            if (!(s.settings.warpFrac >= 0.0f && s.settings.warpFrac <= 1.0f)) continue;
            std::vector<unsigned char> outPlain, outFast;
            // Start from a mixed mask, as a worker has it after earlier rows.
            const long row = RenderRowsBothWays(s, outPlain, outFast, &stats,
                                                [seed](size_t i) { return (seed + i) % 3 != 0; });
            ASSERT_NE(row, -2) << hwy::TargetName(target) << ", scene " << seed;
            ASSERT_EQ(row, -1) << hwy::TargetName(target) << ", scene " << seed << ": masks differ after this row";
            const long at = FirstDifference(outPlain, outFast);
            ASSERT_EQ(at, -1) << hwy::TargetName(target) << ", scene " << seed << " (" << s.Describe() << ")";
        }
        EXPECT_GT(stats.neverPairs, 50u) << hwy::TargetName(target);
        EXPECT_GT(stats.directPairs, 50u) << hwy::TargetName(target);
        EXPECT_GT(stats.insideColumns, 50u) << hwy::TargetName(target);
        EXPECT_GT(stats.testedColumns, 50u) << hwy::TargetName(target);
        EXPECT_GT(stats.outsidePairs, 50u) << hwy::TargetName(target);
        EXPECT_GT(stats.replayedPairs, 50u) << hwy::TargetName(target);
        EXPECT_GT(stats.frameClassified, 50u) << hwy::TargetName(target);
    }
}

// A scene built so that one pair is weak on the left of the image and strong on the right:
// its mask byte clears and sets again along the rows, which only the exact replay follows.
TEST_F(FastKernelTest, PairThatSwitchesOnAndOffAlongARowMatches) {
    Scene s;
    std::mt19937 rng(5);
    FillImage(s.imageA, 37, 23, rng);
    FillImage(s.imageB, 29, 31, rng);
    s.segmentsA.push_back(LineSegment(Point(0.9f, 0.5f), Point(0.95f, 0.55f)));
    s.segmentsB.push_back(LineSegment(Point(0.85f, 0.45f), Point(0.9f, 0.6f)));
    s.segmentsA.push_back(LineSegment(Point(0.1f, 0.1f), Point(0.3f, 0.8f)));
    s.segmentsB.push_back(LineSegment(Point(0.2f, 0.1f), Point(0.25f, 0.9f)));
    s.settings.a = 0.01f;
    s.settings.b = 4.0f;
    s.settings.p = 1.0f;
    s.settings.outputWidth = 203;
    s.settings.outputHeight = 41;
    for (uint32_t threads : {1u, 3u, 4u}) {
        const std::vector<unsigned char> plain = Render(s, MorphKernel::Plain, threads);
        const std::vector<unsigned char> fast = Render(s, MorphKernel::Fast, threads);
        ASSERT_FALSE(plain.empty());
        EXPECT_EQ(FirstDifference(plain, fast), -1) << threads << " workers";
    }
}

// The engine takes dissolve fractions in [0, 1] only, but the kernel gives the plain bytes for
// any: in double lanes up to 2^20, from a table beyond (the bytes wrap as the plain cast makes
// them), on every instruction set.
TEST_F(FastKernelTest, DissolveFractionsOutsideTheUnitRangeMatch) {
    for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
        hwy::SetSupportedTargetsForTest(target);
        for (float dissolve : {-0.5f, 1.5f, 1000.0f, 1048576.0f, 1048577.0f, 4.0e6f}) {
            for (uint32_t seed = 0; seed < 6; ++seed) {
                Scene s = MakeScene(3000 + seed);
                s.settings.warpFrac = 0.5f;
                s.settings.dissoveFrac = dissolve;
                std::vector<unsigned char> plain, fast;
                ASSERT_EQ(RenderRowsBothWays(s, plain, fast), -1) << hwy::TargetName(target) << ", " << s.Describe();
                ASSERT_EQ(FirstDifference(plain, fast), -1)
                    << hwy::TargetName(target) << ", dissolve " << dissolve << ", " << s.Describe();
            }
        }
    }
}

// Short pairs whose weight falls below 0.001 somewhere in the frame, or nearly so: a pair taken
// as always or never weak for the whole frame must be so on every row, which the masks show.
TEST_F(FastKernelTest, PairsClassifiedForTheWholeFrameHoldOnEveryRow) {
    std::mt19937 rng(123);
    FastRowScratch stats;
    for (int scene = 0; scene < 300; ++scene) {
        Scene s;
        FillImage(s.imageA, 23, 19, rng);
        FillImage(s.imageB, 23, 19, rng);
        s.settings.a = 0.01f;
        s.settings.b = 2.0f;
        s.settings.p = 1.0f;
        s.settings.outputWidth = 41 + static_cast<uint32_t>(rng() % 20);
        s.settings.outputHeight = 31 + static_cast<uint32_t>(rng() % 20);
        for (int i = 0; i < 3; ++i) {
            const Point pa(Uniform(rng, 0.0f, 1.0f), Uniform(rng, 0.0f, 1.0f));
            const float length = Uniform(rng, 0.01f, 0.06f), angle = Uniform(rng, 0.0f, 6.2831853f);
            const Point qa(pa.x + length * std::cos(angle), pa.y + length * std::sin(angle));
            const Point shift(Uniform(rng, -0.01f, 0.01f), Uniform(rng, -0.01f, 0.01f));
            s.segmentsA.push_back(LineSegment(pa, qa));
            s.segmentsB.push_back(LineSegment(pa + shift, qa + shift));
        }
        std::vector<unsigned char> plain, fast;
        ASSERT_EQ(RenderRowsBothWays(s, plain, fast, &stats), -1) << "scene " << scene << ": masks differ";
        ASSERT_EQ(FirstDifference(plain, fast), -1) << "scene " << scene;
    }
    EXPECT_GT(stats.frameClassified, 1000u);
}

// The column search that places a pair's inside and reach bounds starts from an estimate and
// walks; on wide rows the accumulated x drift far from the estimate and it has to bisect.
TEST_F(FastKernelTest, ColumnSearchAgreesWithBinarySearch) {
    CPixelImage image;
    image.Allocate(3, 3, 4);
    SegmentList none;
    std::mt19937 rng(17);
    for (uint32_t width : {1u, 2u, 3u, 17u, 1921u, 3841u, 70001u, 300007u}) {
        std::vector<unsigned char> out(static_cast<size_t>(width) * 4);
        MorphJob job;
        job.imageA = &image;
        job.imageB = &image;
        job.workSegmentsA = &none;
        job.workSegmentsB = &none;
        job.warpedSegments = &none;
        job.outputPixels = out.data();
        job.outputWidth = width;
        job.outputHeight = 1;
        CFastMorphPlan plan;
        ASSERT_TRUE(plan.Prepare(job));
        const float* xs = plan.xs.data();
        std::vector<double> probes = {-1.0, 0.0, 1.0, 2.0, std::numeric_limits<double>::infinity(),
                                      -std::numeric_limits<double>::infinity(),
                                      std::numeric_limits<double>::quiet_NaN()};
        for (int i = 0; i < 3000; ++i) {
            const uint32_t c = static_cast<uint32_t>(rng() % width);
            const double x = xs[c];
            probes.insert(probes.end(), {x, std::nextafter(x, 0.0), std::nextafter(x, 2.0), Uniform(rng, -0.1f, 1.1f)});
        }
        for (double x : probes) {
            const auto lower = std::lower_bound(xs, xs + width, x, [](float c, double v) { return c < v; }) - xs;
            const auto upper = std::upper_bound(xs, xs + width, x, [](double v, float c) { return v < c; }) - xs;
            ASSERT_EQ(FirstColumnAtOrAbove(xs, width, x), static_cast<uint32_t>(lower)) << width << " " << x;
            ASSERT_EQ(FirstColumnAbove(xs, width, x), static_cast<uint32_t>(upper)) << width << " " << x;
        }
    }
}

TEST_F(FastKernelTest, DefaultsToTheFastKernelAndCanBeSwitched) {
    CImageMorpher engine;
    EXPECT_EQ(engine.GetKernel(), MorphKernel::Fast);
    engine.SetKernel(MorphKernel::Plain);
    EXPECT_EQ(engine.GetKernel(), MorphKernel::Plain);
}

// The two identities the kernel is built on, checked here on this machine's math library.
TEST_F(FastKernelTest, SquareWeightAndClearedBitsRootMatchTheDefinitions) {
    std::mt19937 rng(99);
    std::vector<float> values = {0.0f, -0.0f, 1.0f, 0.5f, 3.0f, 1e-20f, 1e20f, 1e-40f, 3e38f,
                                 std::numeric_limits<float>::infinity(), std::numeric_limits<float>::min(),
                                 std::numeric_limits<float>::denorm_min(), -2.5f};
    for (int i = 0; i < 200000; ++i) {
        uint32_t bits = static_cast<uint32_t>(rng());
        float v;
        std::memcpy(&v, &bits, sizeof v);
        values.push_back(v);
    }
    for (float q : values) {
        const float viaPow = static_cast<float>(std::pow(static_cast<double>(q), 2.0));
        const float square = q * q;
        if (std::isnan(viaPow)) {
            EXPECT_TRUE(std::isnan(square));
        } else {
            EXPECT_EQ(std::memcmp(&viaPow, &square, sizeof square), 0) << q;
        }
        EXPECT_TRUE(static_cast<float>(std::pow(static_cast<double>(q), 1.0)) == q || std::isnan(q)) << q;
        uint32_t bits;
        std::memcpy(&bits, &q, sizeof bits);
        if (bits == 0 || (bits >= 0x00800000u && bits < 0x7F800000u)) {
            uint32_t cleared = bits & ~0xFFu;
            float truncated;
            std::memcpy(&truncated, &cleared, sizeof truncated);
            EXPECT_EQ(FastSqrt(q), std::sqrt(truncated)) << q;
        }
    }
}

}  // namespace

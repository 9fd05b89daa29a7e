#include "morph/field_warp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "morph/fast_sqrt.h"

namespace {

class FieldWarpTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitFastSqrt(); }
};

LineSegment Working(Point p, Point q, float pexp = 0.2f) {
    LineSegment s(p, q);
    s.Precompute(pexp);
    return s;
}

TEST_F(FieldWarpTest, InterpolationAlwaysStepsTheFractionOnce) {
    LineSegment a = Working(Point(0, 0), Point(1, 0));
    LineSegment b = Working(Point(0, 0.5f), Point(1, 0.5f));
    Point P, Q;
    ASSERT_TRUE(InterpolateSegment(a, b, 0.0f, P, Q));
    EXPECT_EQ(P.y, 0.5f * 0.000001f);
    EXPECT_EQ(Q.y, 0.5f * 0.000001f);
    ASSERT_TRUE(InterpolateSegment(a, b, 1.0f, P, Q));
    float t = 1.0f + 0.000001f;
    EXPECT_EQ(t, 1.00000095f);
    EXPECT_EQ(P.y, 0.5f * t);
    ASSERT_TRUE(InterpolateSegment(a, b, 0.5f, P, Q));
    EXPECT_NEAR(P.y, 0.25f, 1e-6);
    EXPECT_EQ(Q.x, 1.0f);
}

TEST_F(FieldWarpTest, CrossingSegmentsAreNudgedApartAndRescaled) {
    // A runs left to right, B right to left: at t = 0.5 both ends meet at (0.5, 0).
    LineSegment a = Working(Point(0, 0), Point(1, 0));
    LineSegment b = Working(Point(1, 0), Point(0, 0));
    float frac = 0.5f - 0.000001f;
    ASSERT_EQ(frac + 0.000001f, 0.5f) << "test set-up: the first step must land on the meeting point";
    Point P, Q;
    ASSERT_TRUE(InterpolateSegment(a, b, frac, P, Q));
    EXPECT_NE(P, Q);
    // Both working segments have length 1, so the nearly-point segment is rescaled to 1
    // about its midpoint, keeping its (reversed) direction.
    EXPECT_NEAR(std::hypot(Q.x - P.x, Q.y - P.y), 1.0, 1e-3);
    EXPECT_NEAR((P.x + Q.x) / 2, 0.5, 1e-6);
    EXPECT_GT(P.x, Q.x);
}

TEST_F(FieldWarpTest, RotatingPairIsRescaledOnlyBeyondATenth) {
    // A quarter turn about P: halfway the chord is 0.283 long instead of 0.4.
    LineSegment a = Working(Point(0.5f, 0.5f), Point(0.9f, 0.5f));
    LineSegment b = Working(Point(0.5f, 0.5f), Point(0.5f, 0.9f));
    Point P, Q;
    ASSERT_TRUE(InterpolateSegment(a, b, 0.5f, P, Q));
    EXPECT_NEAR(std::hypot(Q.x - P.x, Q.y - P.y), 0.4, 1e-4);
    EXPECT_NEAR((P.x + Q.x) / 2, 0.6, 1e-5);
    EXPECT_NEAR((P.y + Q.y) / 2, 0.6, 1e-5);

    // A sixth of a turn: the chord falls short by 0.054 only, so the ends stay linear.
    float c = 0.5f + 0.4f * 0.5f, s = 0.5f + 0.4f * 0.8660254f;
    LineSegment b60 = Working(Point(0.5f, 0.5f), Point(c, s));
    ASSERT_TRUE(InterpolateSegment(a, b60, 0.5f, P, Q));
    float t = 0.5f + 0.000001f;
    EXPECT_EQ(Q.x, (c - 0.9f) * t + 0.9f);
    EXPECT_EQ(Q.y, (s - 0.5f) * t + 0.5f);
}

TEST_F(FieldWarpTest, PairOfTwoPointsCannotBeInterpolatedAndDoesNotHang) {
    LineSegment a = Working(Point(0.2f, 0.2f), Point(0.2f, 0.2f));
    LineSegment b = Working(Point(0.7f, 0.4f), Point(0.7f, 0.4f));
    Point P, Q;
    EXPECT_FALSE(InterpolateSegment(a, b, 0.5f, P, Q));
    // A fraction so large that the step no longer moves it, where both ends round together.
    LineSegment c = Working(Point(0, 0), Point(0.001f, 0));
    LineSegment d = Working(Point(1, 0), Point(1.001f, 0));
    EXPECT_FALSE(InterpolateSegment(c, d, 1e30f, P, Q));
    EXPECT_TRUE(InterpolateSegment(c, d, 0.5f, P, Q));
}

TEST_F(FieldWarpTest, PrepareTurnsYDownwardAndDropsPairsOfTwoPoints) {
    SegmentList A{LineSegment(Point(0.1f, 0.2f), Point(0.3f, 0.4f)),
                  LineSegment(Point(0.5f, 0.5f), Point(0.5f, 0.5f)),
                  LineSegment(Point(0.6f, 0.9f), Point(0.8f, 0.7f))};
    SegmentList B{LineSegment(Point(0.1f, 0.2f), Point(0.3f, 0.4f)),
                  LineSegment(Point(0.2f, 0.2f), Point(0.2f, 0.2f)),
                  LineSegment(Point(0.6f, 0.9f), Point(0.8f, 0.6f))};
    SegmentList wa, wb, warped;
    PrepareSegments(A, B, 0.5f, 0.2f, wa, wb, warped);
    ASSERT_EQ(wa.size(), 2u);
    ASSERT_EQ(wb.size(), 2u);
    ASSERT_EQ(warped.size(), 2u);
    EXPECT_EQ(wa[0].P, Point(0.1f, 1.0f - 0.2f));
    EXPECT_EQ(wa[0].Q, Point(0.3f, 1.0f - 0.4f));
    EXPECT_EQ(wb[1].Q, Point(0.8f, 1.0f - 0.6f));
    EXPECT_GT(warped[1].length, 0.0f);  // derived fields are computed
    EXPECT_EQ(wa[1].lengthPow, static_cast<float>(std::pow(static_cast<double>(wa[1].length), 0.2)));
    // Rebuilding replaces, never appends.
    PrepareSegments(SegmentList{}, SegmentList{}, 0.5f, 0.2f, wa, wb, warped);
    EXPECT_TRUE(wa.empty() && wb.empty() && warped.empty());
}

struct Scene {
    SegmentList wa, wb, warped;
    CPixelImage A, B;
    MorphJob job;
    Scene(const SegmentList& la, const SegmentList& lb, float warp, float dissolve) {
        PrepareSegments(la, lb, warp, 0.2f, wa, wb, warped);
        job.workSegmentsA = &wa;
        job.workSegmentsB = &wb;
        job.warpedSegments = &warped;
        job.imageA = &A;
        job.imageB = &B;
        job.dissoveFrac = dissolve;
        job.a = 0.01f;
        job.b = 2.0f;
    }
};

void Fill(CPixelImage& image, int w, int h, unsigned char r, unsigned char g, unsigned char b) {
    image.Allocate(w, h, 4);
    for (int i = 0; i < w * h; ++i) {
        image.pixels[4 * i] = r;
        image.pixels[4 * i + 1] = g;
        image.pixels[4 * i + 2] = b;
        image.pixels[4 * i + 3] = 9;
    }
}

TEST_F(FieldWarpTest, WithoutPairsEveryPointMapsToItself) {
    Scene s({}, {}, 0.5f, 0.5f);
    unsigned char mask[1] = {1};
    for (Point X : {Point(0.0f, 0.0f), Point(0.37f, 0.81f), Point(1.0f, 0.5f)}) {
        Point XA, XB;
        WarpPoint(s.job, X, true, mask, XA, XB);
        EXPECT_EQ(XA, X);
        EXPECT_EQ(XB, X);
    }
}

TEST_F(FieldWarpTest, IdenticalPairOfPowerOfTwoLengthLeavesPointsInPlace) {
    SegmentList l{LineSegment(Point(0.25f, 0.5f), Point(0.75f, 0.5f))};
    Scene s(l, l, 0.5f, 0.5f);
    unsigned char mask[1] = {1};
    Point X(0.4f, 0.3f), XA, XB;
    WarpPoint(s.job, X, true, mask, XA, XB);
    // The in-between segment is stepped by 1e-6 but both ends stay the same.
    EXPECT_NEAR(XA.x, X.x, 1e-6);
    EXPECT_NEAR(XA.y, X.y, 1e-6);
    EXPECT_EQ(XA, XB);
    EXPECT_EQ(mask[0], 1);
}

TEST_F(FieldWarpTest, IdenticalPairOfOtherLengthPullsPointsTowardsItsStart) {
    SegmentList l{LineSegment(Point(0.2f, 0.5f), Point(0.8f, 0.5f))};  // length 0.6
    Scene s(l, l, 0.5f, 0.5f);
    unsigned char mask[1] = {1};
    Point X(0.5f, 0.4f), XA, XB;
    WarpPoint(s.job, X, true, mask, XA, XB);
    const LineSegment& w = s.warped[0];
    float k = (w.length * w.invLength) * (w.length * w.invLength);
    ASSERT_LT(k, 0.999f);
    // Pulled towards P = (0.2, 0.5) by about (1 - k) of the distance (weights near 1).
    EXPECT_LT(XA.x, X.x);
    EXPECT_NEAR(XA.x, 0.2f + (X.x - 0.2f) * k, 2e-4);
    EXPECT_NEAR(XA.y, 0.5f + (X.y - 0.5f) * k, 2e-4);
}

TEST_F(FieldWarpTest, WeakPairIsSkippedOffTheFullPassUntilReevaluated) {
    // A tiny segment with a steep fall-off: weak far away, strong close by.
    SegmentList la{LineSegment(Point(0.50f, 0.50f), Point(0.52f, 0.50f))};
    SegmentList lb{LineSegment(Point(0.55f, 0.50f), Point(0.57f, 0.50f))};
    Scene s(la, lb, 0.0f, 0.5f);
    s.job.b = 20.0f;
    unsigned char mask[1] = {1};
    Point XA, XB;
    Point far(0.05f, 0.05f), near(0.51f, 0.49f);
    WarpPoint(s.job, far, true, mask, XA, XB);
    EXPECT_EQ(mask[0], 0);
    EXPECT_EQ(XB, far);
    WarpPoint(s.job, near, false, mask, XA, XB);
    EXPECT_EQ(XB, near) << "a pair with mask 0 must not contribute off the full pass";
    EXPECT_EQ(mask[0], 0);
    WarpPoint(s.job, near, true, mask, XA, XB);
    EXPECT_EQ(mask[0], 1);
    EXPECT_GT(XB.x, near.x + 0.04f);  // B's segment lies 0.05 to the right
}

TEST_F(FieldWarpTest, PairMappingOutsideTheSquareLeavesItsMaskByte) {
    // B's segment lies far outside the image, so every mapped point of B is outside.
    SegmentList la{LineSegment(Point(0.4f, 0.5f), Point(0.6f, 0.5f))};
    SegmentList lb{LineSegment(Point(3.4f, 0.5f), Point(3.6f, 0.5f))};
    Scene s(la, lb, 0.0f, 0.5f);
    for (unsigned char start : {0, 1}) {
        unsigned char mask[1] = {start};
        Point X(0.5f, 0.45f), XA, XB;
        WarpPoint(s.job, X, true, mask, XA, XB);
        EXPECT_EQ(XA, X);
        EXPECT_EQ(XB, X);
        EXPECT_EQ(mask[0], start);
    }
}

TEST_F(FieldWarpTest, BlendTruncatesAndDissolveEndsPickOneImage) {
    Scene s({}, {}, 0.5f, 0.5f);
    Fill(s.A, 5, 3, 10, 200, 0);
    Fill(s.B, 7, 4, 13, 100, 255);
    unsigned char out[4] = {0, 0, 0, 0};
    MorphPixel(s.job, Point(0.5f, 0.5f), true, nullptr, out);
    EXPECT_EQ(out[0], 11);  // 11.5 truncated, not rounded to 12
    EXPECT_EQ(out[1], 150);
    EXPECT_EQ(out[2], 127);
    EXPECT_EQ(out[3], 255);
    s.job.dissoveFrac = 0.0f;
    MorphPixel(s.job, Point(0.5f, 0.5f), true, nullptr, out);
    EXPECT_EQ(out[0], 10);
    EXPECT_EQ(out[2], 0);
    s.job.dissoveFrac = 1.0f;
    MorphPixel(s.job, Point(0.5f, 0.5f), true, nullptr, out);
    EXPECT_EQ(out[0], 13);
    EXPECT_EQ(out[1], 100);
    EXPECT_EQ(out[2], 255);
}

TEST_F(FieldWarpTest, RowPlacesPixelCentresIncrementally) {
    // Image A is a horizontal ramp; with no pairs column c samples A at (c + 0.5) * wA / W.
    Scene s({}, {}, 0.5f, 0.0f);
    const int w = 11;
    s.A.Allocate(w, 2, 4);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < w; ++x) {
            unsigned char* p = s.A.pixels + 4 * (y * w + x);
            p[0] = static_cast<unsigned char>(20 * x);
            p[1] = p[2] = 0;
            p[3] = 255;
        }
    Fill(s.B, 3, 3, 0, 0, 0);
    std::vector<unsigned char> out(4 * 5, 0);
    s.job.outputPixels = out.data();
    s.job.outputWidth = 5;
    s.job.outputHeight = 1;
    MorphRowPlain(s.job, 0, 0.5f, nullptr);
    float x = 0.5f / 5.0f;
    for (int c = 0; c < 5; ++c) {
        float sx = x * static_cast<float>(w);
        int ix = static_cast<int>(std::floor(sx));
        float expected = 20.0f * ix + 20.0f * (sx - ix);
        EXPECT_EQ(out[4 * c], static_cast<unsigned char>(std::nearbyint(expected))) << "column " << c;
        EXPECT_EQ(out[4 * c + 3], 255);
        x = x + 1.0f / 5.0f;
    }
}

}  // namespace

#include "morph/line_segment.h"

#include <gtest/gtest.h>

#include "image/pixel_image.h"
#include "morph/fast_sqrt.h"
#include "morph/morph_settings.h"

namespace {

class LineSegmentTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitFastSqrt(); }
};

TEST_F(LineSegmentTest, FreshSegmentHoldsZeroEverywhere) {
    LineSegment s;
    EXPECT_EQ(s.P, Point(0, 0));
    EXPECT_EQ(s.Q, Point(0, 0));
    EXPECT_EQ(s.length, 0.0f);
    EXPECT_EQ(s.invLength, 0.0f);
    EXPECT_EQ(s.unitPerp, Point(0, 0));
}

TEST_F(LineSegmentTest, PrecomputeDerivesDirectionPerpendicularAndLength) {
    LineSegment s(Point(1, 2), Point(4, 6));
    s.Precompute(0.5f);
    EXPECT_EQ(s.dir, Point(3, 4));
    EXPECT_EQ(s.perp, Point(4, -3));
    EXPECT_EQ(s.length, 5.0f);
    EXPECT_FLOAT_EQ(s.lengthPow, std::sqrt(5.0f));
    EXPECT_EQ(s.invLengthSq, s.invLength * s.invLength);
    EXPECT_EQ(s.unitPerp, Point(4.0f * s.invLength, -3.0f * s.invLength));
}

TEST_F(LineSegmentTest, ReciprocalIsOneNewtonStepFromTheBitPatternEstimate) {
    LineSegment s(Point(0, 0), Point(1.5f, 0));
    s.Precompute(1.0f);
    EXPECT_EQ(s.invLength, 0.65625f);  // 1/1.5 = 0.6667, the approximation is 1.6 % short
    LineSegment pow2(Point(0, 0), Point(0, 0.25f));
    pow2.Precompute(1.0f);
    EXPECT_EQ(pow2.invLength, 4.0f);
    // Never above the exact reciprocal, and at most 1/64 below it.
    for (float len : {0.3f, 0.7f, 1.1f, 1.9f, 3.3f, 123.0f}) {
        LineSegment t(Point(0, 0), Point(len, 0));
        t.Precompute(1.0f);
        EXPECT_LE(t.invLength, 1.0f / t.length);
        EXPECT_GE(t.invLength, (1.0f / t.length) * (1.0f - 1.0f / 64.0f));
    }
}

TEST_F(LineSegmentTest, ZeroLengthSegmentGetsZeroLengthAndDefinedReciprocals) {
    LineSegment s(Point(0.3f, 0.3f), Point(0.3f, 0.3f));
    s.invLength = 7.0f;  // stale values must not survive
    s.unitPerp = Point(7, 7);
    s.Precompute(0.2f);
    EXPECT_EQ(s.length, 0.0f);
    EXPECT_EQ(s.lengthPow, 0.0f);
    EXPECT_EQ(s.invLength, 0.0f);
    EXPECT_EQ(s.invLengthSq, 0.0f);
    EXPECT_EQ(s.unitPerp, Point(0, 0));
}

TEST_F(LineSegmentTest, EqualityIgnoresDerivedFields) {
    LineSegment a(Point(1, 2), Point(3, 4));
    LineSegment b(Point(1, 2), Point(3, 4));
    a.Precompute(0.2f);
    b.Precompute(1.0f);
    EXPECT_TRUE(a == b);
    b.Q.y = 4.0001f;
    EXPECT_FALSE(a == b);
}

TEST_F(LineSegmentTest, ProjectOfEndpoints) {
    LineSegment s(Point(0.1f, 0.2f), Point(0.7f, 0.5f));
    s.Precompute(0.2f);
    float u, v;
    s.Project(s.P, u, v);
    EXPECT_EQ(u, 0.0f);
    EXPECT_EQ(v, 0.0f);
    s.Project(s.Q, u, v);
    float k = (s.length * s.invLength) * (s.length * s.invLength);
    EXPECT_NEAR(u, k, 1e-6);
    EXPECT_LT(u, 1.0f);
    EXPECT_GT(u, 0.969f);
    EXPECT_NEAR(v, 0.0f, 1e-7);
}

TEST_F(LineSegmentTest, PointAtOfProjectScalesTowardsStartByK) {
    LineSegment s(Point(0.2f, 0.1f), Point(0.9f, 0.6f));
    s.Precompute(0.2f);
    float k = (s.length * s.invLength) * (s.length * s.invLength);
    Point X(0.4f, 0.7f);
    float u, v;
    s.Project(X, u, v);
    Point back = s.PointAt(u, v);
    Point expected = s.P + (X - s.P) * k;
    EXPECT_NEAR(back.x, expected.x, 1e-5);
    EXPECT_NEAR(back.y, expected.y, 1e-5);
    EXPECT_GT(std::fabs(back.x - X.x), 1e-4);  // not exactly X: the reciprocal is approximate

    LineSegment pow2(Point(0, 0), Point(0.5f, 0));
    pow2.Precompute(0.2f);
    pow2.Project(X, u, v);
    Point exact = pow2.PointAt(u, v);
    EXPECT_FLOAT_EQ(exact.x, X.x);
    EXPECT_FLOAT_EQ(exact.y, X.y);
}

TEST_F(LineSegmentTest, DistanceToIsSymmetricBesideTheMiddleAndRadialBeyondTheEnds) {
    LineSegment s(Point(0, 0), Point(1, 0));
    s.Precompute(0.2f);
    float u, v;
    s.Project(Point(0.5f, 0.25f), u, v);
    float above = s.DistanceTo(Point(0.5f, 0.25f), u, v);
    s.Project(Point(0.5f, -0.25f), u, v);
    float below = s.DistanceTo(Point(0.5f, -0.25f), u, v);
    EXPECT_EQ(above, below);
    EXPECT_EQ(above, 0.25f);

    s.Project(Point(-3, 4), u, v);
    EXPECT_EQ(s.DistanceTo(Point(-3, 4), u, v), 5.0f);  // to P, through the fast root
    s.Project(Point(4, 4), u, v);
    EXPECT_EQ(s.DistanceTo(Point(4, 4), u, v), 5.0f);   // to Q
}

TEST(MorphSettings, DefaultsAndCopySemantics) {
    MorphSettings s;
    EXPECT_EQ(s.dissoveFrac, 0.5f);
    EXPECT_EQ(s.warpFrac, 0.5f);
    EXPECT_EQ(s.a, 0.01f);
    EXPECT_EQ(s.b, 2.0f);
    EXPECT_EQ(s.p, 0.2f);
    EXPECT_TRUE(s.imagePathA.empty());

    SegmentList list;
    s.segmentsA = &list;
    s.imagePathA = "a.png";
    MorphSettings copy = s;
    copy.imagePathA = "b.png";
    EXPECT_EQ(s.imagePathA, "a.png");
    copy.segmentsA->push_back(LineSegment(Point(0, 0), Point(1, 1)));
    EXPECT_EQ(s.segmentsA->size(), 1u);  // the lists are shared, not copied
}

}  // namespace

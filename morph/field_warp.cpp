#include "morph/field_warp.h"

#include <cmath>

#include "image/sample_bilinear.h"
#include "morph/fast_sqrt.h"

namespace {

// Far more steps than any fraction in [0, 1] needs to separate two distinct segments.
constexpr int kMaxInterpolationSteps = 100000;

LineSegment ToWorkingSpace(const LineSegment& s, float p) {
    LineSegment w(Point(s.P.x, 1.0f - s.P.y), Point(s.Q.x, 1.0f - s.Q.y));
    w.Precompute(p);
    return w;
}

bool InsideUnitSquare(const Point& X) { return !(X.x < 0.0f || X.x > 1.0f || X.y < 0.0f || X.y > 1.0f); }

}  // namespace

bool InterpolateSegment(const LineSegment& segA, const LineSegment& segB, float t, Point& P, Point& Q) {
    int steps = 0;
    do {
        if (++steps > kMaxInterpolationSteps) return false;
        t = t + 0.000001f;
        P.x = (segB.P.x - segA.P.x) * t + segA.P.x;
        P.y = (segB.P.y - segA.P.y) * t + segA.P.y;
        Q.x = (segB.Q.x - segA.Q.x) * t + segA.Q.x;
        Q.y = (segB.Q.y - segA.Q.y) * t + segA.Q.y;
    } while (P == Q);

    Point D = Q - P;
    float lenT = FastSqrt(D.Dot(D));
    float L = segA.length + (segB.length - segA.length) * t;
    if (std::fabs(lenT - L) > 0.1f) {
        Point M = P + D * 0.5f;
        float s = L / lenT;
        Point E = (D * 0.5f) * s;
        P = M - E;
        Q = M + E;
    }
    return true;
}

void PrepareSegments(const SegmentList& segmentsA, const SegmentList& segmentsB, float warpFrac, float p,
                     SegmentList& workSegmentsA, SegmentList& workSegmentsB, SegmentList& warpedSegments) {
    workSegmentsA.clear();
    workSegmentsB.clear();
    warpedSegments.clear();
    size_t n = segmentsA.size() < segmentsB.size() ? segmentsA.size() : segmentsB.size();
    workSegmentsA.reserve(n);
    workSegmentsB.reserve(n);
    warpedSegments.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        LineSegment wa = ToWorkingSpace(segmentsA[i], p);
        LineSegment wb = ToWorkingSpace(segmentsB[i], p);
        Point P, Q;
        if (wa.P == wa.Q && wb.P == wb.Q) continue;
        if (!InterpolateSegment(wa, wb, warpFrac, P, Q)) continue;
        LineSegment warped(P, Q);
        warped.Precompute(p);
        workSegmentsA.push_back(wa);
        workSegmentsB.push_back(wb);
        warpedSegments.push_back(warped);
    }
}

void WarpPoint(const MorphJob& job, const Point& X, bool fullPass, unsigned char* activeMask, Point& XA,
               Point& XB) {
    const SegmentList& warped = *job.warpedSegments;
    const SegmentList& workA = *job.workSegmentsA;
    const SegmentList& workB = *job.workSegmentsB;
    Point SA(0.0f, 0.0f);
    Point SB(0.0f, 0.0f);
    float S = 0.00001f;
    const size_t n = warped.size();
    for (size_t i = 0; i < n; ++i) {
        if (!fullPass && activeMask[i] == 0) continue;
        const LineSegment& seg = warped[i];
        float u, v;
        seg.Project(X, u, v);
        float dist = seg.DistanceTo(X, u, v);
        float q = seg.lengthPow / (job.a + dist);
        float w = static_cast<float>(std::pow(static_cast<double>(q), static_cast<double>(job.b)));
        if (w < 0.001f) {
            activeMask[i] = 0;
            continue;
        }
        Point XAi = workA[i].PointAt(u, v);
        if (!InsideUnitSquare(XAi)) continue;
        Point XBi = workB[i].PointAt(u, v);
        if (!InsideUnitSquare(XBi)) continue;
        SA = SA + (XAi - X) * w;
        SB = SB + (XBi - X) * w;
        S = S + w;
        activeMask[i] = 1;
    }
    XA = X + SA / S;
    XB = X + SB / S;
}

void MorphPixel(const MorphJob& job, const Point& X, bool fullPass, unsigned char* activeMask, unsigned char* out) {
    Point XA, XB;
    WarpPoint(job, X, fullPass, activeMask, XA, XB);
    const CPixelImage& A = *job.imageA;
    const CPixelImage& B = *job.imageB;
    unsigned char cA[4];
    unsigned char cB[4];
    SampleBilinear(A, XA.x * static_cast<float>(A.width), XA.y * static_cast<float>(A.height), cA);
    SampleBilinear(B, XB.x * static_cast<float>(B.width), XB.y * static_cast<float>(B.height), cB);
    const double f = static_cast<double>(job.dissoveFrac);
    for (int k = 0; k < 3; ++k) {
        const double a = cA[k];
        const double b = cB[k];
        out[k] = static_cast<unsigned char>(static_cast<int>(a + (b - a) * f));
    }
    out[3] = 255;
}

void MorphRowPlain(const MorphJob& job, uint32_t row, float y, unsigned char* activeMask) {
    const uint32_t W = job.outputWidth;
    const float dx = 1.0f / static_cast<float>(W);
    unsigned char* out = job.outputPixels + static_cast<size_t>(row) * W * 4;
    float x = 0.5f / static_cast<float>(W);
    for (uint32_t c = 0; c < W; ++c) {
        MorphPixel(job, Point(x, y), (c % 4) == 0, activeMask, out);
        out += 4;
        x = x + dx;
    }
}

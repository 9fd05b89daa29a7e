// The scalar side of the vector kernel: the plan prepared once per morph (pairs, columns,
// images, frame-level classification) and, per row, which pairs take part and how, before
// the row goes to the vector renderer of fast_kernel.cpp.
#include "morph/fast_plan.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "morph/fast_kernel.h"

namespace {

// The first column c in [0, W] whose x fails `below` (which holds for a prefix of the columns,
// the x being non-decreasing), as a binary search would find it. The x of column c is close to
// (c + 0.5) / W, so the search starts there and walks a few columns; it falls back to bisection
// when the accumulated sums have drifted further.
template <typename Below>
uint32_t FirstColumn(const float* xs, uint32_t W, double x, Below below) {
    constexpr uint32_t kWalk = 8;
    const double estimate = x * static_cast<double>(W) - 0.5;
    uint32_t c = !(estimate > 0.0) ? 0u : (estimate >= static_cast<double>(W) ? W : static_cast<uint32_t>(estimate));
    if (c < W && below(xs[c])) {
        for (uint32_t k = 0; k < kWalk; ++k) {
            ++c;
            if (c == W || !below(xs[c])) return c;
        }
        return static_cast<uint32_t>(std::partition_point(xs + c, xs + W, below) - xs);
    }
    for (uint32_t k = 0; k < kWalk; ++k) {
        if (c == 0 || below(xs[c - 1])) return c;
        --c;
    }
    return static_cast<uint32_t>(std::partition_point(xs, xs + c, below) - xs);
}

}  // namespace

uint32_t FirstColumnAtOrAbove(const float* xs, uint32_t W, double x) {
    return FirstColumn(xs, W, x, [x](float c) { return c < x; });
}

uint32_t FirstColumnAbove(const float* xs, uint32_t W, double x) {
    return FirstColumn(xs, W, x, [x](float c) { return !(x < c); });
}

namespace {

constexpr double kCoordinateLimit = 1.0e6;

bool Finite(float v) { return std::isfinite(v); }

bool Moderate(float v) { return std::isfinite(v) && std::fabs(v) <= kCoordinateLimit; }

enum class RowClass { Never, Always, Unknown };

// Bounds the weight of a pair over the output points with x in [xMin, xMax] and y in [y0, y1],
// with wide margins; Unknown unless the weight is below 0.001 everywhere (Never) or at or above
// it everywhere (Always).
RowClass ClassifyRect(const CFastMorphPlan& plan, const FastPair& pc, double y0, double y1) {
    if (!pc.classifiable) return RowClass::Unknown;
    const double x0 = plan.xMin, x1 = plan.xMax;
    // v is linear in x and y: its extremes over the rectangle lie at the corners.
    double vLo = std::numeric_limits<double>::infinity(), vHi = 0.0;
    bool positive = false, negative = false;
    for (double cx : {x0, x1}) {
        for (double cy : {y0, y1}) {
            const double v = ((cx - pc.Px) * pc.perpX + (cy - pc.Py) * pc.perpY) * pc.invLength;
            positive = positive || v >= 0.0;
            negative = negative || v <= 0.0;
            vLo = std::min(vLo, std::fabs(v));
            vHi = std::max(vHi, std::fabs(v));
        }
    }
    if (positive && negative) vLo = 0.0;
    auto endpoint = [&](double px, double py, double& lo, double& hi) {
        const double nearX = std::min(std::max(px, x0), x1) - px;
        const double nearY = std::min(std::max(py, y0), y1) - py;
        const double farX = std::max(std::fabs(x0 - px), std::fabs(x1 - px));
        const double farY = std::max(std::fabs(y0 - py), std::fabs(y1 - py));
        lo = std::sqrt(nearX * nearX + nearY * nearY);
        hi = std::sqrt(farX * farX + farY * farY);
    };
    double pLo, pHi, qLo, qHi;
    endpoint(pc.Px, pc.Py, pLo, pHi);
    endpoint(pc.Qx, pc.Qy, qLo, qHi);
    // The distance used at a pixel is one of |v|, the distance to P and that to Q.
    const double scale = 1.0 + std::fabs(pc.Px) + std::fabs(pc.Py) + std::fabs(pc.Qx) + std::fabs(pc.Qy);
    const double dLo = std::max(0.0, std::min({vLo, pLo, qLo}) * (1.0 - 1e-3) - 1e-4 * scale);
    const double dHi = std::max({vHi, pHi, qHi}) * (1.0 + 1e-3) + 1e-4 * scale;
    const double denLo = static_cast<double>(plan.a) + dLo;
    const double denHi = static_cast<double>(plan.a) + dHi;
    if (!(denLo > 1e-20)) return RowClass::Unknown;
    const double lp = pc.lengthPow;
    const double qMin = lp / denHi * (1.0 - 1e-4);
    const double qMax = lp / denLo * (1.0 + 1e-4);
    double w1, w2;
    if (plan.weightMode == 2) {
        w1 = qMin * qMin;
        w2 = qMax * qMax;
    } else if (plan.weightMode == 1) {
        w1 = qMin;
        w2 = qMax;
    } else {
        w1 = std::pow(qMin, static_cast<double>(plan.b));
        w2 = std::pow(qMax, static_cast<double>(plan.b));
    }
    const double wLo = std::min(w1, w2);
    const double wHi = std::max(w1, w2);
    const double threshold = static_cast<double>(0.001f);
    if (wHi * (1.0 + 1e-4) < threshold) return RowClass::Never;
    if (wLo * (1.0 - 1e-4) > threshold) return RowClass::Always;
    return RowClass::Unknown;
}

// Along a row the mapped points of a pair are affine in x. From both ends of the row, with
// margins far above the rounding of the per-pixel arithmetic, finds the columns that surely
// map inside the unit square in A and in B, and those that may (all others surely map outside).
void InsideColumns(const CFastMorphPlan& plan, const FastPair& pc, float y, FastRowPair& rp) {
    const uint32_t W = plan.width;
    rp.insideBegin = rp.insideEnd = 0;
    rp.reachBegin = 0;
    rp.reachEnd = W;
    if (!pc.classifiable || !pc.mapsModerate) return;
    const double ry = static_cast<double>(y) - pc.Py;
    const double x0 = plan.xMin, x1 = plan.xMax;
    const double ends[2] = {x0, x1};
    double u[2], v[2];
    double uScale = 0.0, vScale = 0.0;
    for (int e = 0; e < 2; ++e) {
        const double rx = ends[e] - pc.Px;
        u[e] = (rx * pc.dirX + ry * pc.dirY) * pc.invLengthSq;
        v[e] = (rx * pc.perpX + ry * pc.perpY) * pc.invLength;
        uScale = std::max(uScale, (std::fabs(rx * pc.dirX) + std::fabs(ry * pc.dirY)) * pc.invLengthSq);
        vScale = std::max(vScale, (std::fabs(rx * pc.perpX) + std::fabs(ry * pc.perpY)) * pc.invLength);
    }
    const float origins[4] = {pc.aPx, pc.aPy, pc.bPx, pc.bPy};
    const float dirs[4] = {pc.aDirX, pc.aDirY, pc.bDirX, pc.bDirY};
    const float perps[4] = {pc.aUnitPerpX, pc.aUnitPerpY, pc.bUnitPerpX, pc.bUnitPerpY};
    // x intervals: where every coordinate is surely in [0, 1], and where each may be.
    double inLo = x0, inHi = x1, reachLo = x0, reachHi = x1;
    for (int k = 0; k < 4; ++k) {
        const double c0 = origins[k] + dirs[k] * u[0] + perps[k] * v[0];
        const double c1 = origins[k] + dirs[k] * u[1] + perps[k] * v[1];
        const double m =
            1e-5 * (1.0 + std::fabs(origins[k]) + std::fabs(dirs[k]) * uScale + std::fabs(perps[k]) * vScale);
        // The x where the coordinate c(x) = c0 + (c1 - c0) (x - x0) / (x1 - x0) lies in [lo, hi].
        auto interval = [&](double lo, double hi, double& a, double& b) {
            if (x1 <= x0 || !(std::fabs(c1 - c0) > 1e-300)) {
                const double c = 0.5 * (c0 + c1);
                const double spread = std::fabs(c1 - c0);
                if (!(c - spread >= lo && c + spread <= hi)) b = a - 1.0;  // empty unless surely in
                return;
            }
            // x per unit of the coordinate: finite, so no bound below becomes NaN.
            const double run = (x1 - x0) / (c1 - c0);
            double xa = x0 + (lo - c0) * run, xb = x0 + (hi - c0) * run;
            if (xa > xb) std::swap(xa, xb);
            a = std::max(a, xa);
            b = std::min(b, xb);
        };
        interval(m, 1.0 - m, inLo, inHi);
        interval(-m, 1.0 + m, reachLo, reachHi);
    }
    // A tiny relative widening of the x bounds for their own double rounding.
    const double slack = 1e-12 * (1.0 + std::fabs(x0) + std::fabs(x1));
    const float* xs = plan.xs.data();
    auto firstAtOrAbove = [&](double x) { return FirstColumnAtOrAbove(xs, W, x); };
    auto firstAbove = [&](double x) { return FirstColumnAbove(xs, W, x); };
    if (inLo <= inHi) {
        rp.insideBegin = firstAtOrAbove(inLo + slack);
        rp.insideEnd = firstAbove(inHi - slack);
        if (rp.insideEnd < rp.insideBegin) rp.insideEnd = rp.insideBegin;
    }
    if (reachLo <= reachHi) {
        rp.reachBegin = firstAtOrAbove(reachLo - slack);
        rp.reachEnd = firstAbove(reachHi + slack);
    } else {
        rp.reachBegin = rp.reachEnd = 0;
    }
}

bool PrepareImage(const CPixelImage& image, FastImage& out) {
    const int64_t W = image.width, H = image.height;
    // Gather indices are 32-bit and the clamps are compared as floats.
    if (image.pixels == nullptr || image.bytesPerPixel != 4 || W < 1 || H < 1 || W >= (1 << 24) ||
        H >= (1 << 24) || W * H >= (int64_t{1} << 31) - 2 * W) {
        return false;
    }
    out.pixels = reinterpret_cast<const int32_t*>(image.pixels);
    out.width = image.width;
    out.height = image.height;
    out.widthF = static_cast<float>(image.width);
    out.heightF = static_cast<float>(image.height);
    out.lastX = static_cast<float>(image.width - 1);
    out.lastY = static_cast<float>(image.height - 1);
    out.clampX = image.width >= 2 ? image.width - 2 : 0;
    out.clampY = image.height >= 2 ? image.height - 2 : 0;
    out.stepX = image.width >= 2 ? 1 : 0;
    out.stepY = image.height >= 2 ? image.width : 0;
    return true;
}

}  // namespace

void CFastMorphPlan::Clear() {
    outputPixels = nullptr;
    xs.clear();
    pairs.clear();
}

bool CFastMorphPlan::Prepare(const MorphJob& job) {
    Clear();
    if (job.imageA == nullptr || job.imageB == nullptr || job.outputPixels == nullptr || job.warpedSegments == nullptr ||
        job.workSegmentsA == nullptr || job.workSegmentsB == nullptr || job.outputWidth == 0 ||
        job.outputWidth > 0x7FFFFFFFu) {
        return false;
    }
    if (!PrepareImage(*job.imageA, imageA) || !PrepareImage(*job.imageB, imageB)) return false;
    const SegmentList& warped = *job.warpedSegments;
    const SegmentList& workA = *job.workSegmentsA;
    const SegmentList& workB = *job.workSegmentsB;
    const size_t n = warped.size();
    if (workA.size() != n || workB.size() != n) return false;

    width = job.outputWidth;
    outputPixels = job.outputPixels;
    a = job.a;
    b = job.b;
    weightMode = b == 2.0f ? 2 : (b == 1.0f ? 1 : 0);
    try {
        // The x of every column, as MorphRowPlain accumulates it, padded for whole vectors.
        xs.assign(static_cast<size_t>(width) + 128, 0.0f);
        const float W = static_cast<float>(width);
        const float dx = 1.0f / W;
        float x = 0.5f / W;
        xMin = xMax = x;
        for (uint32_t c = 0; c < width; ++c) {
            xs[c] = x;
            xMin = std::min(xMin, static_cast<double>(x));
            xMax = std::max(xMax, static_cast<double>(x));
            x = x + dx;
        }
        for (size_t c = width; c < xs.size(); ++c) xs[c] = xs[width - 1];

        frameYLo = 0.0;
        frameYHi = 1.0 + 1.0 / 1024.0;
        pairs.resize(n);
        for (size_t i = 0; i < n; ++i) {
            const LineSegment& s = warped[i];
            const LineSegment& sa = workA[i];
            const LineSegment& sb = workB[i];
            FastPair& pc = pairs[i];
            pc.Px = s.P.x;
            pc.Py = s.P.y;
            pc.Qx = s.Q.x;
            pc.Qy = s.Q.y;
            pc.dirX = s.dir.x;
            pc.dirY = s.dir.y;
            pc.perpX = s.perp.x;
            pc.perpY = s.perp.y;
            pc.invLengthSq = s.invLengthSq;
            pc.invLength = s.invLength;
            pc.lengthPow = s.lengthPow;
            pc.aPx = sa.P.x;
            pc.aPy = sa.P.y;
            pc.aDirX = sa.dir.x;
            pc.aDirY = sa.dir.y;
            pc.aUnitPerpX = sa.unitPerp.x;
            pc.aUnitPerpY = sa.unitPerp.y;
            pc.bPx = sb.P.x;
            pc.bPy = sb.P.y;
            pc.bDirX = sb.dir.x;
            pc.bDirY = sb.dir.y;
            pc.bUnitPerpX = sb.unitPerp.x;
            pc.bUnitPerpY = sb.unitPerp.y;
            // Output points lie in (0, 1.5) (x sums stay below 1 + W * 2^-24, y likewise), at
            // least 2^-32 from 0, so a nonzero coordinate difference from a moderate endpoint is
            // at least about 2^-57 and its square a normal float; moderate endpoints keep the
            // squares finite.
            pc.sqrtSafe = Moderate(s.P.x) && Moderate(s.P.y) && Moderate(s.Q.x) && Moderate(s.Q.y) &&
                          xMax < 1.5 && width < (1u << 26);
            pc.classifiable = pc.sqrtSafe && s.length > 0.0f && s.invLength > 0.0f && Finite(s.lengthPow) &&
                              s.lengthPow >= 0.0f && Finite(s.invLengthSq) && Moderate(s.dir.x) &&
                              Moderate(s.dir.y) && Finite(a) && Finite(b);
            pc.mapsModerate = Moderate(sa.P.x) && Moderate(sa.P.y) && Moderate(sa.dir.x) && Moderate(sa.dir.y) &&
                              Moderate(sa.unitPerp.x) && Moderate(sa.unitPerp.y) && Moderate(sb.P.x) &&
                              Moderate(sb.P.y) && Moderate(sb.dir.x) && Moderate(sb.dir.y) &&
                              Moderate(sb.unitPerp.x) && Moderate(sb.unitPerp.y);
            // Rows whose y lies in [frameYLo, frameYHi] (every row of a frame, y accumulated from
            // 0.5 / H in steps of 1 / H) take this class instead of their own when it is known.
            const RowClass frame = ClassifyRect(*this, pc, frameYLo, frameYHi);
            pc.frameClass = frame == RowClass::Never ? kFrameNever
                                                     : (frame == RowClass::Always ? kFrameAlways : kFrameUnknown);
        }

        // With |f| <= 2^20 every a + (b - a) * f lies well within the int range, and the vector
        // conversion truncates exactly as the plain path's cast does.
        dissoveFrac = job.dissoveFrac;
        blendInDouble = std::isfinite(dissoveFrac) && std::fabs(dissoveFrac) <= 1048576.0f;
        blend.clear();
        if (!blendInDouble) {
            // The cross-dissolve of every pair of channel values, by the plain path's expression.
            blend.resize(65536);
            const double f = static_cast<double>(job.dissoveFrac);
            for (int ca = 0; ca < 256; ++ca) {
                for (int cb = 0; cb < 256; ++cb) {
                    const double da = ca;
                    const double db = cb;
                    blend[static_cast<size_t>(ca) * 256 + cb] =
                        static_cast<unsigned char>(static_cast<int>(da + (db - da) * f));
                }
            }
        }
    } catch (const std::bad_alloc&) {
        Clear();
        return false;
    }
    return true;
}

bool FastRowScratch::Allocate(const CFastMorphPlan& plan) {
    try {
        rowPairs.resize(plan.pairs.size());
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void MorphRowFast(const CFastMorphPlan& plan, uint32_t row, float y, unsigned char* activeMask,
                  FastRowScratch& scratch) {
    const size_t n = plan.pairs.size();
    size_t count = 0;
    for (size_t i = 0; i < n; ++i) {
        const FastPair& pc = plan.pairs[i];
        RowClass cls;
        if (pc.frameClass != kFrameUnknown && y >= plan.frameYLo && y <= plan.frameYHi) {
            cls = pc.frameClass == kFrameNever ? RowClass::Never : RowClass::Always;
            ++scratch.frameClassified;
        } else {
            cls = ClassifyRect(plan, pc, y, y);
        }
        if (cls == RowClass::Never) {
            // Column 0 evaluates it and clears its byte; later evaluations keep it clear.
            activeMask[i] = 0;
            ++scratch.neverPairs;
            continue;
        }
        FastRowPair& rp = scratch.rowPairs[count];
        rp.index = static_cast<uint32_t>(i);
        rp.mode = kReplay;
        if (cls == RowClass::Always && activeMask[i] != 0) {
            // Never weak on this row, so evaluated at every pixel, and its byte stays 1.
            rp.mode = kDirect;
            InsideColumns(plan, pc, y, rp);
            if (rp.reachBegin >= rp.reachEnd) {
                ++scratch.outsidePairs;
                continue;
            }
            ++scratch.directPairs;
            scratch.insideColumns += rp.insideEnd - rp.insideBegin;
            scratch.testedColumns += (rp.reachEnd - rp.reachBegin) - (rp.insideEnd - rp.insideBegin);
        } else {
            ++scratch.replayedPairs;
        }
        ++count;
        const float ry = y - pc.Py;
        const float rq = y - pc.Qy;
        rp.ryDirY = ry * pc.dirY;
        rp.ryPerpY = ry * pc.perpY;
        rp.dyP2 = ry * ry;
        rp.dyQ2 = rq * rq;
    }
    unsigned char* out = plan.outputPixels + static_cast<size_t>(row) * plan.width * 4;
    quarro::RenderRow(&plan, scratch.rowPairs.data(), count, y, activeMask, out);
}

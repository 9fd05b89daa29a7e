// The vector morph kernel, compiled once per instruction set and chosen at run time.
// Arithmetic notes are in fast_kernel.h; every vector operation below mirrors one scalar
// operation of field_warp.cpp, line_segment.h and sample_bilinear.h.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "morph/fast_kernel.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"

#include "morph/fast_kernel.h"
#include "morph/fast_sqrt.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#ifndef QUARRO_FAST_KERNEL_SHARED
#define QUARRO_FAST_KERNEL_SHARED

namespace fastkernel {

constexpr float kMinWeight = 0.001f;
constexpr float kWeightSumStart = 0.00001f;
// 2^23: adding it to a float in [0, 2^23) rounds it to an integer, ties to even, exactly as
// nearbyint does in the default rounding mode; the integer is then the low mantissa bits.
constexpr float kRoundingBias = 8388608.0f;
constexpr int32_t kRoundingBiasBits = 0x4B000000;

// The mask replay of a group of four columns, the first of which is a full evaluation.
// Index: state | lowBits << 1 | insideBits << 5. Entry: contributing bits | new state << 4.
struct ReplayTable {
    unsigned char entry[512];
    constexpr ReplayTable() : entry() {
        for (unsigned index = 0; index < 512; ++index) {
            unsigned state = index & 1u;
            const unsigned low = (index >> 1) & 15u;
            const unsigned inside = (index >> 5) & 15u;
            unsigned contributing = 0;
            for (unsigned j = 0; j < 4; ++j) {
                if (j == 0 || state != 0) {
                    if ((low >> j) & 1u) {
                        state = 0;
                    } else if ((inside >> j) & 1u) {
                        state = 1;
                        contributing |= 1u << j;
                    }
                }
            }
            entry[index] = static_cast<unsigned char>(contributing | (state << 4));
        }
    }
};
constexpr ReplayTable kReplay;

// Replays a pair's mask byte over `lanes` columns starting at column c0: which of them the
// plain path evaluates and finds contributing. Bits past `lanes` are ignored.
inline uint64_t ReplayMask(uint64_t low, uint64_t inside, size_t lanes, size_t c0, unsigned char& state) {
    uint64_t contributing = 0;
    unsigned s = state != 0 ? 1u : 0u;
    size_t j = 0;
    if ((c0 & 3) == 0) {
        for (; j + 4 <= lanes; j += 4) {
            const unsigned e = kReplay.entry[s | ((low >> j) & 15u) << 1 | ((inside >> j) & 15u) << 5];
            contributing |= static_cast<uint64_t>(e & 15u) << j;
            s = e >> 4;
        }
    }
    for (; j < lanes; ++j) {
        if (((c0 + j) & 3) == 0 || s != 0) {
            if ((low >> j) & 1u) {
                s = 0;
            } else if ((inside >> j) & 1u) {
                s = 1;
                contributing |= uint64_t{1} << j;
            }
        }
    }
    state = static_cast<unsigned char>(s);
    return contributing;
}

}  // namespace fastkernel

#endif  // QUARRO_FAST_KERNEL_SHARED

HWY_BEFORE_NAMESPACE();
namespace quarro {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;
using DF = hn::ScalableTag<float>;
using DI = hn::RebindToSigned<DF>;
using VF = hn::Vec<DF>;
using VI = hn::Vec<DI>;
using MF = hn::Mask<DF>;

constexpr size_t kMaxLanes = 64;

// Where SampleBilinear reads for N positions: the clamped top-left tap and the fractions.
struct Taps {
    VI i00;
    VF fx, fy;
};

HWY_INLINE Taps PlaceTaps(const FastImage& im, VF x, VF y) {
    const DF d;
    const DI di;
    const VF zero = hn::Zero(d);
    // !(x >= 0) also catches NaN; x >= W - 1 clamps to W - 2 (0 for one-pixel-wide images).
    const MF xLow = hn::Not(hn::Ge(x, zero));
    const MF xHigh = hn::Ge(x, hn::Set(d, im.lastX));
    x = hn::IfThenElse(xLow, zero, hn::IfThenElse(xHigh, hn::Set(d, static_cast<float>(im.clampX)), x));
    const MF yLow = hn::Not(hn::Ge(y, zero));
    const MF yHigh = hn::Ge(y, hn::Set(d, im.lastY));
    y = hn::IfThenElse(yLow, zero, hn::IfThenElse(yHigh, hn::Set(d, static_cast<float>(im.clampY)), y));
    // Every lane is now 0, an integer clamp or in [0, W - 1): truncation gives the plain ix.
    const VI ix = hn::ConvertTo(di, x);
    const VI iy = hn::ConvertTo(di, y);
    Taps t;
    t.fx = hn::Sub(x, hn::ConvertTo(d, ix));
    t.fy = hn::Sub(y, hn::ConvertTo(d, iy));
    t.i00 = hn::Add(hn::Mul(iy, hn::Set(di, im.width)), ix);
    return t;
}

// Asks for the cache lines of both tap rows, so that the gathers a step later find them.
HWY_INLINE void PrefetchTaps(const FastImage& im, const Taps& t) {
    const DI di;
    HWY_ALIGN int32_t index[kMaxLanes];
    hn::Store(t.i00, di, index);
    for (size_t j = 0; j < hn::Lanes(di); ++j) {
        __builtin_prefetch(im.pixels + index[j]);
        __builtin_prefetch(im.pixels + index[j] + im.stepY);
    }
}

// SampleBilinear at placed taps: the three rounded channels, each an integer 0..255 per lane.
HWY_INLINE void SampleVector(const FastImage& im, const Taps& t, VI& r, VI& g, VI& b) {
    const DF d;
    const DI di;
    const VF fx = t.fx;
    const VF fy = t.fy;
    const VI i00 = t.i00;
    const VI i10 = hn::Add(i00, hn::Set(di, im.stepX));
    const VI i01 = hn::Add(i00, hn::Set(di, im.stepY));
    const VI i11 = hn::Add(i01, hn::Set(di, im.stepX));
    const VI p00 = hn::GatherIndex(di, im.pixels, i00);
    const VI p10 = hn::GatherIndex(di, im.pixels, i10);
    const VI p01 = hn::GatherIndex(di, im.pixels, i01);
    const VI p11 = hn::GatherIndex(di, im.pixels, i11);
    const VI byteMask = hn::Set(di, 0xFF);
    const VF bias = hn::Set(d, fastkernel::kRoundingBias);
    const VI biasBits = hn::Set(di, fastkernel::kRoundingBiasBits);
    auto channel = [&](VI c00, VI c10, VI c01, VI c11) {
        const VF a00 = hn::ConvertTo(d, hn::And(c00, byteMask));
        const VF a10 = hn::ConvertTo(d, hn::And(c10, byteMask));
        const VF a01 = hn::ConvertTo(d, hn::And(c01, byteMask));
        const VF a11 = hn::ConvertTo(d, hn::And(c11, byteMask));
        const VF top = hn::Add(a00, hn::Mul(hn::Sub(a10, a00), fx));
        const VF bottom = hn::Add(a01, hn::Mul(hn::Sub(a11, a01), fx));
        const VF value = hn::Add(top, hn::Mul(hn::Sub(bottom, top), fy));
        return hn::Sub(hn::BitCast(di, hn::Add(value, bias)), biasBits);
    };
    r = channel(p00, p10, p01, p11);
    g = channel(hn::ShiftRight<8>(p00), hn::ShiftRight<8>(p10), hn::ShiftRight<8>(p01), hn::ShiftRight<8>(p11));
    b = channel(hn::ShiftRight<16>(p00), hn::ShiftRight<16>(p10), hn::ShiftRight<16>(p01),
                hn::ShiftRight<16>(p11));
}

// FastSqrt of every lane: the rounded root of the input with its low 8 bits cleared where that
// is proven equal (sqrtSafe pairs), the table itself lane by lane otherwise.
HWY_INLINE VF FastSqrtVector(VF squared, bool sqrtSafe) {
    const DF d;
    const DI di;
    if (sqrtSafe) {
        return hn::Sqrt(hn::BitCast(d, hn::And(hn::BitCast(di, squared), hn::Set(di, ~0xFF))));
    }
    HWY_ALIGN float lanes[kMaxLanes];
    hn::Store(squared, d, lanes);
    for (size_t j = 0; j < hn::Lanes(d); ++j) lanes[j] = FastSqrt(lanes[j]);
    return hn::Load(d, lanes);
}

template <int kWeightMode>
HWY_INLINE VF WeightVector(VF q, double b) {
    if (kWeightMode == 2) return hn::Mul(q, q);
    if (kWeightMode == 1) return q;
    const DF d;
    HWY_ALIGN float lanes[kMaxLanes];
    hn::Store(q, d, lanes);
    for (size_t j = 0; j < hn::Lanes(d); ++j) {
        lanes[j] = static_cast<float>(std::pow(static_cast<double>(lanes[j]), b));
    }
    return hn::Load(d, lanes);
}

HWY_INLINE MF OutsideUnitSquare(VF x, VF y) {
    const DF d;
    const VF zero = hn::Zero(d);
    const VF one = hn::Set(d, 1.0f);
    return hn::Or(hn::Or(hn::Lt(x, zero), hn::Gt(x, one)), hn::Or(hn::Lt(y, zero), hn::Gt(y, one)));
}

// The running sums of WarpPoint for N pixels.
struct Sums {
    VF SAx, SAy, SBx, SBy, S;
};

// One pair's step of WarpPoint for the N pixels at columns c0 .. c0 + lanes - 1 of the row.
// kInside: the caller has found the pair direct, sqrtSafe and surely inside on these columns.
template <int kWeightMode, bool kInside = false>
HWY_INLINE void AddPair(const FastPair& pc, const FastRowPair& rp, VF X, VF y, size_t c0, size_t lanes, VF a,
                        double bExp, unsigned char* activeMask, Sums& sums) {
    const DF d;
    const size_t N = hn::Lanes(d);
    // A direct pair whose mapped points are all outside here contributes nothing.
    if (!kInside && rp.mode == kDirect && (c0 + lanes <= rp.reachBegin || c0 >= rp.reachEnd)) return;
    const bool sqrtSafe = kInside || pc.sqrtSafe;
    const VF zero = hn::Zero(d);
    const VF one = hn::Set(d, 1.0f);
    // Project: R = X - P; u = R.dir * invLengthSq; v = R.perp * invLength.
    const VF Rx = hn::Sub(X, hn::Set(d, pc.Px));
    const VF u = hn::Mul(hn::Add(hn::Mul(Rx, hn::Set(d, pc.dirX)), hn::Set(d, rp.ryDirY)), hn::Set(d, pc.invLengthSq));
    const VF v = hn::Mul(hn::Add(hn::Mul(Rx, hn::Set(d, pc.perpX)), hn::Set(d, rp.ryPerpY)), hn::Set(d, pc.invLength));
    // DistanceTo: to P before the segment, to Q beyond it, |v| beside it.
    // Most vectors lie wholly on one side: those take only their own branch, with the same
    // operations on the same operands as the lanes of the mixed case.
    const MF before = hn::Lt(u, zero);
    const MF beyond = hn::Gt(u, one);
    VF dist;
    if (hn::AllTrue(d, before)) {
        dist = FastSqrtVector(hn::Add(hn::Mul(Rx, Rx), hn::Set(d, rp.dyP2)), sqrtSafe);
    } else if (hn::AllTrue(d, beyond)) {
        const VF ex = hn::Sub(X, hn::Set(d, pc.Qx));
        dist = FastSqrtVector(hn::Add(hn::Mul(ex, ex), hn::Set(d, rp.dyQ2)), sqrtSafe);
    } else {
        const MF away = hn::Or(before, beyond);
        if (hn::AllFalse(d, away)) {
            dist = hn::Abs(v);
        } else {
            const VF ex = hn::IfThenElse(before, Rx, hn::Sub(X, hn::Set(d, pc.Qx)));
            const VF squared =
                hn::Add(hn::Mul(ex, ex), hn::IfThenElse(before, hn::Set(d, rp.dyP2), hn::Set(d, rp.dyQ2)));
            dist = hn::IfThenElse(away, FastSqrtVector(squared, sqrtSafe), hn::Abs(v));
        }
    }
    const VF q = hn::Div(hn::Set(d, pc.lengthPow), hn::Add(a, dist));
    const VF w = WeightVector<kWeightMode>(q, bExp);
    // PointAt in A and in B: P + dir * u + unitPerp * v.
    const VF XAx =
        hn::Add(hn::Add(hn::Set(d, pc.aPx), hn::Mul(hn::Set(d, pc.aDirX), u)), hn::Mul(hn::Set(d, pc.aUnitPerpX), v));
    const VF XAy =
        hn::Add(hn::Add(hn::Set(d, pc.aPy), hn::Mul(hn::Set(d, pc.aDirY), u)), hn::Mul(hn::Set(d, pc.aUnitPerpY), v));
    const VF XBx =
        hn::Add(hn::Add(hn::Set(d, pc.bPx), hn::Mul(hn::Set(d, pc.bDirX), u)), hn::Mul(hn::Set(d, pc.bUnitPerpX), v));
    const VF XBy =
        hn::Add(hn::Add(hn::Set(d, pc.bPy), hn::Mul(hn::Set(d, pc.bDirY), u)), hn::Mul(hn::Set(d, pc.bUnitPerpY), v));
    if (kInside || (rp.mode == kDirect && c0 >= rp.insideBegin && c0 + lanes <= rp.insideEnd)) {
        sums.SAx = hn::Add(sums.SAx, hn::Mul(hn::Sub(XAx, X), w));
        sums.SAy = hn::Add(sums.SAy, hn::Mul(hn::Sub(XAy, y), w));
        sums.SBx = hn::Add(sums.SBx, hn::Mul(hn::Sub(XBx, X), w));
        sums.SBy = hn::Add(sums.SBy, hn::Mul(hn::Sub(XBy, y), w));
        sums.S = hn::Add(sums.S, w);
        return;
    }
    const MF inside = hn::Not(hn::Or(OutsideUnitSquare(XAx, XAy), OutsideUnitSquare(XBx, XBy)));
    MF contributing = inside;
    if (rp.mode == kReplay) {
        HWY_ALIGN uint8_t bits[16] = {};
        const MF low = hn::Lt(w, hn::Set(d, fastkernel::kMinWeight));
        uint64_t lowBits = 0, insideBits = 0;
        hn::StoreMaskBits(d, low, bits);
        std::memcpy(&lowBits, bits, (N + 7) / 8);
        hn::StoreMaskBits(d, inside, bits);
        std::memcpy(&insideBits, bits, (N + 7) / 8);
        const uint64_t result = fastkernel::ReplayMask(lowBits, insideBits, lanes, c0, activeMask[rp.index]);
        std::memcpy(bits, &result, sizeof result);
        contributing = hn::LoadMaskBits(d, bits);
    }
    sums.SAx = hn::IfThenElse(contributing, hn::Add(sums.SAx, hn::Mul(hn::Sub(XAx, X), w)), sums.SAx);
    sums.SAy = hn::IfThenElse(contributing, hn::Add(sums.SAy, hn::Mul(hn::Sub(XAy, y), w)), sums.SAy);
    sums.SBx = hn::IfThenElse(contributing, hn::Add(sums.SBx, hn::Mul(hn::Sub(XBx, X), w)), sums.SBx);
    sums.SBy = hn::IfThenElse(contributing, hn::Add(sums.SBy, hn::Mul(hn::Sub(XBy, y), w)), sums.SBy);
    sums.S = hn::IfThenElse(contributing, hn::Add(sums.S, w), sums.S);
}

// The cross-dissolve of one channel, int(a + (b - a) * f) in double, as a byte: in double lanes
// when the fraction keeps every result within the int range, from the plan's table otherwise.
HWY_INLINE VI BlendChannel(const CFastMorphPlan& plan, VI ca, VI cb) {
    const DI di;
#if HWY_TARGET != HWY_SCALAR
    if (plan.blendInDouble) {
        const hn::Half<DI> dh;
        const hn::Repartition<double, DF> dd;
        const auto f = hn::Set(dd, static_cast<double>(plan.dissoveFrac));
        auto half = [&](hn::Vec<hn::Half<DI>> a, hn::Vec<hn::Half<DI>> b) {
            const auto da = hn::PromoteTo(dd, a);
            const auto db = hn::PromoteTo(dd, b);
            return hn::DemoteTo(dh, hn::Add(da, hn::Mul(hn::Sub(db, da), f)));
        };
        const auto lo = half(hn::LowerHalf(dh, ca), hn::LowerHalf(dh, cb));
        const auto hi = half(hn::UpperHalf(dh, ca), hn::UpperHalf(dh, cb));
        return hn::And(hn::Combine(di, hi, lo), hn::Set(di, 0xFF));
    }
#else
    if (plan.blendInDouble) {
        const double a = hn::GetLane(ca);
        const double b = hn::GetLane(cb);
        const double f = static_cast<double>(plan.dissoveFrac);
        return hn::Set(di, static_cast<unsigned char>(static_cast<int>(a + (b - a) * f)));
    }
#endif
    return hn::GatherIndex(di, plan.blend.data(), hn::Add(hn::ShiftLeft<8>(ca), cb));
}

// N finished pixels waiting for their samples: the taps in A and B and where they go.
struct PendingPixels {
    Taps a, b;
    size_t lanes = 0;
    unsigned char* out = nullptr;
};

// XA = X + SA / S, XB = X + SB / S, scaled to pixel positions; their taps placed and fetched.
HWY_INLINE void PlacePixels(const CFastMorphPlan& plan, VF X, VF y, const Sums& sums, size_t lanes,
                            unsigned char* out, PendingPixels& pending) {
    const DF d;
    const VF xA = hn::Mul(hn::Add(X, hn::Div(sums.SAx, sums.S)), hn::Set(d, plan.imageA.widthF));
    const VF yA = hn::Mul(hn::Add(y, hn::Div(sums.SAy, sums.S)), hn::Set(d, plan.imageA.heightF));
    const VF xB = hn::Mul(hn::Add(X, hn::Div(sums.SBx, sums.S)), hn::Set(d, plan.imageB.widthF));
    const VF yB = hn::Mul(hn::Add(y, hn::Div(sums.SBy, sums.S)), hn::Set(d, plan.imageB.heightF));
    pending.a = PlaceTaps(plan.imageA, xA, yA);
    pending.b = PlaceTaps(plan.imageB, xB, yB);
    pending.lanes = lanes;
    pending.out = out;
    PrefetchTaps(plan.imageA, pending.a);
    PrefetchTaps(plan.imageB, pending.b);
}

// Both samples, the blend, alpha 255, stored.
HWY_INLINE void FinishPixels(const CFastMorphPlan& plan, const PendingPixels& pending) {
    const DF d;
    const DI di;
    if (pending.lanes == 0) return;
    VI rA, gA, bA, rB, gB, bB;
    SampleVector(plan.imageA, pending.a, rA, gA, bA);
    SampleVector(plan.imageB, pending.b, rB, gB, bB);
    const VI r = BlendChannel(plan, rA, rB);
    const VI g = BlendChannel(plan, gA, gB);
    const VI b = BlendChannel(plan, bA, bB);
    const VI rgba = hn::Or(hn::Or(r, hn::ShiftLeft<8>(g)),
                           hn::Or(hn::ShiftLeft<16>(b), hn::Set(di, static_cast<int32_t>(0xFF000000u))));
    int32_t* dst = reinterpret_cast<int32_t*>(pending.out);
    if (pending.lanes == hn::Lanes(d)) {
        hn::StoreU(rgba, di, dst);
    } else {
        hn::BlendedStore(rgba, hn::FirstN(di, pending.lanes), di, dst);
    }
}

// Two vectors of pixels per step, each pair applied to both before the next pair: the pairs
// stay in order for every pixel, and a replayed mask still runs left to right.
template <int kWeightMode>
void RenderRow(const CFastMorphPlan& plan, const FastRowPair* rowPairs, size_t count, float yRow,
               unsigned char* activeMask, unsigned char* out) {
    const DF d;
    const size_t N = hn::Lanes(d);
    const uint32_t W = plan.width;
    const VF y = hn::Set(d, yRow);
    const VF a = hn::Set(d, plan.a);
    const double bExp = static_cast<double>(plan.b);
    const FastPair* pairs = plan.pairs.data();
    const VF zero = hn::Zero(d);
    const VF start = hn::Set(d, fastkernel::kWeightSumStart);

    // The samples of a step are fetched one step later, after their cache lines were asked for.
    PendingPixels pending0, pending1;
    const Taps noTaps{hn::Zero(DI()), zero, zero};
    pending0.a = pending0.b = pending1.a = pending1.b = noTaps;
    for (size_t c0 = 0; c0 < W; c0 += 2 * N) {
        const size_t lanes0 = std::min<size_t>(N, W - c0);
        const size_t c1 = c0 + N;
        const size_t lanes1 = c1 < W ? std::min<size_t>(N, W - c1) : 0;
        const VF X0 = hn::LoadU(d, plan.xs.data() + c0);
        const VF X1 = hn::LoadU(d, plan.xs.data() + c1);
        Sums s0{zero, zero, zero, zero, start};
        Sums s1{zero, zero, zero, zero, start};
        if (lanes1 != 0) {
            for (size_t k = 0; k < count; ++k) {
                const FastRowPair& rp = rowPairs[k];
                const FastPair& pc = pairs[rp.index];
                if (rp.mode == kDirect && pc.sqrtSafe && c0 >= rp.insideBegin && c1 + lanes1 <= rp.insideEnd) {
                    AddPair<kWeightMode, true>(pc, rp, X0, y, c0, lanes0, a, bExp, activeMask, s0);
                    AddPair<kWeightMode, true>(pc, rp, X1, y, c1, lanes1, a, bExp, activeMask, s1);
                } else {
                    AddPair<kWeightMode>(pc, rp, X0, y, c0, lanes0, a, bExp, activeMask, s0);
                    AddPair<kWeightMode>(pc, rp, X1, y, c1, lanes1, a, bExp, activeMask, s1);
                }
            }
        } else {
            for (size_t k = 0; k < count; ++k) {
                const FastRowPair& rp = rowPairs[k];
                AddPair<kWeightMode>(pairs[rp.index], rp, X0, y, c0, lanes0, a, bExp, activeMask, s0);
            }
        }
        FinishPixels(plan, pending0);
        FinishPixels(plan, pending1);
        PlacePixels(plan, X0, y, s0, lanes0, out + c0 * 4, pending0);
        pending1.lanes = 0;
        if (lanes1 != 0) PlacePixels(plan, X1, y, s1, lanes1, out + c1 * 4, pending1);
    }
    FinishPixels(plan, pending0);
    FinishPixels(plan, pending1);
}

void RenderRowDispatch(const CFastMorphPlan* plan, const FastRowPair* rowPairs, size_t count, float y,
                       unsigned char* activeMask, unsigned char* out) {
    switch (plan->weightMode) {
        case 2:
            RenderRow<2>(*plan, rowPairs, count, y, activeMask, out);
            break;
        case 1:
            RenderRow<1>(*plan, rowPairs, count, y, activeMask, out);
            break;
        default:
            RenderRow<0>(*plan, rowPairs, count, y, activeMask, out);
            break;
    }
}

const char* TargetName() { return hwy::TargetName(HWY_TARGET); }

}  // namespace HWY_NAMESPACE
}  // namespace quarro
HWY_AFTER_NAMESPACE();

#if HWY_ONCE

namespace quarro {
HWY_EXPORT(RenderRowDispatch);
HWY_EXPORT(TargetName);

void RenderRow(const CFastMorphPlan* plan, const FastRowPair* rowPairs, size_t count, float y,
               unsigned char* activeMask, unsigned char* out) {
    HWY_DYNAMIC_DISPATCH(RenderRowDispatch)(plan, rowPairs, count, y, activeMask, out);
}

const char* TargetName() { return HWY_DYNAMIC_DISPATCH(TargetName)(); }
}  // namespace quarro

const char* FastKernelTarget() { return quarro::TargetName(); }

#endif  // HWY_ONCE

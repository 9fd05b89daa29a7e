// ConvertWithCurves, compiled once per instruction set and chosen at run time through the same
// dispatch as the morph kernel.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "decoder/colour_curves.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"

#include "decoder/colour_curves.h"

#include <cstdint>
#include <cstring>

HWY_BEFORE_NAMESPACE();
namespace quarro_colour {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;
using DF = hn::ScalableTag<float>;
using DI = hn::RebindToSigned<DF>;
using DU = hn::RebindToUnsigned<DF>;
using VF = hn::Vec<DF>;
using VU = hn::Vec<DU>;

template <int kTerms>
HWY_INLINE VF Polynomial(DF df, const float* c, VF x) {
    VF sum = hn::Set(df, c[kTerms - 1]);
#pragma GCC unroll 8
    for (int k = kTerms - 2; k >= 0; --k) sum = hn::MulAdd(sum, x, hn::Set(df, c[k]));
    return sum;
}

// One channel's 8-bit values (in the low byte of each lane) to linear light.
template <int kDecodeTerms>
HWY_INLINE VF Decode(DF df, const RgbCurves& curves, int channel, VU bytes) {
    const DI di;
    VF value = hn::ConvertTo(df, hn::BitCast(di, hn::And(bytes, hn::Set(DU(), 0xFFu))));
    VF curve = Polynomial<kDecodeTerms>(df, curves.decode[channel], value);
    VF toe = hn::Mul(value, hn::Set(df, curves.toeSlope[channel]));
    return hn::IfThenElse(hn::Lt(value, hn::Set(df, curves.toeEnd[channel])), toe, curve);
}

#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
// The same from the quadratic of the value's segment: `shifted` holds the value in its low byte,
// and the lookup reads only the low five bits of value / 8.
HWY_INLINE VF DecodeSegments(DF df, const float (&segments)[3][32], VU shifted) {
    const __m512i index = _mm512_srli_epi32(shifted.raw, 3);
    VF t = hn::ConvertTo(df, hn::BitCast(DI(), hn::And(shifted, hn::Set(DU(), 7u))));
    auto term = [&](int k) {
        return VF{_mm512_permutex2var_ps(_mm512_loadu_ps(segments[k]), index, _mm512_loadu_ps(segments[k] + 16))};
    };
    return hn::MulAdd(hn::MulAdd(term(2), t, term(1)), t, term(0));
}
#endif

// Linear sRGB light to levels 0..255, as 32-bit integers.
HWY_INLINE VU Encode(DF df, const RgbCurves& curves, VF light) {
    // Bounded below by a little light rather than none, whose root would not be a number.
    light = hn::Min(hn::Max(light, hn::Set(df, 1e-8f)), hn::Set(df, 1.0f));
    VF root = hn::ApproximateReciprocalSqrt(hn::ApproximateReciprocalSqrt(light));
    VF level = Polynomial<RgbCurves::kEncodeTerms>(df, curves.encode, root);
    VF toe = hn::Mul(light, hn::Set(df, 12.92f * 255.0f));
    level = hn::IfThenElse(hn::Lt(light, hn::Set(df, curves.encodeKnee)), toe, level);
    // Rounded to the nearest whole number by adding 1.5 * 2^23, where a float's last bit is 1:
    // the level (0..255) is then the low byte of the sum's bits.
    return hn::And(hn::BitCast(DU(), hn::Add(level, hn::Set(df, 12582912.0f))), hn::Set(DU(), 0xFFu));
}

// kDecodeTerms 0: the segments' quadratics.
template <int kDecodeTerms>
HWY_INLINE VU ConvertVector(const RgbCurves& curves, VU pixels) {
    const DF df;
    VF red, green, blue;
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
    if constexpr (kDecodeTerms == 0) {
        red = DecodeSegments(df, curves.segments[0], pixels);
        green = DecodeSegments(df, curves.segments[1], hn::ShiftRight<8>(pixels));
        blue = DecodeSegments(df, curves.segments[2], hn::ShiftRight<16>(pixels));
    } else
#endif
    {
        red = Decode<kDecodeTerms>(df, curves, 0, pixels);
        green = Decode<kDecodeTerms>(df, curves, 1, hn::ShiftRight<8>(pixels));
        blue = Decode<kDecodeTerms>(df, curves, 2, hn::ShiftRight<16>(pixels));
    }
    VF out[3];
#pragma GCC unroll 3
    for (int o = 0; o < 3; ++o) {
        const float* m = curves.matrix[o];
        out[o] = hn::MulAdd(blue, hn::Set(df, m[2]), hn::MulAdd(green, hn::Set(df, m[1]), hn::Mul(red, hn::Set(df, m[0]))));
    }
    VU levels = hn::Or(Encode(df, curves, out[0]),
                       hn::Or(hn::ShiftLeft<8>(Encode(df, curves, out[1])), hn::ShiftLeft<16>(Encode(df, curves, out[2]))));
    return hn::Or(levels, hn::And(pixels, hn::Set(DU(), 0xFF000000u)));
}

template <int kDecodeTerms>
void ConvertPixels(const RgbCurves& given, const unsigned char* in, unsigned char* out, size_t pixels) {
    // A copy of its own, which no store to `out` can change: the compiler may then keep the
    // numbers in registers instead of reading them again after every vector.
    const RgbCurves curves = given;
    const DU du;
    const size_t lanes = hn::Lanes(du);
    size_t i = 0;
    for (; i + lanes <= pixels; i += lanes) {
        VU p = hn::LoadU(du, reinterpret_cast<const uint32_t*>(in + 4 * i));
        hn::StoreU(ConvertVector<kDecodeTerms>(curves, p), du, reinterpret_cast<uint32_t*>(out + 4 * i));
    }
    if (i < pixels) {
        // The last few pixels through a whole vector's worth of room.
        HWY_ALIGN uint32_t room[HWY_MAX_BYTES / 4] = {};
        std::memcpy(room, in + 4 * i, 4 * (pixels - i));
        hn::Store(ConvertVector<kDecodeTerms>(curves, hn::Load(du, room)), du, room);
        std::memcpy(out + 4 * i, room, 4 * (pixels - i));
    }
}

void ConvertWithCurvesHere(const RgbCurves& curves, const unsigned char* in, unsigned char* out, size_t pixels) {
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
    if (curves.segmentsFit) return ConvertPixels<0>(curves, in, out, pixels);
#endif
    switch (curves.decodeTerms) {
        case 6: return ConvertPixels<6>(curves, in, out, pixels);
        case 7: return ConvertPixels<7>(curves, in, out, pixels);
        default: return ConvertPixels<8>(curves, in, out, pixels);
    }
}

const char* CurvesTargetHere() { return hwy::TargetName(HWY_TARGET); }

bool UseSegmentsHere() { return HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL; }

}  // namespace HWY_NAMESPACE
}  // namespace quarro_colour
HWY_AFTER_NAMESPACE();

#if HWY_ONCE

namespace quarro_colour {
HWY_EXPORT(ConvertWithCurvesHere);
HWY_EXPORT(CurvesTargetHere);
HWY_EXPORT(UseSegmentsHere);
bool UseSegments() { return HWY_DYNAMIC_DISPATCH(UseSegmentsHere)(); }
const char* Target() { return HWY_DYNAMIC_DISPATCH(CurvesTargetHere)(); }
void Convert(const RgbCurves& curves, const unsigned char* in, unsigned char* out, size_t pixels) {
    HWY_DYNAMIC_DISPATCH(ConvertWithCurvesHere)(curves, in, out, pixels);
}
}  // namespace quarro_colour

void ConvertWithCurves(const RgbCurves& curves, const unsigned char* in, unsigned char* out, size_t pixels) {
    quarro_colour::Convert(curves, in, out, pixels);
}

const char* CurvesTarget() { return quarro_colour::Target(); }

bool CurvesUseSegments() { return quarro_colour::UseSegments(); }

#endif  // HWY_ONCE

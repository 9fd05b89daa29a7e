// The tables of SeparableRgb, from the engine's own float and 8-bit transforms.
#include "decoder/colour_separable.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "decoder/colour_library.h"
#include "decoder/polynomial_fit.h"

#if defined(__SSE2__) && defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace {

struct Transform {
    const LcmsLibrary& lcms;
    cmsHTRANSFORM handle;
    ~Transform() {
        if (handle != nullptr) lcms.cmsDeleteTransform(handle);
    }
};

struct Profile {
    const LcmsLibrary& lcms;
    cmsHPROFILE handle;
    ~Profile() {
        if (handle != nullptr) lcms.cmsCloseProfile(handle);
    }
};

}  // namespace

bool SeparableRgb::Build(const LcmsLibrary& lcms, void* from, void* engine, bool withCurves) {
    // sRGB's white and primaries with a straight line for a curve: linear sRGB, without bounds.
    cmsCIExyY white = {0.3127, 0.3290, 1.0};
    cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve* line = lcms.cmsBuildGamma(nullptr, 1.0);
    if (line == nullptr) return false;
    cmsToneCurve* lines[3] = {line, line, line};
    Profile linear{lcms, lcms.cmsCreateRGBProfile(&white, &primaries, lines)};
    lcms.cmsFreeToneCurve(line);
    if (linear.handle == nullptr) return false;
    const cmsUInt32Number flags = cmsFLAGS_NOCACHE | cmsFLAGS_NOOPTIMIZE;
    Transform toLinear{lcms, lcms.cmsCreateTransform(from, TYPE_RGB_8, linear.handle, TYPE_RGB_FLT, INTENT_PERCEPTUAL, flags)};
    if (toLinear.handle == nullptr) return false;

    // Each channel alone at every value, the others at zero.
    std::vector<unsigned char> single(3 * 256 * 3, 0);
    for (int channel = 0; channel < 3; ++channel) {
        for (int value = 0; value < 256; ++value) single[(channel * 256 + value) * 3 + channel] = static_cast<unsigned char>(value);
    }
    std::vector<float> light(single.size());
    lcms.cmsDoTransform(toLinear.handle, single.data(), light.data(), 3 * 256);
    curvesReady = false;
    if (withCurves && FitCurves(light)) {
        curvesReady = true;
        if (Agrees(lcms, engine)) return true;
        curvesReady = false;
    }
    return BuildTables(light) && Agrees(lcms, engine);
}

bool SeparableRgb::FitCurves(const std::vector<float>& light) {
    // Rounds of reweighting: past these the largest errors shrink by a few per cent at most, and
    // the fits are a good part of preparing a conversion.
    const int kRounds = 30, kSegmentRounds = 8;
    // sRGB's curve above its straight part as a polynomial in the light's fourth root.
    const double knee = 0.0031308;
    curves.encodeKnee = static_cast<float>(knee);
    std::vector<double> x, y, worth;
    const int kPoints = 128;
    const double low = std::pow(knee, 0.25);
    for (int i = 0; i <= kPoints; ++i) {
        const double root = low + (1 - low) * i / kPoints;
        x.push_back(root), y.push_back(255 * (1.055 * std::pow(root, 4 / 2.4) - 0.055)), worth.push_back(1);
    }
    double encodeError = 0;
    std::vector<double> fit = FitPolynomialEvenly(x, y, worth, RgbCurves::kEncodeTerms - 1, kRounds, encodeError);
    if (fit.empty()) return false;
    for (int k = 0; k < RgbCurves::kEncodeTerms; ++k) curves.encode[k] = static_cast<float>(fit[k]);

    // A curve-and-matrix profile's light of one channel alone is that channel's curve times a
    // column of the matrix: the column is the light at full value, the curve is read off the
    // column's largest entry, and every sample must be the product.
    double curve[3][256];
    for (int c = 0; c < 3; ++c) {
        auto at = [&](int value, int out) { return static_cast<double>(light[(c * 256 + value) * 3 + out]); };
        int main = 0;
        for (int o = 0; o < 3; ++o) {
            curves.matrix[o][c] = static_cast<float>(at(255, o));
            if (std::fabs(at(255, o)) > std::fabs(at(255, main))) main = o;
        }
        if (!(std::fabs(at(255, main)) > 1e-3)) return false;
        for (int v = 0; v < 256; ++v) {
            curve[c][v] = at(v, main) / at(255, main);
            for (int o = 0; o < 3; ++o) {
                if (!(std::fabs(at(v, o) - at(255, o) * curve[c][v]) <= 2e-5)) return false;  // a damaged profile's NaN too
            }
        }
        // The dark values where the curve is a straight line through black (sRGB's own shape).
        int toe = 2;
        while (toe < 256 && std::fabs(curve[c][toe] - toe * curve[c][1]) <= 1e-4 * curve[c][toe] + 1e-7) ++toe;
        curves.toeEnd[c] = static_cast<float>(toe);
        curves.toeSlope[c] = static_cast<float>(curve[c][1]);
    }

    // The rest of each curve evenly close in light: the matrix's negative entries can take a
    // bright channel's error to a dark output, where sRGB's curve is steepest (12.92 * 255 levels
    // for all the light). Each form must keep every output within 0.45 of a level, so that with
    // the rounding of the result and the engine's own they are at most a level apart.
    auto closeEnough = [&](const double (&error)[3]) {
        for (int o = 0; o < 3; ++o) {
            double sum = 0;
            for (int c = 0; c < 3; ++c) sum += std::fabs(curves.matrix[o][c]) * error[c];
            if (!(12.92 * 255 * sum + encodeError <= 0.45)) return false;
        }
        return true;
    };
    // The quadratic of each segment of eight values, through them as closely as it goes.
    double error[3] = {0, 0, 0};
    const std::vector<double> offsets = {0, 1, 2, 3, 4, 5, 6, 7}, even(8, 1.0);
    for (int c = 0; c < 3; ++c) {
        for (int segment = 0; segment < 32; ++segment) {
            std::vector<double> lights(curve[c] + 8 * segment, curve[c] + 8 * segment + 8);
            double largest = 0;
            fit = FitPolynomialEvenly(offsets, lights, even, 2, kSegmentRounds, largest);
            if (fit.empty()) return false;
            for (int k = 0; k < 3; ++k) curves.segments[c][k][segment] = static_cast<float>(fit[k]);
            error[c] = std::max(error[c], largest);
        }
    }
    curves.segmentsFit = closeEnough(error);
    if (curves.segmentsFit && CurvesUseSegments()) return true;
    // One polynomial for the values above the toe: the fewest terms that are close enough.
    for (int terms = 6; terms <= RgbCurves::kMostDecodeTerms; ++terms) {
        for (int c = 0; c < 3; ++c) {
            const int toe = static_cast<int>(curves.toeEnd[c]);
            std::vector<double> values, lights;
            for (int v = toe; v < 256; ++v) values.push_back(v), lights.push_back(curve[c][v]);
            fit.assign(RgbCurves::kMostDecodeTerms, 0.0);  // none: a straight line all the way
            error[c] = 0;
            if (!values.empty()) {
                fit = FitPolynomialEvenly(values, lights, std::vector<double>(values.size(), 1.0), terms - 1, kRounds,
                                          error[c]);
                if (fit.empty()) return false;
            }
            for (int k = 0; k < RgbCurves::kMostDecodeTerms; ++k) {
                curves.decode[c][k] = k < static_cast<int>(fit.size()) ? static_cast<float>(fit[k]) : 0.0f;
            }
        }
        if (closeEnough(error)) {
            curves.decodeTerms = terms;
            return true;
        }
    }
    return false;
}

bool SeparableRgb::BuildTables(const std::vector<float>& light) {
    contribution.assign(3 * 256 * 4, 0);
    for (size_t i = 0; i < 3 * 256; ++i) {
        for (int out = 0; out < 3; ++out) {
            // Far beyond full light a colour is clipped anyway; the bound keeps the sum in range.
            float steps = light[3 * i + out] * (kSteps - 1);
            steps = steps < -30000.0f ? -30000.0f : steps > 30000.0f ? 30000.0f : steps;
            contribution[4 * i + out] = static_cast<int32_t>(steps < 0 ? steps - 0.5f : steps + 0.5f);
        }
    }
    // Black must come out as nothing, or the sum would count it three times.
    for (int channel = 0; channel < 3; ++channel) {
        for (int out = 0; out < 3; ++out) {
            if (contribution[(channel * 256) * 4 + out] != 0) return false;
        }
    }
    // Where every sum of three contributions fits 16 bits, they are added as 16-bit numbers,
    // eight to a vector: wrapping in between does not matter when the sum itself fits.
    int low[3] = {0, 0, 0}, high[3] = {0, 0, 0};
    for (int channel = 0; channel < 3; ++channel) {
        for (int out = 0; out < 3; ++out) {
            int least = 0, most = 0;
            for (int value = 0; value < 256; ++value) {
                least = std::min(least, contribution[(channel * 256 + value) * 4 + out]);
                most = std::max(most, contribution[(channel * 256 + value) * 4 + out]);
            }
            low[out] += least, high[out] += most;
        }
    }
    narrow.clear();
    if (*std::min_element(low, low + 3) >= INT16_MIN && *std::max_element(high, high + 3) <= INT16_MAX) {
        narrow.assign(contribution.begin(), contribution.end());
    }

    // sRGB's curve from its definition: a step takes the level whose lower bound, the light of
    // the level's midpoint below, it has reached. 255 powers instead of one per step, which made
    // sampling the engine's curve cost as much as converting a megapixel.
    encode.assign(kSteps, 0);
    int level = 0;
    double bound = 0;  // in steps, where `level` + 1 begins
    auto nextBound = [](int l) {
        double encoded = (l + 0.5) / 255.0;
        double light = encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4);
        return light * (kSteps - 1);
    };
    bound = nextBound(0);
    for (int i = 0; i < kSteps; ++i) {
        while (level < 255 && i >= bound) bound = nextBound(++level);
        encode[static_cast<size_t>(i)] = static_cast<unsigned char>(level);
    }
    return true;
}

bool SeparableRgb::Agrees(const LcmsLibrary& lcms, void* engine) const {
    // The check: the corners of the cube and a spread of colours, against the engine's own.
    const int kChecks = 4096;
    std::vector<unsigned char> colours(4 * kChecks), engines(4 * kChecks), ours(4 * kChecks);
    uint32_t seed = 12345;
    for (int i = 0; i < kChecks; ++i) {
        for (int c = 0; c < 3; ++c) {
            seed = seed * 1664525u + 1013904223u;
            colours[4 * i + c] = i < 8 ? ((i >> c) & 1) * 255 : static_cast<unsigned char>(seed >> 24);
        }
        colours[4 * i + 3] = 255;
    }
    lcms.cmsDoTransform(engine, colours.data(), engines.data(), kChecks);
    Apply(colours.data(), ours.data(), kChecks);
    for (int i = 0; i < 4 * kChecks; ++i) {
        if (i % 4 != 3 && std::abs(static_cast<int>(engines[i]) - static_cast<int>(ours[i])) > 1) {
            return false;
        }
    }
    return true;
}

void SeparableRgb::Apply(const unsigned char* in, unsigned char* out, size_t pixels) const {
    // Before the tables are looked at: with the curves, they may not have been built.
    if (curvesReady) return ConvertWithCurves(curves, in, out, pixels);
    const int32_t* red = &contribution[0];
    const int32_t* green = &contribution[256 * 4];
    const int32_t* blue = &contribution[512 * 4];
    const unsigned char* curve = encode.data();
    // The whole pixel is read before any of it is written, so that `out` may be `in`; the bounds
    // are a minimum and a maximum, not branches.
#if defined(__SSE2__) && defined(__x86_64__)
    const __m128i zero = _mm_setzero_si128(), top = _mm_set1_epi16(kSteps - 1);
    size_t i = 0;
    if (!narrow.empty()) {
        // Two pixels' three sums at once, as 16-bit numbers; an entry is 8 bytes, which the
        // processor's addressing scales by itself.
        typedef int16_t Entry[4];
        const Entry* red16 = reinterpret_cast<const Entry*>(&narrow[0]);
        const Entry* green16 = reinterpret_cast<const Entry*>(&narrow[256 * 4]);
        const Entry* blue16 = reinterpret_cast<const Entry*>(&narrow[512 * 4]);
        auto pair = [](const Entry& a, const Entry& b) {
            return _mm_castpd_si128(_mm_loadh_pd(_mm_castsi128_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a))),
                                                 reinterpret_cast<const double*>(b)));
        };
        for (; i + 2 <= pixels; i += 2) {
            const unsigned char* p = in + 4 * i;
            const uint32_t alpha = static_cast<uint32_t>(p[3]) << 24, alpha2 = static_cast<uint32_t>(p[7]) << 24;
            __m128i sum = _mm_add_epi16(_mm_add_epi16(pair(red16[p[0]], red16[p[4]]), pair(green16[p[1]], green16[p[5]])),
                                        pair(blue16[p[2]], blue16[p[6]]));
            __m128i light = _mm_min_epi16(_mm_max_epi16(sum, zero), top);
            const uint32_t one = static_cast<uint32_t>(curve[_mm_extract_epi16(light, 0)]) |
                                 static_cast<uint32_t>(curve[_mm_extract_epi16(light, 1)]) << 8 |
                                 static_cast<uint32_t>(curve[_mm_extract_epi16(light, 2)]) << 16 | alpha;
            const uint32_t two = static_cast<uint32_t>(curve[_mm_extract_epi16(light, 4)]) |
                                 static_cast<uint32_t>(curve[_mm_extract_epi16(light, 5)]) << 8 |
                                 static_cast<uint32_t>(curve[_mm_extract_epi16(light, 6)]) << 16 | alpha2;
            std::memcpy(out + 4 * i, &one, 4);
            std::memcpy(out + 4 * i + 4, &two, 4);
        }
    }
    // One pixel's three sums at once, bounded as 16-bit numbers: the same sums.
    for (; i < pixels; ++i) {
        const unsigned char* p = in + 4 * i;
        const unsigned char alpha = p[3];
        __m128i sum = _mm_add_epi32(_mm_add_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(red + 4 * p[0])),
                                                  _mm_loadu_si128(reinterpret_cast<const __m128i*>(green + 4 * p[1]))),
                                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(blue + 4 * p[2])));
        __m128i light = _mm_min_epi16(_mm_max_epi16(_mm_packs_epi32(sum, sum), zero), top);
        const uint64_t lights = static_cast<uint64_t>(_mm_cvtsi128_si64(light));
        unsigned char* q = out + 4 * i;
        q[0] = curve[lights & 0xFFFF];
        q[1] = curve[(lights >> 16) & 0xFFFF];
        q[2] = curve[(lights >> 32) & 0xFFFF];
        q[3] = alpha;
    }
#else
    const int most = kSteps - 1;
    for (size_t i = 0; i < pixels; ++i) {
        const unsigned char* p = in + 4 * i;
        const int32_t* r = red + 4 * p[0];
        const int32_t* g = green + 4 * p[1];
        const int32_t* b = blue + 4 * p[2];
        const unsigned char alpha = p[3];
        const int lightRed = std::min(std::max(r[0] + g[0] + b[0], 0), most);
        const int lightGreen = std::min(std::max(r[1] + g[1] + b[1], 0), most);
        const int lightBlue = std::min(std::max(r[2] + g[2] + b[2], 0), most);
        unsigned char* q = out + 4 * i;
        q[0] = curve[lightRed];
        q[1] = curve[lightGreen];
        q[2] = curve[lightBlue];
        q[3] = alpha;
    }
#endif
}

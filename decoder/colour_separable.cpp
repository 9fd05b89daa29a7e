// The tables of SeparableRgb, from the engine's own float and 8-bit transforms.
#include "decoder/colour_separable.h"

#include <cstdint>
#include <cstdlib>

#include "decoder/colour_library.h"

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

bool SeparableRgb::Build(const LcmsLibrary& lcms, void* from, void* to, void* engine) {
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
    Transform fromLinear{lcms, lcms.cmsCreateTransform(linear.handle, TYPE_RGB_FLT, to, TYPE_RGB_8, INTENT_PERCEPTUAL, flags)};
    if (toLinear.handle == nullptr || fromLinear.handle == nullptr) return false;

    // Each channel alone at every value, the others at zero.
    std::vector<unsigned char> single(3 * 256 * 3, 0);
    for (int channel = 0; channel < 3; ++channel) {
        for (int value = 0; value < 256; ++value) single[(channel * 256 + value) * 3 + channel] = static_cast<unsigned char>(value);
    }
    std::vector<float> light(single.size());
    lcms.cmsDoTransform(toLinear.handle, single.data(), light.data(), 3 * 256);
    contribution.assign(3 * 256 * 4, 0);
    for (size_t i = 0; i < 3 * 256; ++i) {
        for (int out = 0; out < 3; ++out) {
            // Far beyond full light a colour is clipped anyway; the bound keeps the sum in range.
            float steps = light[3 * i + out] * (kSteps - 1);
            steps = steps < -30000.0f ? -30000.0f : steps > 30000.0f ? 30000.0f : steps;
            contribution[4 * i + out] = static_cast<int16_t>(steps < 0 ? steps - 0.5f : steps + 0.5f);
        }
    }
    // Black must come out as nothing, or the sum would count it three times.
    for (int channel = 0; channel < 3; ++channel) {
        for (int out = 0; out < 3; ++out) {
            if (contribution[(channel * 256) * 4 + out] != 0) return false;
        }
    }
    std::vector<float> ramp(3 * kSteps);
    for (int i = 0; i < kSteps; ++i) ramp[3 * i] = ramp[3 * i + 1] = ramp[3 * i + 2] = static_cast<float>(i) / (kSteps - 1);
    std::vector<unsigned char> encoded(3 * kSteps);
    lcms.cmsDoTransform(fromLinear.handle, ramp.data(), encoded.data(), kSteps);
    encode.resize(kSteps);
    for (int i = 0; i < kSteps; ++i) {
        if (encoded[3 * i] != encoded[3 * i + 1] || encoded[3 * i] != encoded[3 * i + 2]) return false;
        encode[static_cast<size_t>(i)] = encoded[3 * i];
    }

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
            encode.clear();
            return false;
        }
    }
    return true;
}

void SeparableRgb::Apply(const unsigned char* in, unsigned char* out, size_t pixels) const {
    const int16_t* red = &contribution[0];
    const int16_t* green = &contribution[256 * 4];
    const int16_t* blue = &contribution[512 * 4];
    const unsigned char* curve = encode.data();
    for (size_t i = 0; i < pixels; ++i) {
        const unsigned char* p = in + 4 * i;
        const int16_t* r = red + 4 * p[0];
        const int16_t* g = green + 4 * p[1];
        const int16_t* b = blue + 4 * p[2];
        unsigned char alpha = p[3];
        unsigned char* q = out + 4 * i;
        for (int c = 0; c < 3; ++c) {
            int light = r[c] + g[c] + b[c];
            light = light < 0 ? 0 : light > kSteps - 1 ? kSteps - 1 : light;
            q[c] = curve[light];
        }
        q[3] = alpha;
    }
}

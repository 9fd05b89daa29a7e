// A fast form of the colour engine's conversion of 8-bit RGB for the usual profiles, those made
// of a curve per channel and a matrix (Display P3, Adobe RGB, ...): in linear sRGB the result is
// a sum of one contribution per input channel, and each output channel then takes sRGB's curve.
// The contributions are sampled from the engine itself, sRGB's curve is computed from its
// definition. The faster form fits each channel's curve and sRGB's with polynomials and reads no
// table per pixel (colour_curves.h); the tables stand in where it cannot; either is used only
// when it gives the engine's own results on a spread of colours, otherwise the engine converts
// every pixel, several times slower.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "decoder/colour_curves.h"

struct LcmsLibrary;

class SeparableRgb {
public:
    // Samples `from` (an RGB profile) and checks the tables against `engine`, the engine's own
    // 8-bit RGBA transform from it to sRGB. True when they may be used. `withCurves` false
    // leaves out the polynomials (to compare the two forms).
    bool Build(const LcmsLibrary& lcms, void* from, void* engine, bool withCurves = true);

    // True when Apply evaluates the polynomials rather than reading the tables.
    bool UsesCurves() const { return curvesReady; }

    // `pixels` RGBA pixels from `in` to `out` (which may be `in`), alpha kept.
    void Apply(const unsigned char* in, unsigned char* out, size_t pixels) const;

private:
    // From each channel's light alone at every value ([channel][value][output channel]).
    bool FitCurves(const std::vector<float>& light);
    bool BuildTables(const std::vector<float>& light);
    // Apply against the engine on the corners of the cube and a spread of colours.
    bool Agrees(const LcmsLibrary& lcms, void* engine) const;

    static const int kSteps = 16384;  // of the curve over linear light 0..1: under a fifth of a level near black
    // [input channel][value][output channel], in steps of the curve (kSteps - 1 = full light); a
    // fourth entry pads each to 16 bytes, one vector.
    std::vector<int32_t> contribution;
    std::vector<int16_t> narrow;          // the same, when every sum fits 16 bits; else empty
    std::vector<unsigned char> encode;    // linear light in kSteps - 1 steps to 8-bit sRGB
    RgbCurves curves = {};
    bool curvesReady = false;
};

// What a picture file says about the colours of its numbers: an ICC profile, sRGB, or primaries
// and a transfer curve (a PNG's cHRM and gAMA, a HEIF's nclx box). Read from the file's bytes
// without any library, so that the helper knows before it confines itself whether a picture
// needs the colour engine at all. Untrusted bytes: runs only inside the decoding helper.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "image/format_sniff.h"

struct ColourDescription {
    enum class Kind {
        kNone,       // nothing said: the numbers are taken as sRGB
        kSrgb,       // sRGB said outright, or a profile or primaries that are sRGB's
        kProfile,    // an ICC profile other than sRGB's
        kPrimaries,  // chromaticities and a transfer curve other than sRGB's
        kUnusable,   // a description that cannot be read or used: `fault` says why
    };
    enum class Curve { kSrgb, kGamma, kLinear, kUnsupported };

    Kind kind = Kind::kNone;
    std::vector<unsigned char> profile;  // kProfile: the profile's bytes
    // kPrimaries: x, y of the white point and of the red, green and blue primaries.
    double white[2] = {}, red[2] = {}, green[2] = {}, blue[2] = {};
    Curve curve = Curve::kSrgb;
    double gamma = 1;  // kGamma: the decoding exponent (2.2 for a PNG gAMA of 45455)
    // For messages: what the description is ("the ICC profile \"Display P3\"", "the nclx colour box").
    std::string source;
    std::string fault;  // kUnusable: why

    // True when the numbers must be converted to be shown as sRGB.
    bool NeedsConversion() const { return kind == Kind::kProfile || kind == Kind::kPrimaries; }
};

// The colour description of the file `data`, of `format`: PNG, JPEG, TIFF and WebP; kNone for
// other formats (the HEIF decoder asks its library for the primary image's own).
void FindColourDescription(const unsigned char* data, size_t size, ImageFormat format, ColourDescription& out);

// True when decoding the file may need the colour engine: it describes its colours other than as
// sRGB (for HEIF and AVIF: some colour box of the file does).
bool MayNeedColourEngine(const unsigned char* data, size_t size, ImageFormat format);

// The description an embedded ICC profile gives, `source` naming it ("the HEIC's ICC profile"):
// kSrgb, kProfile with its bytes, or kUnusable.
ColourDescription ProfileDescription(const unsigned char* profile, size_t size, const std::string& source);

// True when the ICC profile is a plain sRGB profile: RGB, sRGB's colourants within 0.002, sRGB's
// curve on every channel, no tables that would take precedence. Anything else counts as not sRGB.
bool IsSrgbProfile(const unsigned char* profile, size_t size);

// The description of an nclx box's colour primaries and transfer characteristics (the ITU-T
// H.273 code points): kSrgb for BT.709 or unspecified primaries with an sRGB-like curve,
// kPrimaries for others this reader knows, kUnusable for the rest.
ColourDescription NclxDescription(int primaries, int transfer);

// The conversion through lcms2: a profile of the picture's own, or one made from its primaries
// and curve, to lcms2's sRGB.
#include "decoder/colour_convert.h"

#include <pthread.h>

#include <cstdint>
#include <cstring>

#include "decoder/colour_library.h"

namespace {

// lcms2 reports what it refuses through one process-wide handler; the last message is kept here.
// The helper converts one picture, so no two conversions are prepared at once.
std::string gEngineMessage;

void KeepEngineMessage(cmsContext, cmsUInt32Number, const char* text) {
    if (text != nullptr) gEngineMessage = text;
}

// Runs at least this large are shared with a second thread.
const size_t kSharedRun = 1 << 20;

cmsUInt32Number InputType(ColourSamples samples, bool grey) {
    switch (samples) {
        case ColourSamples::kRgba16:
            return grey ? COLORSPACE_SH(PT_GRAY) | EXTRA_SH(3) | CHANNELS_SH(1) | BYTES_SH(2) : TYPE_RGBA_16;
        case ColourSamples::kCmyk8: return TYPE_CMYK_8;
        case ColourSamples::kInvertedCmyk8: return TYPE_CMYK_8_REV;
        case ColourSamples::kRgba8:
        default: return grey ? COLORSPACE_SH(PT_GRAY) | EXTRA_SH(3) | CHANNELS_SH(1) | BYTES_SH(1) : TYPE_RGBA_8;
    }
}

const char* SpaceName(cmsUInt32Number space) {
    switch (space) {
        case cmsSigRgbData: return "RGB";
        case cmsSigGrayData: return "grey";
        case cmsSigCmykData: return "CMYK";
        case cmsSigLabData: return "Lab";
        case cmsSigXYZData: return "XYZ";
        default: return "other";
    }
}

// The profile's own name, when it gives one in plain characters.
std::string ProfileName(const LcmsLibrary& lcms, cmsHPROFILE profile) {
    char name[128] = {};
    lcms.cmsGetProfileInfoASCII(profile, cmsInfoDescription, "en", "US", name, sizeof name - 1);
    std::string clean;
    for (const char* c = name; *c != '\0'; ++c) clean += (*c >= 0x20 && *c < 0x7F && *c != '"') ? *c : '?';
    return clean;
}

// A profile made from primaries and a curve.
cmsHPROFILE MadeProfile(const LcmsLibrary& lcms, const ColourDescription& d) {
    cmsCIExyY white = {d.white[0], d.white[1], 1.0};
    cmsCIExyYTRIPLE primaries = {{d.red[0], d.red[1], 1.0}, {d.green[0], d.green[1], 1.0}, {d.blue[0], d.blue[1], 1.0}};
    cmsToneCurve* curve = nullptr;
    if (d.curve == ColourDescription::Curve::kSrgb) {
        const cmsFloat64Number srgb[] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
        curve = lcms.cmsBuildParametricToneCurve(nullptr, 4, srgb);
    } else {
        curve = lcms.cmsBuildGamma(nullptr, d.curve == ColourDescription::Curve::kLinear ? 1.0 : d.gamma);
    }
    if (curve == nullptr) return nullptr;
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = lcms.cmsCreateRGBProfile(&white, &primaries, curves);
    lcms.cmsFreeToneCurve(curve);
    return profile;
}

struct Profiles {
    const LcmsLibrary& lcms;
    cmsHPROFILE from = nullptr, to = nullptr;
    ~Profiles() {
        if (from != nullptr) lcms.cmsCloseProfile(from);
        if (to != nullptr) lcms.cmsCloseProfile(to);
    }
};

struct Run {
    const ColourConversion* conversion;
    const void* in;
    unsigned char* out;
    size_t pixels;
    void (*convert)(const ColourConversion*, const void*, unsigned char*, size_t);
};

}  // namespace

ColourConversion::~ColourConversion() {
    if (transform != nullptr) lcms->cmsDeleteTransform(static_cast<cmsHTRANSFORM>(transform));
}

bool ColourConversion::Prepare(const ColourDescription& description, ColourSamples kind, bool greyOnly,
                               DecodedImage& out) {
    samples = kind;
    auto storedBecause = [&](const std::string& why) {
        out.colourNote = "colours as stored: " + description.source + " could not be used: " + why;
        out.colourWarning = true;
        return false;
    };
    if (description.kind == ColourDescription::Kind::kUnusable) return storedBecause(description.fault);
    std::string reason;
    lcms = LoadLcmsLibrary(reason);
    if (lcms == nullptr) return storedBecause(reason);
    lcms->cmsSetLogErrorHandler(KeepEngineMessage);
    gEngineMessage.clear();
    auto engineSays = [&](const char* what) {
        return std::string(what) + (gEngineMessage.empty() ? "" : " (" + gEngineMessage + ")");
    };
    Profiles profiles{*lcms};
    std::string name;
    if (description.kind == ColourDescription::Kind::kProfile) {
        profiles.from = lcms->cmsOpenProfileFromMem(description.profile.data(),
                                                    static_cast<cmsUInt32Number>(description.profile.size()));
        if (profiles.from == nullptr) return storedBecause(engineSays("the colour engine refuses it"));
        name = ProfileName(*lcms, profiles.from);
    } else {
        profiles.from = MadeProfile(*lcms, description);
        if (profiles.from == nullptr) return storedBecause(engineSays("its primaries describe no colours"));
    }
    profiles.to = lcms->cmsCreate_sRGBProfile();
    if (profiles.to == nullptr) return storedBecause(engineSays("the colour engine could not start"));

    // The profile must describe the channels the picture has.
    // As a number: a damaged profile may name a space the enumeration does not have.
    cmsUInt32Number space = static_cast<cmsUInt32Number>(lcms->cmsGetColorSpace(profiles.from));
    bool inks = kind == ColourSamples::kCmyk8 || kind == ColourSamples::kInvertedCmyk8;
    bool fits = inks ? space == cmsSigCmykData : space == cmsSigRgbData || (space == cmsSigGrayData && greyOnly);
    if (!fits) {
        return storedBecause(std::string("it describes ") + SpaceName(space) + " colours, the picture holds " +
                             (inks ? "CMYK" : space == cmsSigGrayData ? "colours" : "RGB"));
    }
    // No cache of the last pixel: the transform is then safe to share between threads. 8-bit RGB
    // goes through the engine's exact shortcut for matrix-and-curve profiles when the tables cannot
    // stand in for it; 16-bit samples and inks would go through a sampled table, whose steps show
    // in the dark tones, so their profile is evaluated as it stands. The tables are checked
    // against the profile evaluated as it stands too: preparing the shortcut costs more than
    // checking through the slow form.
    const cmsUInt32Number inputType = InputType(kind, space == cmsSigGrayData);
    const bool rgb8 = kind == ColourSamples::kRgba8 && space == cmsSigRgbData;
    transform = lcms->cmsCreateTransform(profiles.from, inputType, profiles.to, TYPE_RGBA_8, INTENT_PERCEPTUAL,
                                         cmsFLAGS_NOCACHE | cmsFLAGS_NOOPTIMIZE);
    if (transform == nullptr) return storedBecause(engineSays("the colour engine cannot convert from it"));
    fast = rgb8 && separable.Build(*lcms, profiles.from, transform, withCurves);
    if (!fast && kind == ColourSamples::kRgba8) {
        lcms->cmsDeleteTransform(static_cast<cmsHTRANSFORM>(transform));
        transform = lcms->cmsCreateTransform(profiles.from, inputType, profiles.to, TYPE_RGBA_8, INTENT_PERCEPTUAL,
                                             cmsFLAGS_NOCACHE);
        if (transform == nullptr) return storedBecause(engineSays("the colour engine cannot convert from it"));
    }
    out.colourNote = "converted to sRGB from " + description.source + (name.empty() ? "" : " \"" + name + "\"");
    out.colourWarning = false;
    return true;
}

void ColourConversion::ConvertRun(const unsigned char* in, unsigned char* out, size_t pixels) const {
    // lcms2 leaves the fourth byte of its RGBA output alone: alpha stays where it was converted
    // in place, and is set here otherwise.
    const size_t chunk = 4096;
    const size_t inBytes = samples == ColourSamples::kRgba16 ? 8 : 4;
    if (fast) return separable.Apply(in, out, pixels);
    for (size_t done = 0; done < pixels; done += chunk) {
        size_t count = pixels - done < chunk ? pixels - done : chunk;
        const unsigned char* from = in + done * inBytes;
        unsigned char* to = out + done * 4;
        lcms->cmsDoTransform(static_cast<cmsHTRANSFORM>(transform), from, to, static_cast<cmsUInt32Number>(count));
        if (samples == ColourSamples::kRgba16) {
            for (size_t i = 0; i < count; ++i) {
                uint16_t alpha;
                std::memcpy(&alpha, from + 8 * i + 6, 2);
                to[4 * i + 3] = static_cast<unsigned char>((alpha * 255u + 32767u) / 65535u);
            }
        } else if (samples != ColourSamples::kRgba8) {
            for (size_t i = 0; i < count; ++i) to[4 * i + 3] = 255;
        } else if (from != to) {
            for (size_t i = 0; i < count; ++i) to[4 * i + 3] = from[4 * i + 3];
        }
    }
}

void ColourConversion::Convert(const void* in, unsigned char* out, size_t pixels) const {
    if (transform == nullptr) return;
    const unsigned char* from = static_cast<const unsigned char*>(in);
    const size_t inBytes = samples == ColourSamples::kRgba16 ? 8 : 4;
    if (pixels < kSharedRun) return ConvertRun(from, out, pixels);
    Run second = {this, from + pixels / 2 * inBytes, out + pixels / 2 * 4, pixels - pixels / 2,
                  [](const ColourConversion* self, const void* i, unsigned char* o, size_t n) {
                      self->ConvertRun(static_cast<const unsigned char*>(i), o, n);
                  }};
    pthread_t thread;
    bool threaded = pthread_create(&thread, nullptr, [](void* run) -> void* {
        Run* r = static_cast<Run*>(run);
        r->convert(r->conversion, r->in, r->out, r->pixels);
        return nullptr;
    }, &second) == 0;
    ConvertRun(from, out, pixels / 2);
    if (threaded) {
        pthread_join(thread, nullptr);
    } else {
        ConvertRun(from + pixels / 2 * inBytes, out + pixels / 2 * 4, pixels - pixels / 2);
    }
}

bool AllGrey(const unsigned char* pixels, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const unsigned char* p = pixels + 4 * i;
        if (p[0] != p[1] || p[1] != p[2]) return false;
    }
    return true;
}

void ConvertDecodedColours(const ColourDescription& description, DecodedImage& out) {
    if (out.keepStoredColour || out.colourSeenTo) return;
    out.colourSeenTo = true;
    if (!description.NeedsConversion() && description.kind != ColourDescription::Kind::kUnusable) return;
    size_t pixels = static_cast<size_t>(out.width) * static_cast<size_t>(out.height);
    ColourConversion conversion;
    if (conversion.Prepare(description, ColourSamples::kRgba8, AllGrey(out.Pixels(), pixels), out)) {
        conversion.Convert(out.Pixels(), out.Pixels(), pixels);
    }
}

void ConvertDecodedColours(const unsigned char* data, size_t size, ImageFormat format, DecodedImage& out) {
    if (out.keepStoredColour || out.colourSeenTo) return;
    ColourDescription description;
    FindColourDescription(data, size, format, description);
    ConvertDecodedColours(description, out);
}

bool PrepareRowConversion(const unsigned char* data, size_t size, ImageFormat format, bool grey,
                          ColourConversion& conversion, DecodedImage& out) {
    if (out.keepStoredColour) return false;
    ColourDescription description;
    FindColourDescription(data, size, format, description);
    if (!description.NeedsConversion() && description.kind != ColourDescription::Kind::kUnusable) return false;
    out.colourSeenTo = true;
    return conversion.Prepare(description, ColourSamples::kRgba8, grey, out);
}

bool ConvertInks(const unsigned char* data, size_t size, bool inverted, DecodedImage& out) {
    if (out.keepStoredColour) return false;
    ColourDescription description;
    FindColourDescription(data, size, ImageFormat::kJpeg, description);
    out.colourSeenTo = true;
    if (description.kind != ColourDescription::Kind::kProfile && description.kind != ColourDescription::Kind::kUnusable) {
        return false;
    }
    ColourConversion conversion;
    if (!conversion.Prepare(description, inverted ? ColourSamples::kInvertedCmyk8 : ColourSamples::kCmyk8, false, out)) {
        return false;
    }
    conversion.Convert(out.Pixels(), out.Pixels(), static_cast<size_t>(out.width) * static_cast<size_t>(out.height));
    return true;
}

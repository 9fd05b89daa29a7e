// Pictures converted to sRGB as their colour description says, by lcms2 with the perceptual
// intent, before the window, the renderer or a script sees their numbers. A description the
// engine refuses, or one that does not describe the picture's channels (a CMYK profile in an
// RGB picture, a grey one in a colour picture), leaves the picture as stored, with a warning that
// says why: a viewer shows such a picture too, and its numbers are still the picture's.
// Untrusted profiles: runs only inside the decoding helper.
#pragma once

#include <cstddef>
#include <string>

#include "decoder/colour_description.h"
#include "decoder/colour_separable.h"
#include "decoder/decoded_image.h"

// How the samples to convert lie in memory, four to a pixel.
enum class ColourSamples {
    kRgba8,           // 8-bit RGBA (grey pictures with R = G = B)
    kRgba16,          // 16-bit RGBA in the machine's byte order
    kCmyk8,           // 8-bit inks, 255 = full ink
    kInvertedCmyk8,   // 8-bit inks stored inverted, 0 = full ink (Adobe's JPEGs)
};

class ColourConversion {
public:
    ColourConversion() = default;
    ~ColourConversion();
    ColourConversion(const ColourConversion&) = delete;
    ColourConversion& operator=(const ColourConversion&) = delete;

    // Prepares converting `samples` described by `description` (one that NeedsConversion, or is
    // kUnusable). True when Convert is to be called, with `out.colourNote` naming what it
    // converts from; false when the picture stays as stored, with the warning in `out`.
    // `greyOnly` says that every pixel has R = G = B, which a grey profile needs.
    bool Prepare(const ColourDescription& description, ColourSamples samples, bool greyOnly, DecodedImage& out);

    // Converts `pixels` pixels at `in` to 8-bit sRGB RGBA at `out` (which may be `in` for kRgba8
    // and the CMYK kinds): alpha kept, 255 for inks. Large runs are shared with a second thread.
    void Convert(const void* in, unsigned char* out, size_t pixels) const;

    // Set before Prepare: false keeps 8-bit RGB on the tables rather than the polynomials.
    bool withCurves = true;
    // After Prepare: how 8-bit RGB is converted, "curves" (the polynomials), "tables" or "engine".
    const char* Form() const { return !fast ? "engine" : separable.UsesCurves() ? "curves" : "tables"; }

private:
    void ConvertRun(const unsigned char* in, unsigned char* out, size_t pixels) const;

    void* transform = nullptr;
    const struct LcmsLibrary* lcms = nullptr;
    ColourSamples samples = ColourSamples::kRgba8;
    SeparableRgb separable;  // the fast form, for 8-bit RGB
    bool fast = false;
};

// Converts the 8-bit RGBA pixels of `out` in place as `description` says (or warns why not), unless
// the caller asked for the stored numbers; marks the colours as seen to either way.
void ConvertDecodedColours(const ColourDescription& description, DecodedImage& out);

// For a JPEG's inks: converts the CMYK samples in `out` (four bytes a pixel, `inverted` as Adobe
// stores them) to sRGB RGBA in place by the file's own profile. False when the file has none,
// the caller asked for the stored numbers or the profile could not be used (with the warning):
// the caller then turns the inks into light without a profile.
bool ConvertInks(const unsigned char* data, size_t size, bool inverted, DecodedImage& out);

// For decoders that pass their rows through PixelRows: when the file `data` of `format` describes
// its colours other than as sRGB, prepares `conversion` for its 8-bit RGBA rows and returns true
// (the colours are then seen to; a warning instead leaves `conversion` unprepared and returns
// false). `grey` says that the picture's rows have R = G = B.
bool PrepareRowConversion(const unsigned char* data, size_t size, ImageFormat format, bool grey,
                          ColourConversion& conversion, DecodedImage& out);

// The step after a decoder that made 8-bit RGBA: the pixels of `out` converted in place as the
// file's description says (FindColourDescription), unless the caller asked for the stored
// numbers or the decoder has seen to the colours itself. Nothing is done for untagged and sRGB
// pictures.
void ConvertDecodedColours(const unsigned char* data, size_t size, ImageFormat format, DecodedImage& out);

// True when every pixel of the 8-bit RGBA `pixels` has R = G = B.
bool AllGrey(const unsigned char* pixels, size_t count);

// The colour path on arbitrary bytes: the profile parsers of every container, then the bytes as
// an ICC profile converting 8-bit RGB, 16-bit RGB and CMYK pixels, as the helper would. Nothing
// may crash, hang or read outside its bytes; a profile the engine refuses is a warning.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "decoder/colour_convert.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ColourDescription found;
    for (ImageFormat format : {ImageFormat::kPng, ImageFormat::kJpeg, ImageFormat::kTiff, ImageFormat::kWebp}) {
        FindColourDescription(data, size, format, found);
    }
    MayNeedColourEngine(data, size, ImageFormat::kHeif);
    ColourDescription profile = ProfileDescription(data, size, "the fuzzed profile");
    if (!profile.NeedsConversion()) return 0;
    const int width = 37, height = 5;
    std::vector<unsigned char> wide(static_cast<size_t>(width) * height * 8);
    for (size_t i = 0; i < wide.size(); ++i) wide[i] = static_cast<unsigned char>(i * 131);
    for (ColourSamples samples : {ColourSamples::kRgba8, ColourSamples::kRgba16, ColourSamples::kInvertedCmyk8}) {
        DecodedImage out;
        out.width = width, out.height = height;
        out.rgba.assign(wide.begin(), wide.begin() + width * height * 4);
        ColourConversion conversion;
        if (conversion.Prepare(profile, samples, false, out)) {
            conversion.Convert(samples == ColourSamples::kRgba16 ? wide.data() : out.rgba.data(), out.rgba.data(),
                               static_cast<size_t>(width) * height);
        }
    }
    return 0;
}

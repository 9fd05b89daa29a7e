// Pictures that describe their colours, read through the helper, against ImageMagick's own
// conversion of the same file to sRGB; untagged and sRGB pictures untouched; profiles that lie or
// are damaged leave the picture as stored, with the reason.
#include <gtest/gtest.h>
#include <lcms2.h>
#include <libheif/heif.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <vector>

#include "decoder/colour_convert.h"
#include "decoder/colour_description.h"
#include "decoder/magick_support.h"
#include "hwy/targets.h"
#include "image/decode_client.h"
#include "image/image_file.h"
#include "support/decode_bytes.h"
#include "support/display_p3.h"
#include "support/temp_folder.h"

namespace {

const std::string kIcc = "/usr/share/color/icc/";
const std::string kSrgb = kIcc + "sRGB.icc";

// A smooth picture with saturated corners, as photographs have, where conversions differ most.
DecodedImage Scene(int width, int height) {
    DecodedImage scene;
    scene.width = width, scene.height = height;
    scene.rgba.resize(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned char* p = &scene.rgba[(static_cast<size_t>(y) * width + x) * 4];
            p[0] = static_cast<unsigned char>(255 * x / (width - 1));
            p[1] = static_cast<unsigned char>(255 * y / (height - 1));
            p[2] = static_cast<unsigned char>(255 - 255 * (x + y) / (width + height - 2));
            p[3] = 255;
        }
    }
    return scene;
}

std::vector<unsigned char> Bytes(const std::string& text) { return std::vector<unsigned char>(text.begin(), text.end()); }

// `picture` as a lossless AVIF with an ICC profile or, when `profile` is empty, an nclx box saying
// Display P3 primaries and sRGB's curve.
bool WriteAvif(const DecodedImage& picture, const std::vector<unsigned char>& profile, const std::string& path) {
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_image* image = nullptr;
    bool ok = heif_context_get_encoder_for_format(context, heif_compression_AV1, &encoder).code == heif_error_Ok &&
              heif_image_create(picture.width, picture.height, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, &image)
                      .code == heif_error_Ok &&
              heif_image_add_plane(image, heif_channel_interleaved, picture.width, picture.height, 8).code == heif_error_Ok;
    if (ok) {
        int stride = 0;
        uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
        for (int y = 0; y < picture.height; ++y) {
            std::memcpy(plane + static_cast<size_t>(y) * stride, &picture.rgba[static_cast<size_t>(y) * picture.width * 4],
                        static_cast<size_t>(picture.width) * 4);
        }
        heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
        nclx->color_primaries = heif_color_primaries_SMPTE_EG_432_1;
        nclx->transfer_characteristics = heif_transfer_characteristic_IEC_61966_2_1;
        nclx->matrix_coefficients = heif_matrix_coefficients_RGB_GBR;
        nclx->full_range_flag = 1;
        if (profile.empty()) {
            ok = heif_image_set_nclx_color_profile(image, nclx).code == heif_error_Ok;
        } else {
            ok = heif_image_set_raw_color_profile(image, "prof", profile.data(), profile.size()).code == heif_error_Ok;
        }
        heif_encoder_set_lossless(encoder, 1);
        heif_encoder_set_parameter(encoder, "chroma", "444");
        heif_encoding_options* options = heif_encoding_options_alloc();
        options->output_nclx_profile = nclx;  // GBR at full range: lossless RGB
        ok = ok && heif_context_encode_image(context, image, encoder, options, nullptr).code == heif_error_Ok &&
             heif_context_write_to_file(context, path.c_str()).code == heif_error_Ok;
        heif_encoding_options_free(options);
        heif_nclx_color_profile_free(nclx);
    }
    if (image != nullptr) heif_image_release(image);
    if (encoder != nullptr) heif_encoder_release(encoder);
    heif_context_free(context);
    return ok;
}

// Mean and 99th percentile of the RGB differences between two pictures of one size.
struct Differences {
    double mean = 1e9;
    int p99 = 256;
};

Differences Compare(const unsigned char* a, const DecodedImage& b) {
    std::vector<int> counts(256, 0);
    size_t total = 0, sum = 0;
    for (size_t i = 0; i < b.PixelBytes(); ++i) {
        if (i % 4 == 3) continue;
        int d = std::abs(static_cast<int>(a[i]) - static_cast<int>(b.Pixels()[i]));
        ++counts[static_cast<size_t>(d)], ++total, sum += static_cast<size_t>(d);
    }
    Differences result;
    result.mean = total > 0 ? static_cast<double>(sum) / static_cast<double>(total) : 1e9;
    size_t seen = 0;
    for (int d = 0; d < 256; ++d) {
        seen += static_cast<size_t>(counts[static_cast<size_t>(d)]);
        if (seen * 100 >= total * 99) {
            result.p99 = d;
            break;
        }
    }
    return result;
}

struct TaggedFile {
    const char* name;     // the file made; its extension picks the format
    const char* profile;  // under /usr/share/color/icc, or "P3" for the tests' own
    const char* options;  // ImageMagick options for the tagged file
};

void PrintTo(const TaggedFile& made, std::ostream* os) { *os << made.name; }

class ColourAgainstMagick : public ::testing::TestWithParam<TaggedFile> {};

// ImageMagick converts the scene into the profile's space and embeds it (or, for AVIF, the test
// writes the converted pixels with libheif); the helper's picture must match ImageMagick's
// conversion of that file back to sRGB.
TEST_P(ColourAgainstMagick, ConvertsAsImageMagickDoes) {
    const TaggedFile& made = GetParam();
    if (FindTool("convert").empty()) GTEST_SKIP() << "needs ImageMagick's convert (scripts/deps.sh)";
    TempFolder folder;
    std::string profile = std::string(made.profile) == "P3" ? folder.File("P3.icc") : kIcc + made.profile;
    if (std::string(made.profile) == "P3") {
        std::string p3 = DisplayP3Profile();
        ASSERT_FALSE(p3.empty());
        WriteWholeFile(profile, p3);
    }
    std::string scene = folder.File("scene.png"), path = folder.File(made.name), reference = folder.File("reference.png");
    ASSERT_TRUE(MagickWrite(Scene(300, 200), "", scene));
    std::string name = made.name;
    bool avif = name.size() > 5 && name.substr(name.size() - 5) == ".avif";
    if (avif) {
        // The scene in the profile's space, as 8-bit samples, into an AVIF that says so.
        std::string converted = folder.File("converted.png");
        DecodedImage pixels;
        ASSERT_TRUE(RunQuiet("convert " + scene + " -profile " + kSrgb + " -profile " + profile + " " + converted));
        ASSERT_TRUE(MagickDecode(converted, false, pixels));
        ASSERT_TRUE(WriteAvif(pixels, name.find("nclx") != std::string::npos ? std::vector<unsigned char>()
                                                                              : Bytes(ReadWholeFile(profile)),
                              path));
        // The reference starts from the pixels as the AVIF stores them, codec losses and all.
        CPixelImage stored;
        ImageColour keep;
        keep.keepStored = true;
        std::string reason, storedPath = folder.File("stored.png");
        ASSERT_EQ(ReadImageFile(path, stored, reason, &keep), 0) << reason;
        DecodedImage storedPixels;
        storedPixels.width = stored.width, storedPixels.height = stored.height;
        storedPixels.rgba.assign(stored.pixels, stored.pixels + stored.ByteCount());
        ASSERT_TRUE(MagickWrite(storedPixels, "", storedPath));
        ASSERT_TRUE(RunQuiet("convert " + storedPath + " -profile " + profile + " -profile " + kSrgb + " -depth 8 " +
                             reference));
    } else {
        ASSERT_TRUE(RunQuiet("convert " + scene + " -profile " + kSrgb + " -profile " + profile + " " + made.options +
                             " " + path));
        ASSERT_TRUE(RunQuiet("convert " + path + " -profile " + kSrgb + " -depth 8 " + reference));
    }
    DecodedImage expected;
    ASSERT_TRUE(MagickDecode(reference, false, expected));

    CPixelImage read, stored;
    ImageColour colour, keep;
    keep.keepStored = true;
    std::string reason;
    ASSERT_EQ(ReadImageFile(path, read, reason, &colour), 0) << reason;
    ASSERT_EQ(ReadImageFile(path, stored, reason, &keep), 0) << reason;
    ASSERT_TRUE(read.width == expected.width && read.height == expected.height);
    Differences converted = Compare(read.pixels, expected), asStored = Compare(stored.pixels, expected);
    EXPECT_LE(converted.mean, 1.5) << colour.note;
    EXPECT_LE(converted.p99, 4) << colour.note;
    EXPECT_FALSE(colour.warning);
    EXPECT_EQ(colour.note.rfind("converted to sRGB from ", 0), 0u) << colour.note;
    // The stored numbers are another picture, and the note does not claim a conversion.
    EXPECT_GT(asStored.mean, 3 * std::max(converted.mean, 0.5));
    EXPECT_TRUE(keep.note.empty()) << keep.note;
}

std::string TaggedName(const ::testing::TestParamInfo<TaggedFile>& info) {
    std::string name = info.param.name;
    for (char& c : name) {
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Profiles, ColourAgainstMagick, ::testing::Values(
    TaggedFile{"p3.jpg", "P3", "-quality 95"},
    TaggedFile{"adobe.png", "colord/AdobeRGB1998.icc", ""},
    TaggedFile{"adobe16.png", "colord/AdobeRGB1998.icc", "-depth 16"},
    TaggedFile{"prophoto16.tif", "colord/ProPhotoRGB.icc", "-depth 16"},
    TaggedFile{"prophoto16_tiled.tif", "colord/ProPhotoRGB.icc", "-depth 16 -define tiff:tile-geometry=64x48"},
    TaggedFile{"prophoto16_planar.tif", "colord/ProPhotoRGB.icc", "-depth 16 -interlace plane"},
    TaggedFile{"press.jpg", "ghostscript/ps_cmyk.icc", "-quality 95"},
    TaggedFile{"adobe.webp", "colord/AdobeRGB1998.icc", "-define webp:lossless=true"},
    TaggedFile{"swapped.png", "colord/SwappedRedAndGreen.icc", ""},
    TaggedFile{"p3.avif", "P3", ""},
    TaggedFile{"p3_nclx.avif", "P3", ""}), TaggedName);

// Reads `path` converted and as stored: 0 with both, the note of the converted read in `colour`.
int ReadBoth(const std::string& path, CPixelImage& read, CPixelImage& stored, ImageColour& colour, std::string& reason) {
    ImageColour keep;
    keep.keepStored = true;
    if (ReadImageFile(path, read, reason, &colour) != 0) return -1;
    return ReadImageFile(path, stored, reason, &keep);
}

bool SamePixels(const CPixelImage& a, const CPixelImage& b) {
    return a.width == b.width && a.height == b.height && std::memcmp(a.pixels, b.pixels, a.ByteCount()) == 0;
}

// A grey profile made by lcms2: D50 white and light in proportion to the numbers.
std::string LinearGreyProfile() {
    cmsToneCurve* line = cmsBuildGamma(nullptr, 1.0);
    cmsHPROFILE profile = cmsCreateGrayProfile(cmsD50_xyY(), line);
    cmsFreeToneCurve(line);
    cmsUInt32Number size = 0;
    std::string bytes;
    if (profile != nullptr && cmsSaveProfileToMem(profile, nullptr, &size)) {
        bytes.resize(size);
        if (!cmsSaveProfileToMem(profile, &bytes[0], &size)) bytes.clear();
    }
    if (profile != nullptr) cmsCloseProfile(profile);
    return bytes;
}

// `png` with `profile` in an iCCP chunk after its header: ImageMagick writes no profile into a
// grey PNG.
std::string WithPngProfile(const std::string& png, const std::string& profile) {
    std::vector<unsigned char> packed(compressBound(profile.size()));
    uLongf packedSize = packed.size();
    if (compress(packed.data(), &packedSize, BytesOf(profile), profile.size()) != Z_OK) return std::string();
    std::string chunk = std::string("iCCPgrey") + '\0' + '\0' + std::string(packed.begin(), packed.begin() + packedSize);
    auto big = [](uint32_t n) {
        return std::string{static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8), static_cast<char>(n)};
    };
    uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(chunk.data()), static_cast<uInt>(chunk.size()));
    const size_t afterHeader = 8 + 8 + 13 + 4;
    return png.substr(0, afterHeader) + big(static_cast<uint32_t>(chunk.size() - 4)) + chunk + big(crc) + png.substr(afterHeader);
}

// Grey pictures that carry a grey profile, in every depth and layout the decoders read them in:
// as ImageMagick converts them to sRGB.
TEST(ColourGrey, GreyPicturesConvertByTheirGreyProfile) {
    if (FindTool("convert").empty()) GTEST_SKIP() << "needs ImageMagick's convert (scripts/deps.sh)";
    TempFolder folder;
    std::string scene = folder.File("scene.png"), linear = folder.File("linear.icc");
    ASSERT_TRUE(MagickWrite(Scene(300, 200), "", scene));
    std::string linearBytes = LinearGreyProfile();
    ASSERT_FALSE(linearBytes.empty());
    WriteWholeFile(linear, linearBytes);
    const struct {
        const char* name;
        std::string options;
    } layouts[] = {
        {"grey.png", "-depth 8"},
        {"grey16.png", "-depth 16"},
        {"grey.jpg", "-quality 95"},
        {"grey.tif", "-depth 8"},
        {"grey16.tif", "-depth 16"},
        {"grey16_tiled.tif", "-depth 16 -define tiff:tile-geometry=64x48"},
    };
    for (const std::string& profile : {linear, kIcc + "Gray-CIE_L.icc"}) {
        for (const auto& layout : layouts) {
            std::string what = std::string(layout.name) + " with " + profile;
            std::string path = folder.File(layout.name), reference = folder.File("reference.png");
            // The scene's grey numbers, said to be in the profile's space.
            ASSERT_TRUE(RunQuiet("convert " + scene + " -colorspace Gray -strip -type Grayscale -profile " + profile + " " +
                                 layout.options + " " + path)) << what;
            if (path.substr(path.size() - 4) == ".png") WriteWholeFile(path, WithPngProfile(ReadWholeFile(path), ReadWholeFile(profile)));
            ASSERT_TRUE(RunQuiet("convert " + path + " -profile " + kSrgb + " -depth 8 " + reference)) << what;
            DecodedImage expected;
            ASSERT_TRUE(MagickDecode(reference, false, expected)) << what;
            CPixelImage read, stored;
            ImageColour colour;
            std::string reason;
            ASSERT_EQ(ReadBoth(path, read, stored, colour, reason), 0) << what << ": " << reason;
            ASSERT_TRUE(read.width == expected.width && read.height == expected.height) << what;
            Differences converted = Compare(read.pixels, expected), asStored = Compare(stored.pixels, expected);
            EXPECT_LE(converted.mean, 1.5) << what << ": " << colour.note;
            EXPECT_LE(converted.p99, 4) << what << ": " << colour.note;
            EXPECT_GT(asStored.mean, 3 * std::max(converted.mean, 0.5)) << what;
            EXPECT_FALSE(colour.warning) << what << ": " << colour.note;
        }
    }
}

// Pictures that say nothing, or say sRGB in any of the usual ways, come as stored and without a note.
TEST(ColourUntouched, UntaggedAndSrgbPicturesReadAsStored) {
    if (FindTool("convert").empty()) GTEST_SKIP() << "needs ImageMagick's convert (scripts/deps.sh)";
    TempFolder folder;
    std::string scene = folder.File("scene.png");
    ASSERT_TRUE(MagickWrite(Scene(120, 80), "", scene));
    const struct {
        const char* name;
        std::string options;
    } cases[] = {
        {"plain.png", "-strip"},
        {"plain.jpg", "-strip"},
        {"plain16.tif", "-strip -depth 16"},
        {"chunk.png", "-strip -define png:include-chunk=sRGB -intent perceptual"},
        {"gama.png", "-strip -define png:include-chunk=gAMA,cHRM"},
        {"srgb.jpg", "-profile " + kSrgb},
        {"srgb16.png", "-profile " + kSrgb + " -depth 16"},
        {"colord.webp", "-profile " + kIcc + "colord/sRGB.icc -define webp:lossless=true"},
        {"ghostscript.tif", "-profile " + kIcc + "ghostscript/srgb.icc"},
    };
    for (const auto& c : cases) {
        std::string path = folder.File(c.name);
        ASSERT_TRUE(RunQuiet("convert " + scene + " " + c.options + " " + path)) << c.name;
        CPixelImage read, stored;
        ImageColour colour;
        std::string reason;
        ASSERT_EQ(ReadBoth(path, read, stored, colour, reason), 0) << c.name << ": " << reason;
        EXPECT_TRUE(SamePixels(read, stored)) << c.name;
        EXPECT_TRUE(colour.note.empty()) << c.name << ": " << colour.note;
    }
    for (const char* srgb : {"sRGB.icc", "colord/sRGB.icc", "ghostscript/srgb.icc"}) {
        std::string bytes = ReadWholeFile(kIcc + srgb);
        EXPECT_TRUE(IsSrgbProfile(BytesOf(bytes), bytes.size())) << srgb;
    }
    for (const char* other : {"colord/AdobeRGB1998.icc", "colord/SwappedRedAndGreen.icc", "colord/Rec709.icc"}) {
        std::string bytes = ReadWholeFile(kIcc + other);
        EXPECT_FALSE(IsSrgbProfile(BytesOf(bytes), bytes.size())) << other;
    }
}

// `jpeg` with `profile` in APP2 segments of at most `part` bytes each, numbered of `count`
// (0: as many as there are).
std::string WithJpegProfile(const std::string& jpeg, const std::string& profile, size_t part, int count = 0) {
    std::string segments;
    size_t parts = (profile.size() + part - 1) / part;
    for (size_t i = 0; i < parts; ++i) {
        std::string body = std::string("ICC_PROFILE") + '\0' + static_cast<char>(i + 1) +
                           static_cast<char>(count > 0 ? count : static_cast<int>(parts)) + profile.substr(i * part, part);
        size_t length = body.size() + 2;
        segments += std::string("\xFF\xE2") + static_cast<char>(length >> 8) + static_cast<char>(length & 0xFF) + body;
    }
    return jpeg.substr(0, 2) + segments + jpeg.substr(2);
}

// Profiles that lie about the picture or are damaged: the picture comes as stored, with a
// warning that says why; never a refusal, never a crash.
TEST(ColourWarnings, UnusableProfilesLeaveThePictureAsStored) {
    if (FindTool("convert").empty()) GTEST_SKIP() << "needs ImageMagick's convert (scripts/deps.sh)";
    TempFolder folder;
    std::string plain = folder.File("plain.jpg");
    ASSERT_TRUE(MagickWrite(Scene(120, 80), "-strip -quality 90", plain));
    std::string jpeg = ReadWholeFile(plain), adobe = ReadWholeFile(kIcc + "colord/AdobeRGB1998.icc");
    std::string garbage(3000, '\0');
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>(i * 7919 % 251);
    const struct {
        const char* name;
        std::string bytes;
        const char* says;
    } cases[] = {
        {"cmyk profile", WithJpegProfile(jpeg, ReadWholeFile(kIcc + "ghostscript/ps_cmyk.icc"), 60000),
         "it describes CMYK colours, the picture holds RGB"},
        {"grey profile", WithJpegProfile(jpeg, ReadWholeFile(kIcc + "Gray.icc"), 60000),
         "it describes grey colours, the picture holds colours"},
        {"Lab profile", WithJpegProfile(jpeg, ReadWholeFile(kIcc + "ITULab.icc"), 60000), "it describes Lab colours"},
        {"cut short", WithJpegProfile(jpeg, adobe.substr(0, 300), 60000), "the colour engine"},
        {"garbage", WithJpegProfile(jpeg, garbage, 60000), "the colour engine refuses it"},
        {"part missing", WithJpegProfile(jpeg, adobe, 60000, 2), "its part 2 of 2 is missing"},
        {"numbered wrongly", WithJpegProfile(jpeg, adobe, 100, 3), "its segments are numbered wrongly"},
    };
    for (const auto& c : cases) {
        std::string path = folder.File("lying.jpg");
        WriteWholeFile(path, c.bytes);
        CPixelImage read, stored;
        ImageColour colour;
        std::string reason;
        ASSERT_EQ(ReadBoth(path, read, stored, colour, reason), 0) << c.name << ": " << reason;
        EXPECT_TRUE(SamePixels(read, stored)) << c.name;
        EXPECT_TRUE(colour.warning) << c.name;
        EXPECT_NE(colour.note.find(c.says), std::string::npos) << c.name << ": " << colour.note;
        EXPECT_EQ(colour.note.rfind("colours as stored: the JPEG's ICC profile could not be used: ", 0), 0u) << colour.note;
    }
    // Profiles the fuzzer found faulting the colour path: each is read, as stored with a warning
    // or converted, never refused or crashed on.
    for (const auto& finding : std::filesystem::directory_iterator(QUARRO_COLOUR_FINDINGS)) {
        std::string path = folder.File("finding.jpg");
        WriteWholeFile(path, WithJpegProfile(jpeg, ReadWholeFile(finding.path().string()), 60000));
        CPixelImage read, stored;
        ImageColour colour;
        std::string reason;
        ASSERT_EQ(ReadBoth(path, read, stored, colour, reason), 0) << finding.path() << ": " << reason;
        EXPECT_TRUE(!colour.warning || SamePixels(read, stored)) << finding.path();
    }
    // A profile in many segments is put together again.
    std::string path = folder.File("parts.jpg");
    WriteWholeFile(path, WithJpegProfile(jpeg, adobe, 97));
    CPixelImage read, stored;
    ImageColour colour;
    std::string reason;
    ASSERT_EQ(ReadBoth(path, read, stored, colour, reason), 0) << reason;
    EXPECT_FALSE(colour.warning) << colour.note;
    EXPECT_FALSE(SamePixels(read, stored));
}

// An nclx box whose code points libheif refuses (the fuzzer's primaries 16385) says nothing
// usable: the picture is its stored pixels, and the box libheif handed over with its refusal
// is freed (the sanitizer builds' leak check sees this decode, made in this process).
TEST(ColourWarnings, AnNclxBoxLibheifRefusesLeavesThePictureAsStored) {
    TempFolder folder;
    std::string path = folder.File("made.avif");
    DecodedImage scene = Scene(40, 30);
    ASSERT_TRUE(WriteAvif(scene, std::vector<unsigned char>(), path));
    std::string bytes = ReadWholeFile(path);
    size_t colr = bytes.find("colrnclx");
    ASSERT_NE(colr, std::string::npos);
    bytes[colr + 8] = '\x40', bytes[colr + 9] = '\x01';
    DecodedImage out;
    std::string reason;
    ASSERT_EQ(DecodeWhole(bytes, "odd.avif", out, reason), 0) << reason;
    EXPECT_EQ(LargestDifference(out, scene), 0);
}

// The fast conversions of 8-bit RGB against lcms2's own transform on colours spread over the
// cube, a level apart at most: the curves (polynomials, or quadratics by segments where the
// vectors look them up) on every instruction set they were built for, where the profile's curves
// allow them, and the tables they stand in for; each converted in one run (vectors, or two pixels
// at a time where the sums fit 16 bits) and one pixel at a time, exactly alike.
TEST(ColourFast, EightBitRgbAsTheEngineConvertsIt) {
    struct Case {
        std::string profile;
        const char* form[2];  // the conversion's form with the curves allowed, and without
    };
    const Case cases[] = {{DisplayP3Profile(), {"curves", "tables"}},
                          {ReadWholeFile(kIcc + "colord/AdobeRGB1998.icc"), {"curves", "tables"}},
                          // Its red's light at full value overflows the tables' 16-bit sums.
                          {ReadWholeFile(kIcc + "colord/ProPhotoRGB.icc"), {"curves", "engine"}}};
    const size_t kPixels = 20001;
    std::vector<unsigned char> colours(4 * kPixels);
    uint32_t seed = 2024;
    for (unsigned char& c : colours) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<unsigned char>(seed >> 23);
    }
    for (const Case& c : cases) {
        ASSERT_FALSE(c.profile.empty());
        std::vector<unsigned char> engine(colours.size());
        cmsHPROFILE from = cmsOpenProfileFromMem(c.profile.data(), static_cast<cmsUInt32Number>(c.profile.size()));
        cmsHPROFILE to = cmsCreate_sRGBProfile();
        cmsHTRANSFORM transform = cmsCreateTransform(from, TYPE_RGBA_8, to, TYPE_RGBA_8, INTENT_PERCEPTUAL, cmsFLAGS_NOOPTIMIZE);
        ASSERT_NE(transform, nullptr);
        cmsDoTransform(transform, colours.data(), engine.data(), static_cast<cmsUInt32Number>(kPixels));
        cmsDeleteTransform(transform);
        cmsCloseProfile(from);
        cmsCloseProfile(to);
        ColourDescription description = ProfileDescription(BytesOf(c.profile), c.profile.size(), "the profile");
        for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
            hwy::SetSupportedTargetsForTest(target);
            for (int withCurves = 1; withCurves >= 0; --withCurves) {
                ColourConversion conversion;
                conversion.withCurves = withCurves == 1;
                DecodedImage note;
                ASSERT_TRUE(conversion.Prepare(description, ColourSamples::kRgba8, false, note)) << note.colourNote;
                const std::string where = note.colourNote + " on " + hwy::TargetName(target);
                EXPECT_STREQ(conversion.Form(), c.form[1 - withCurves]) << where;
                std::vector<unsigned char> whole(colours.size()), single(colours.size());
                conversion.Convert(colours.data(), whole.data(), kPixels);
                for (size_t i = 0; i < kPixels; ++i) conversion.Convert(&colours[4 * i], &single[4 * i], 1);
                EXPECT_EQ(whole, single) << where;
                int largest = 0;
                for (size_t i = 0; i < colours.size(); ++i) {
                    if (i % 4 == 3) {
                        EXPECT_EQ(whole[i], colours[i]);
                    } else {
                        largest = std::max(largest, std::abs(static_cast<int>(whole[i]) - static_cast<int>(engine[i])));
                    }
                }
                EXPECT_LE(largest, 1) << where;
            }
        }
        hwy::SetSupportedTargetsForTest(0);
    }
}

// A picture large enough for its rows to be converted on the helper's second thread, batch by
// batch, comes out exactly as the whole picture converted at once.
TEST(ColourRows, RowsConvertedOnTheWayEqualTheWholePictureConverted) {
    if (FindTool("convert").empty()) GTEST_SKIP() << "needs ImageMagick's convert (scripts/deps.sh)";
    TempFolder folder;
    std::string scene = folder.File("scene.png");
    ASSERT_TRUE(MagickWrite(Scene(1500, 1000), "", scene));
    for (const char* name : {"big.jpg", "big.png"}) {
        std::string path = folder.File(name);
        ASSERT_TRUE(RunQuiet("convert " + scene + " -profile " + kSrgb + " -profile " + kIcc +
                             "colord/AdobeRGB1998.icc -depth 8 " + path));
        std::string bytes = ReadWholeFile(path);
        DecodedImage whole;
        whole.keepStoredColour = true;
        std::string reason;
        ASSERT_EQ(DecodeWhole(bytes, path, whole, reason), 0) << reason;
        whole.keepStoredColour = false;
        ColourDescription description;
        FindColourDescription(BytesOf(bytes), bytes.size(), IdentifyImageFormat(BytesOf(bytes), bytes.size(), path),
                              description);
        ConvertDecodedColours(description, whole);
        ASSERT_FALSE(whole.colourWarning) << whole.colourNote;
        CPixelImage helped;
        ImageColour colour;
        ASSERT_EQ(ReadImageFile(path, helped, reason, &colour), 0) << reason;
        ASSERT_TRUE(helped.width == whole.width && helped.height == whole.height) << name;
        EXPECT_EQ(std::memcmp(helped.pixels, whole.Pixels(), whole.PixelBytes()), 0) << name;
        EXPECT_EQ(colour.note, whole.colourNote);
    }
}

}  // namespace

// The writers of the table of writable formats: every format read back by the program and by
// ImageMagick, alpha dropped for opaque pictures, settings refused in the table's words, and
// writers running on several threads at once.
#include "image/image_writers.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "decoder/magick_support.h"
#include "image/image_file.h"
#include "image/writable_formats.h"
#include "support/temp_folder.h"

namespace {

// What ImageMagick's identify says of `path` with `format` ("%[channels]"), or "" on failure.
std::string Identify(const std::string& path, const std::string& format) {
    const std::string said = path + ".said";
    const std::string command = "identify -format '" + format + "' '" + path + "' > '" + said + "' 2>/dev/null";
    const std::string text = std::system(command.c_str()) == 0 ? ReadWholeFile(said) : "";
    std::remove(said.c_str());
    return text;
}

// Noise for the lossless formats (any flip, shift or swap shows); a smooth picture for the
// lossy ones, which noise would turn into their worst case.
CPixelImage Picture(int width, int height, bool opaque, bool smooth) {
    CPixelImage image;
    image.Allocate(width, height, 4);
    std::mt19937 random(11);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned char* p = image.pixels + (static_cast<size_t>(y) * width + x) * 4;
            for (int k = 0; k < 4; ++k) {
                p[k] = smooth ? static_cast<unsigned char>((x * (k + 1) + y * (3 - k)) * 255 / (width + height) / 4)
                              : static_cast<unsigned char>(random());
            }
            if (opaque) p[3] = 255;
        }
    }
    return image;
}

// Mean and largest channel difference of `read` from `source`, alpha left out when `rgbOnly`.
void Difference(const CPixelImage& source, const unsigned char* read, bool rgbOnly, double& mean, int& largest) {
    double total = 0;
    size_t count = 0;
    largest = 0;
    for (size_t i = 0; i < source.ByteCount(); ++i) {
        if (rgbOnly && i % 4 == 3) continue;
        const int d = std::abs(source.pixels[i] - read[i]);
        total += d;
        ++count;
        largest = std::max(largest, d);
    }
    mean = total / static_cast<double>(count);
}

ImageWriteSettings Quality(int quality) {
    ImageWriteSettings settings;
    settings.quality = quality;
    return settings;
}
ImageWriteSettings Lossless() {
    ImageWriteSettings settings;
    settings.lossless = 1;
    return settings;
}
ImageWriteSettings Compression(const char* name) {
    ImageWriteSettings settings;
    settings.compression = name;
    return settings;
}
ImageWriteSettings Subsampling(const char* name) {
    ImageWriteSettings settings;
    settings.subsampling = name;
    return settings;
}

struct FormatCase {
    const char* label;
    const char* extension;
    ImageWriteSettings settings;
    bool lossless;
    // ImageMagick 6.9 reads a TGA whose rows start at the bottom (the format's usual order,
    // which the image library and Pillow read the right way up) upside down.
    bool magickReadsIt = true;
};

const std::vector<FormatCase>& FormatCases() {
    static const std::vector<FormatCase> cases = {
        {"png", "png", {}, true},
        {"png level 9", "png", [] { ImageWriteSettings s; s.level = 9; return s; }(), true},
        {"jpeg", "jpg", {}, false},
        {"jpeg 4:4:4 at 100", "jpeg", [] { ImageWriteSettings s = Subsampling("4:4:4"); s.quality = 100; return s; }(), false},
        {"tiff", "tif", {}, true},
        {"tiff lzw", "tiff", Compression("lzw"), true},
        {"tiff deflate", "tif", Compression("deflate"), true},
        {"tiff packbits", "tif", Compression("packbits"), true},
        {"bmp", "bmp", {}, true},
        {"tga", "tga", {}, true, false},
        {"webp lossless", "webp", Lossless(), true},
        {"webp", "webp", Quality(95), false},
        {"pcx (image library)", "pcx", {}, true},
        {"sgi (image library)", "sgi", {}, true},
        {"ppm (image library)", "ppm", {}, true},
    };
    return cases;
}

TEST(ImageWriters, EveryFormatRoundTripsThroughTheProgramAndAnIndependentReader) {
    if (FindTool("convert").empty()) GTEST_SKIP() << "ImageMagick's convert is missing";
    TempFolder folder;
    for (const FormatCase& c : FormatCases()) {
        const WritableFormat* format = WritableFormatNamed(c.extension);
        ASSERT_NE(nullptr, format) << c.label;
        for (bool opaque : {true, false}) {
            SCOPED_TRACE(std::string(c.label) + (opaque ? ", opaque" : ", with alpha"));
            const CPixelImage source = Picture(67, 43, opaque, !c.lossless);
            const std::string path = folder.File(std::string("out.") + c.extension);
            std::string reason;
            ASSERT_EQ(0, WriteImageFile(path, source, c.settings, reason)) << reason;
            // A format that holds no alpha gives back the colours of a transparent picture.
            const bool rgbOnly = format->alpha == AlphaWritten::Never;
            CPixelImage ours;
            ASSERT_EQ(0, ReadImageFile(path, ours, reason)) << reason;
            DecodedImage theirs;
            ASSERT_EQ(source.width, ours.width);
            ASSERT_EQ(source.height, ours.height);
            std::vector<const unsigned char*> reads = {ours.pixels};
            if (c.magickReadsIt) {
                ASSERT_TRUE(MagickDecode(path, false, theirs));
                ASSERT_EQ(source.width, theirs.width);
                ASSERT_EQ(source.height, theirs.height);
                reads.push_back(theirs.rgba.data());
            }
            for (const unsigned char* read : reads) {
                double mean = 0;
                int largest = 0;
                Difference(source, read, rgbOnly, mean, largest);
                if (c.lossless) {
                    EXPECT_EQ(0, largest) << (read == ours.pixels ? "the program's reader" : "ImageMagick");
                } else {
                    EXPECT_LT(mean, 2.0);
                }
                if (rgbOnly) {
                    for (size_t i = 3; i < source.ByteCount(); i += 4) ASSERT_EQ(255, read[i]) << "alpha at " << i / 4;
                }
            }
        }
    }
}

TEST(ImageWriters, OpaquePicturesAreWrittenWithoutAlpha) {
    if (FindTool("identify").empty()) GTEST_SKIP() << "ImageMagick's identify is missing";
    TempFolder folder;
    size_t count = 0;
    const WritableFormat* rows = WritableFormats(count);
    int checked = 0;
    for (size_t i = 0; i < count; ++i) {
        if (rows[i].alpha != AlphaWritten::UnlessOpaque) continue;
        const std::string extension = std::string(rows[i].extensions).substr(0, std::string(rows[i].extensions).find(' '));
        for (bool opaque : {true, false}) {
            const std::string path = folder.File("alpha." + extension);
            std::string reason;
            ASSERT_EQ(0, WriteImageFile(path, Picture(16, 9, opaque, false), ImageWriteSettings(), reason)) << reason;
            EXPECT_EQ(opaque ? "srgb" : "srgba", Identify(path, "%[channels]")) << extension << (opaque ? " opaque" : " with alpha");
            ++checked;
        }
    }
    EXPECT_EQ(10, checked);  // PNG, TIFF, BMP, TGA, WebP, each both ways
}

TEST(ImageWriters, JpegSettingsReachTheFile) {
    if (FindTool("identify").empty()) GTEST_SKIP() << "ImageMagick's identify is missing";
    TempFolder folder;
    const CPixelImage source = Picture(64, 48, true, false);
    struct Case {
        ImageWriteSettings settings;
        const char* sampling;
        const char* quality;
    } cases[] = {
        {{}, "2x2,1x1,1x1", "95"},
        {Subsampling("4:4:4"), "1x1,1x1,1x1", "95"},
        {Quality(40), "2x2,1x1,1x1", "40"},
    };
    for (const Case& c : cases) {
        const std::string path = folder.File("q.jpg");
        std::string reason;
        ASSERT_EQ(0, WriteImageFile(path, source, c.settings, reason)) << reason;
        EXPECT_EQ(std::string(c.sampling) + " " + c.quality, Identify(path, "%[jpeg:sampling-factor] %Q"));
    }
}

TEST(WritableFormats, SettingsAreRefusedInTheTablesWords) {
    struct Case {
        const char* extension;
        ImageWriteSettings settings;
        const char* problem;
    } cases[] = {
        {"jpg", Quality(95), ""},
        {"jpg", Quality(0), "JPEG quality 0 is not in 1..100"},
        {"jpg", Quality(101), "JPEG quality 101 is not in 1..100"},
        {"jpg", Subsampling("4:2:2"), "JPEG subsampling '4:2:2' is not 4:2:0 or 4:4:4"},
        {"png", [] { ImageWriteSettings s; s.level = 10; return s; }(), "PNG level 10 is not in 0..9"},
        {"png", [] { ImageWriteSettings s; s.level = -1; return s; }(), "PNG level -1 is not in 0..9"},
        {"png", Quality(90), "a PNG file takes no quality (it takes: level)"},
        {"tif", Compression("zip"), "TIFF compression 'zip' is not none, lzw, deflate or packbits"},
        {"bmp", Compression("lzw"), "a BMP file takes no compression (it takes no settings)"},
        {"webp", Quality(100), ""},
        {"webp", Quality(-5), "WebP quality -5 is not in 0..100"},
        {"webp", [] { ImageWriteSettings s = Lossless(); s.quality = 90; return s; }(), "a lossless WebP file takes no quality"},
        {"tga", Lossless(), "a TGA file takes no lossless (it takes no settings)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.problem, WriteSettingsProblem(*WritableFormatNamed(c.extension), c.settings)) << c.problem;
    }
    // A save with a refused setting writes nothing and says why.
    TempFolder folder;
    std::string reason;
    EXPECT_EQ(-1, WriteImageFile(folder.File("x.jpg"), Picture(4, 4, true, false), Quality(101), reason));
    EXPECT_EQ("JPEG quality 101 is not in 1..100", reason);
    EXPECT_NE(0, access(folder.File("x.jpg").c_str(), F_OK));
}

TEST(WritableFormats, NamesListsAndPatternsComeFromTheRows) {
    std::string reason;
    EXPECT_EQ(ImageWriter::Jpeg, WritableFormatOf("a/B.JPE", reason)->writer);
    EXPECT_EQ(ImageWriter::Library, WritableFormatOf("x.rgba", reason)->writer);
    EXPECT_EQ(nullptr, WritableFormatOf("x.gif", reason));
    EXPECT_EQ("no image format is written for the extension .gif (writable: " + WritableExtensionList() + ")", reason);
    EXPECT_EQ("png, jpg, tif, bmp, tga, webp, dds, pcx, pnm, psd, raw, sgi, hdr", WritableExtensionList());
    EXPECT_EQ("*.{png,bmp,jpg,jpeg,jpe,tif,tiff,tga,webp,dds,pcx,pnm,ppm,psd,raw,sgi,bw,rgb,rgba,hdr}",
              WithEveryWritableExtension("*.{png,bmp}"));
    EXPECT_EQ("*.mrf", WithEveryWritableExtension("*.mrf"));
    EXPECT_EQ("quality 1..100 (default 95), subsampling 4:2:0 or 4:4:4", WriteSettingsHelp(*WritableFormatNamed("jpg")));
}

// The dedicated writers share no state: several at once, each file whole and right.
// An opaque picture is written without alpha in one pass that stops at the first transparent
// pixel: one alone, wherever it sits (in a run of four pixels or in a row's last few, in the
// first row or the last), must still make a file with alpha.
TEST(ImageWriters, OneTransparentPixelAnywhereKeepsTheAlpha) {
    TempFolder folder;
    const struct {
        int x, y;
    } places[] = {{0, 0}, {66, 0}, {65, 21}, {3, 42}, {66, 42}};
    for (const char* extension : {"bmp", "tif"}) {
        for (const auto& place : places) {
            SCOPED_TRACE(std::string(extension) + " at " + std::to_string(place.x) + "," + std::to_string(place.y));
            CPixelImage source = Picture(67, 43, true, false);
            source.pixels[(static_cast<size_t>(place.y) * 67 + place.x) * 4 + 3] = 254;
            const std::string path = folder.File(std::string("one.") + extension);
            std::string reason;
            ASSERT_EQ(0, WriteImageFile(path, source, ImageWriteSettings(), reason)) << reason;
            CPixelImage back;
            ASSERT_EQ(0, ReadImageFile(path, back, reason)) << reason;
            ASSERT_EQ(source.ByteCount(), back.ByteCount());
            EXPECT_EQ(0, std::memcmp(source.pixels, back.pixels, source.ByteCount()));
        }
    }
}

// The renderer's encoder threads keep their buffer from frame to frame: what a buffer held
// before, longer or shorter, must not show in the next file.
TEST(ImageWriters, AKeptBufferGivesTheBytesOfAFreshOne) {
    const char* extensions[] = {"bmp", "tif", "jpg", "png"};
    for (const char* extension : extensions) {
        for (bool opaque : {true, false}) {
            SCOPED_TRACE(std::string(extension) + (opaque ? ", opaque" : ", with alpha"));
            const WritableFormat& format = *WritableFormatNamed(extension);
            const CPixelImage source = Picture(67, 43, opaque, false);
            std::string reason;
            std::vector<unsigned char> fresh;
            ASSERT_EQ(0, EncodeImage(format, ImageWriteSettings(), source, fresh, reason)) << reason;
            for (size_t held : {fresh.size() / 2, fresh.size() + 999}) {
                std::vector<unsigned char> kept(held, 0xA5);
                ASSERT_EQ(0, EncodeImage(format, ImageWriteSettings(), source, kept, reason)) << reason;
                EXPECT_TRUE(kept == fresh) << "after a buffer of " << held << " bytes";
            }
        }
    }
}

TEST(ImageWriters, WritersRunOnSeveralThreadsAtOnce) {
    TempFolder folder;
    const char* extensions[] = {"png", "tif", "bmp", "tga", "webp", "jpg"};
    const CPixelImage source = Picture(96, 64, false, false);
    std::vector<std::thread> threads;
    std::vector<std::string> failures(6);
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            ImageWriteSettings settings;
            if (t == 4) settings.lossless = 1;
            for (int round = 0; round < 5; ++round) {
                std::vector<unsigned char> bytes;
                std::string reason;
                if (EncodeImage(*WritableFormatNamed(extensions[t]), settings, source, bytes, reason) != 0) {
                    failures[t] = reason;
                }
            }
            const std::string path = folder.File(std::string("t.") + extensions[t]);
            std::string reason;
            CPixelImage back;
            if (WriteImageFile(path, source, settings, reason) != 0 || ReadImageFile(path, back, reason) != 0) {
                failures[t] = reason;
            } else if (t < 5 && std::memcmp(back.pixels, source.pixels, source.ByteCount()) != 0) {
                failures[t] = "pixels differ";
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < 6; ++t) EXPECT_EQ("", failures[t]) << extensions[t];
}

}  // namespace

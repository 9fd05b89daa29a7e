#include "image/image_file.h"

#include <gtest/gtest.h>
#include <png.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <algorithm>
#include <iterator>
#include <utility>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "support/png_codec.h"
#include "support/temp_folder.h"

namespace {

// An odd-sized RGBA picture whose every pixel differs from its neighbours, so that any flip,
// shift or channel swap shows.
CPixelImage MakePattern(int width, int height, bool opaque, unsigned seed = 7) {
    CPixelImage image;
    image.Allocate(width, height, 4);
    std::mt19937 random(seed);
    for (size_t i = 0; i < image.ByteCount(); ++i) image.pixels[i] = static_cast<unsigned char>(random());
    if (opaque) {
        for (size_t i = 3; i < image.ByteCount(); i += 4) image.pixels[i] = 255;
    }
    return image;
}

bool SamePixels(const CPixelImage& a, const CPixelImage& b) {
    return a.width == b.width && a.height == b.height && a.bytesPerPixel == b.bytesPerPixel &&
           std::equal(a.pixels, a.pixels + a.ByteCount(), b.pixels);
}

struct RoundTripCase {
    const char* extension;
    bool keepsAlpha;
};

void PrintTo(const RoundTripCase& c, std::ostream* out) { *out << c.extension; }

class ImageRoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(ImageRoundTrip, LosslessFormatGivesBackEveryByteTopRowFirst) {
    TempFolder folder;
    std::string path = folder.File(std::string("out") + GetParam().extension);
    CPixelImage source = MakePattern(319, 239, !GetParam().keepsAlpha);
    ASSERT_EQ(0, WriteImageFile(path, source));
    CPixelImage loaded;
    ASSERT_EQ(0, ReadImageFile(path, loaded));
    EXPECT_EQ(4, loaded.bytesPerPixel);
    EXPECT_EQ("undefined", loaded.fileName);
    EXPECT_TRUE(SamePixels(source, loaded));
    EXPECT_EQ(std::vector<std::string>{"out" + std::string(GetParam().extension)}, folder.Entries());
}

INSTANTIATE_TEST_SUITE_P(Formats, ImageRoundTrip,
                         testing::Values(RoundTripCase{".png", true}, RoundTripCase{".tga", true},
                                         RoundTripCase{".bmp", false}),
                         [](const testing::TestParamInfo<RoundTripCase>& info) {
                             return std::string(info.param.extension + 1);
                         });

TEST(ImageFile, SavedPngIsRightSideUpForAnotherDecoder) {
    TempFolder folder;
    std::string path = folder.File("upright.png");
    CPixelImage source = MakePattern(37, 23, false);
    ASSERT_EQ(0, WriteImageFile(path, source));
    PngPicture decoded;
    ASSERT_TRUE(DecodePng(path, decoded));
    ASSERT_EQ(37, decoded.width);
    ASSERT_EQ(23, decoded.height);
    EXPECT_TRUE(std::equal(decoded.rgba.begin(), decoded.rgba.end(), source.pixels));
}

TEST(ImageFile, LoadsAnotherEncodersPngTopRowFirst) {
    TempFolder folder;
    std::string path = folder.File("foreign.png");
    // 5 x 3: a red top row, a green middle row, a blue bottom row; the last column is white.
    std::vector<unsigned char> rows;
    const unsigned char colours[3][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 5; ++c) {
            for (int k = 0; k < 3; ++k) rows.push_back(c == 4 ? 255 : colours[r][k]);
        }
    }
    ASSERT_TRUE(EncodePng(path, 5, 3, PNG_COLOR_TYPE_RGB, rows));
    CPixelImage image;
    ASSERT_EQ(0, ReadImageFile(path, image));
    ASSERT_EQ(5, image.width);
    ASSERT_EQ(3, image.height);
    ASSERT_EQ(4, image.bytesPerPixel);
    PixelValue top = image.GetPixel(0, 0), bottom = image.GetPixel(0, 2), corner = image.GetPixel(4, 2);
    EXPECT_EQ(255, top.r);
    EXPECT_EQ(0, top.b);
    EXPECT_EQ(255, top.a);
    EXPECT_EQ(0, bottom.r);
    EXPECT_EQ(255, bottom.b);
    EXPECT_EQ(255, corner.r);
    EXPECT_EQ(255, corner.g);
    EXPECT_EQ(255, corner.b);
}

TEST(ImageFile, GreyPngLoadsAsOpaqueRgba) {
    TempFolder folder;
    std::string path = folder.File("grey.png");
    std::vector<unsigned char> rows(7 * 5);
    for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<unsigned char>(i * 7);
    ASSERT_TRUE(EncodePng(path, 7, 5, PNG_COLOR_TYPE_GRAY, rows));
    CPixelImage image;
    ASSERT_EQ(0, ReadImageFile(path, image));
    ASSERT_EQ(4, image.bytesPerPixel);
    for (int r = 0; r < 5; ++r) {
        for (int c = 0; c < 7; ++c) {
            PixelValue v = image.GetPixel(c, r);
            unsigned char grey = rows[r * 7 + c];
            EXPECT_EQ(grey, v.r);
            EXPECT_EQ(grey, v.g);
            EXPECT_EQ(grey, v.b);
            EXPECT_EQ(255, v.a);
        }
    }
}

TEST(ImageFile, PalettedPngLoadsAsRgba) {
    TempFolder folder;
    std::string path = folder.File("palette.png");
    std::vector<unsigned char> palette = {10, 20, 30, 200, 100, 50, 1, 2, 3};
    std::vector<unsigned char> rows = {0, 1, 2, 0, 2, 1, 1, 1, 0, 2, 2, 2};  // 3 x 4
    ASSERT_TRUE(EncodePng(path, 3, 4, PNG_COLOR_TYPE_PALETTE, rows, palette));
    CPixelImage image;
    ASSERT_EQ(0, ReadImageFile(path, image));
    ASSERT_EQ(3, image.width);
    ASSERT_EQ(4, image.height);
    ASSERT_EQ(4, image.bytesPerPixel);
    for (int i = 0; i < 12; ++i) {
        PixelValue v = image.GetPixel(i % 3, i / 3);
        const unsigned char* entry = &palette[3 * rows[i]];
        EXPECT_EQ(entry[0], v.r) << i;
        EXPECT_EQ(entry[1], v.g) << i;
        EXPECT_EQ(entry[2], v.b) << i;
        EXPECT_EQ(255, v.a) << i;
    }
}

TEST(ImageFile, MissingFileFailsAndLeavesTargetUntouched) {
    TempFolder folder;
    CPixelImage image = MakePattern(3, 2, true);
    image.fileName = "before.png";
    std::vector<unsigned char> before(image.pixels, image.pixels + image.ByteCount());
    EXPECT_EQ(-1, image.Load(folder.File("absent.png")));
    EXPECT_EQ(-1, ReadImageFile(folder.File("absent.png"), image));
    EXPECT_EQ(3, image.width);
    EXPECT_EQ("before.png", image.fileName);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), image.pixels));
}

TEST(ImageFile, UndecodableFileFails) {
    TempFolder folder;
    std::string path = folder.File("broken.png");
    WriteWholeFile(path, "\x89PNG\r\n\x1a\n this is not a picture");
    CPixelImage image;
    EXPECT_EQ(-1, ReadImageFile(path, image));
    EXPECT_TRUE(image.IsEmpty());
}

TEST(ImageFile, UnknownExtensionPrintsSaveMessageAndWritesNothing) {
    TempFolder folder;
    const std::string reasons[][2] = {
        {"frame.notaformat", "no image format is written for the extension .notaformat"},
        {"frame.pal", ".pal is a colour palette, not an image"}};
    for (const auto& c : reasons) {
        std::string path = folder.File(c[0]);
        CPixelImage image = MakePattern(5, 3, true);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        int result = WriteImageFile(path, image);
        std::string out = testing::internal::GetCapturedStdout();
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(-1, result);
        EXPECT_EQ("ERROR: could not save image to " + path + ".\n", out);
        EXPECT_EQ(0u, err.find(path + ": " + c[1])) << err;
    }
    EXPECT_TRUE(folder.Entries().empty());
}

// Every format the window's save chooser offers, except the palette-only .pal, is written
// (.pnm as binary PPM) with its format's leading bytes.
TEST(ImageFile, EveryOfferedFormatIsWritten) {
    TempFolder folder;
    const std::pair<const char*, std::string> formats[] = {
        {"bmp", "BM"},  {"dds", "DDS "}, {"jpg", "\xFF\xD8"}, {"pcx", "\x0A"}, {"png", "\x89PNG"},
        {"pnm", "P6\n"}, {"raw", ""},     {"sgi", "\x01\xDA"}, {"tga", ""},    {"tif", "II*"}};
    CPixelImage image = MakePattern(31, 17, true);
    for (const auto& format : formats) {
        std::string path = folder.File(std::string("out.") + format.first);
        std::string reason;
        ASSERT_EQ(0, WriteImageFile(path, image, reason)) << format.first << ": " << reason;
        std::string bytes = ReadWholeFile(path);
        EXPECT_GT(bytes.size(), 31u * 17u / 4) << format.first;
        EXPECT_EQ(0u, bytes.find(format.second)) << format.first;
    }
    EXPECT_EQ(std::size(formats), folder.Entries().size());
}

// A write stopped by the file-size limit (its signal ignored, so the write fails with
// EFBIG) is reported, and the earlier file stays whole with nothing beside it.
TEST(ImageFileDeathTest, WriteStoppedByTheFileSizeLimitKeepsTheEarlierFile) {
    TempFolder folder;
    std::string path = folder.File("kept.png");
    ASSERT_EQ(0, WriteImageFile(path, MakePattern(3, 3, true)));
    const std::string earlier = ReadWholeFile(path);
    auto limitedSave = [&]() {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{16384, 16384};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::string reason;
        bool failed = WriteImageFile(path, MakePattern(319, 239, false), reason) == -1 && reason == "File too large";
        bool intact = ReadWholeFile(path) == earlier;
        bool clean = folder.Entries().size() == 1;
        std::_Exit(failed && intact && clean ? 0 : 1);
    };
    EXPECT_EXIT(limitedSave(), testing::ExitedWithCode(0), "");
}

TEST(ImageFile, FailedSaveKeepsTheEarlierFileAndName) {
    TempFolder folder;
    std::string path = folder.File("keep.notaformat");
    WriteWholeFile(path, "earlier content");
    CPixelImage image = MakePattern(5, 3, true);
    image.fileName = "old.png";
    testing::internal::CaptureStdout();
    EXPECT_EQ(-1, image.Save(path));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ("old.png", image.fileName);
    EXPECT_EQ("earlier content", ReadWholeFile(path));
    EXPECT_EQ(std::vector<std::string>{"keep.notaformat"}, folder.Entries());
}

TEST(ImageFile, SaveIntoMissingFolderFailsWithMessage) {
    TempFolder folder;
    std::string path = folder.File("no/such/folder/out.png");
    CPixelImage image = MakePattern(5, 3, true);
    testing::internal::CaptureStdout();
    EXPECT_EQ(-1, WriteImageFile(path, image));
    EXPECT_EQ("ERROR: could not save image to " + path + ".\n", testing::internal::GetCapturedStdout());
}

TEST(ImageFile, EmptyImagePrintsReformatMessage) {
    TempFolder folder;
    CPixelImage empty;
    testing::internal::CaptureStdout();
    EXPECT_EQ(-1, WriteImageFile(folder.File("empty.png"), empty));
    EXPECT_EQ("ERROR: could not reformat image.\n", testing::internal::GetCapturedStdout());
    EXPECT_TRUE(folder.Entries().empty());
}

TEST(ImageFile, SaveReplacesAnExistingFileAndKeepsItsPermissions) {
    TempFolder folder;
    std::string path = folder.File("again.png");
    ASSERT_EQ(0, WriteImageFile(path, MakePattern(4, 4, true, 1)));
    ASSERT_EQ(0, chmod(path.c_str(), 0640));
    CPixelImage second = MakePattern(9, 7, true, 2);
    ASSERT_EQ(0, WriteImageFile(path, second));
    CPixelImage loaded;
    ASSERT_EQ(0, ReadImageFile(path, loaded));
    EXPECT_TRUE(SamePixels(second, loaded));
    struct stat info;
    ASSERT_EQ(0, stat(path.c_str(), &info));
    EXPECT_EQ(0640u, info.st_mode & 07777);
}

TEST(ImageFile, SaveThroughSymbolicLinkWritesTheLinkedFile) {
    TempFolder folder;
    std::string real = folder.File("real.png"), link = folder.File("link.png");
    ASSERT_EQ(0, WriteImageFile(real, MakePattern(4, 4, true, 1)));
    ASSERT_EQ(0, symlink(real.c_str(), link.c_str()));
    CPixelImage second = MakePattern(6, 5, true, 3);
    ASSERT_EQ(0, WriteImageFile(link, second));
    struct stat info;
    ASSERT_EQ(0, lstat(link.c_str(), &info));
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    CPixelImage loaded;
    ASSERT_EQ(0, ReadImageFile(real, loaded));
    EXPECT_TRUE(SamePixels(second, loaded));
}

TEST(ImageFile, LoadAndSaveNameTheImageAfterThePath) {
    TempFolder folder;
    std::string saved = folder.File("named.png");
    CPixelImage image = MakePattern(8, 3, true);
    ASSERT_EQ(0, image.Save(saved));
    EXPECT_EQ(saved, image.fileName);
    CPixelImage loaded;
    ASSERT_EQ(0, loaded.Load(saved));
    EXPECT_EQ(saved, loaded.fileName);
    EXPECT_TRUE(SamePixels(image, loaded));
}

TEST(ImageFile, GreyAndRgbSourcesAreSavedFromTheirOwnLayout) {
    TempFolder folder;
    CPixelImage grey;
    grey.Allocate(3, 2, 1);
    const unsigned char greyValues[6] = {0, 50, 100, 150, 200, 250};
    std::memcpy(grey.pixels, greyValues, 6);
    ASSERT_EQ(0, WriteImageFile(folder.File("grey.png"), grey));
    PngPicture decoded;
    ASSERT_TRUE(DecodePng(folder.File("grey.png"), decoded));
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(greyValues[i], decoded.rgba[4 * i]) << i;
        EXPECT_EQ(greyValues[i], decoded.rgba[4 * i + 2]) << i;
    }

    CPixelImage rgb;
    rgb.Allocate(2, 3, 3);
    for (int i = 0; i < 18; ++i) rgb.pixels[i] = static_cast<unsigned char>(i * 13);
    ASSERT_EQ(0, WriteImageFile(folder.File("rgb.png"), rgb));
    ASSERT_TRUE(DecodePng(folder.File("rgb.png"), decoded));
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(rgb.pixels[3 * i], decoded.rgba[4 * i]) << i;
        EXPECT_EQ(rgb.pixels[3 * i + 1], decoded.rgba[4 * i + 1]) << i;
        EXPECT_EQ(rgb.pixels[3 * i + 2], decoded.rgba[4 * i + 2]) << i;
    }
}

TEST(ImageLibrary, VersionBelowOneSixSevenIsRefusedWithItsMessage) {
    testing::internal::CaptureStdout();
    EXPECT_FALSE(CheckImageLibraryVersion(166));
    EXPECT_EQ("DevIL version is different...exiting!\n", testing::internal::GetCapturedStdout());
    testing::internal::CaptureStdout();
    EXPECT_TRUE(CheckImageLibraryVersion(167));
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    EXPECT_TRUE(InitImageLibrary());
    EXPECT_TRUE(InitImageLibrary());
}

}  // namespace

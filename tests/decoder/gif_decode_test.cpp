// The GIF decoder against ImageMagick's first frame, seen on its canvas, for files written by
// giflib's encoder with every layout a writer may choose (global or local palettes, interlace,
// a transparent colour, a frame smaller than the screen), and by ImageMagick; and its refusals.
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <vector>

#include "decoder/magick_support.h"
#include "support/decode_bytes.h"
#include "support/temp_folder.h"

namespace {

int AppendBytes(GifFileType* gif, const GifByteType* bytes, int count) {
    static_cast<std::string*>(gif->UserData)->append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(count));
    return count;
}

// One frame of a hand-made GIF: its place on the screen and how it is stored.
struct Frame {
    int left, top, width, height;
    bool interlaced;
    bool localPalette;
    int transparent;  // palette index, or -1
};

// A 64-colour palette of distinct colours; `shift` makes another.
ColorMapObject* MakePalette(int shift) {
    GifColorType colours[64];
    for (int i = 0; i < 64; ++i) {
        colours[i] = {static_cast<GifByteType>((i * 4 + shift) & 0xFF), static_cast<GifByteType>(255 - i * 3),
                      static_cast<GifByteType>((i * 37 + shift) & 0xFF)};
    }
    return GifMakeMapObject(64, colours);
}

// A GIF of `frames` on a `width` x `height` screen, each frame's pixel (x, y) the index
// (x + 3y + frame) mod 64, written with giflib's encoder.
std::string WriteGif(int width, int height, bool globalPalette, int background, const std::vector<Frame>& frames) {
    std::string bytes;
    int error = 0;
    GifFileType* gif = EGifOpen(&bytes, AppendBytes, &error);
    if (gif == nullptr) return "";
    EGifSetGifVersion(gif, true);
    ColorMapObject* global = globalPalette ? MakePalette(0) : nullptr;
    bool ok = EGifPutScreenDesc(gif, width, height, 8, background, global) == GIF_OK;
    for (size_t f = 0; ok && f < frames.size(); ++f) {
        const Frame& frame = frames[f];
        if (frame.transparent >= 0) {
            GraphicsControlBlock control = {DISPOSAL_UNSPECIFIED, false, 10, frame.transparent};
            GifByteType block[4];
            EGifGCBToExtension(&control, block);
            ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, block) == GIF_OK;
        }
        ColorMapObject* local = frame.localPalette ? MakePalette(static_cast<int>(f) * 50 + 7) : nullptr;
        ok = ok && EGifPutImageDesc(gif, frame.left, frame.top, frame.width, frame.height, frame.interlaced, local) ==
                       GIF_OK;
        GifFreeMapObject(local);
        // An interlaced frame's rows are stored pass by pass.
        std::vector<int> order;
        if (frame.interlaced) {
            for (int pass : {0, 1, 2, 3}) {
                static const int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
                for (int y = kStart[pass]; y < frame.height; y += kStep[pass]) order.push_back(y);
            }
        } else {
            for (int y = 0; y < frame.height; ++y) order.push_back(y);
        }
        std::vector<GifPixelType> line(static_cast<size_t>(frame.width));
        for (int y : order) {
            for (int x = 0; x < frame.width; ++x) line[x] = static_cast<GifPixelType>((x + 3 * y + f) % 64);
            ok = ok && EGifPutLine(gif, line.data(), frame.width) == GIF_OK;
        }
    }
    GifFreeMapObject(global);
    ok = EGifCloseFile(gif, &error) == GIF_OK && ok;
    return ok ? bytes : "";
}

int DecodeBytes(const std::string& bytes, DecodedImage& out, std::string& reason) {
    return DecodeWhole(bytes, "x.gif", out, reason);
}

// The picture as it is seen: the colour of a wholly transparent pixel plays no part (ImageMagick
// gives a transparent screen white, this decoder black).
DecodedImage Visible(DecodedImage picture) {
    for (size_t i = 0; i < picture.rgba.size(); i += 4) {
        if (picture.rgba[i + 3] == 0) picture.rgba[i] = picture.rgba[i + 1] = picture.rgba[i + 2] = 0;
    }
    return picture;
}

struct HandMade {
    const char* name;
    int width, height;
    bool globalPalette;
    int background;
    std::vector<Frame> frames;
};

void PrintTo(const HandMade& made, std::ostream* os) { *os << made.name; }

class GifAgainstMagick : public ::testing::TestWithParam<HandMade> {};

TEST_P(GifAgainstMagick, FirstFrameOnItsScreen) {
    const HandMade& made = GetParam();
    if (FindTool("convert").empty()) GTEST_SKIP() << "needs ImageMagick's convert (scripts/deps.sh)";
    TempFolder folder;
    std::string bytes = WriteGif(made.width, made.height, made.globalPalette, made.background, made.frames);
    ASSERT_FALSE(bytes.empty()) << "giflib's encoder failed";
    std::string path = folder.File(std::string(made.name) + ".gif");
    WriteWholeFile(path, bytes);
    DecodedImage expected, decoded;
    ASSERT_TRUE(MagickDecodeFirstFrame(path, expected));
    std::string reason;
    ASSERT_EQ(DecodeBytes(bytes, decoded, reason), 0) << reason;
    EXPECT_EQ(decoded.width, made.width);
    EXPECT_EQ(decoded.height, made.height);
    EXPECT_EQ(LargestDifference(Visible(decoded), Visible(expected)), 0);
}

INSTANTIATE_TEST_SUITE_P(Layouts, GifAgainstMagick, ::testing::Values(
    HandMade{"global", 61, 37, true, 0, {{0, 0, 61, 37, false, false, -1}}},
    HandMade{"local_only", 61, 37, false, 0, {{0, 0, 61, 37, false, true, -1}}},
    HandMade{"local_over_global", 61, 37, true, 0, {{0, 0, 61, 37, false, true, -1}}},
    HandMade{"interlaced", 61, 37, true, 0, {{0, 0, 61, 37, true, false, -1}}},
    HandMade{"interlaced_few_rows", 9, 3, true, 0, {{0, 0, 9, 3, true, true, -1}}},
    HandMade{"transparent", 61, 37, true, 0, {{0, 0, 61, 37, false, false, 5}}},
    HandMade{"offset_on_background", 80, 50, true, 9, {{11, 7, 40, 30, false, false, -1}}},
    HandMade{"offset_interlaced_transparent", 80, 50, true, 3, {{11, 7, 40, 30, true, true, 3}}},
    HandMade{"later_frames_unseen", 61, 37, false, 0,
             {{0, 0, 61, 37, false, true, -1}, {5, 5, 20, 20, false, true, 2}, {0, 0, 61, 37, true, true, -1}}}),
    [](const ::testing::TestParamInfo<HandMade>& info) { return std::string(info.param.name); });

// What ImageMagick writes, the way the renderer's animations come out too: a palette per
// frame, dithered colours, transparency from alpha.
TEST(GifFromMagick, DecodesAsImageMagickDoes) {
    if (FindTool("convert").empty()) GTEST_SKIP() << "needs ImageMagick's convert (scripts/deps.sh)";
    struct Made {
        const char* name;
        const char* options;
        bool alpha;
    } cases[] = {
        {"plain.gif", "", false},
        {"interlaced.gif", "-interlace GIF", false},
        {"alpha.gif", "", true},
        {"animation.gif", "\\( +clone -negate \\) \\( +clone -flip \\) +remap -loop 0", false},
    };
    for (const Made& made : cases) {
        TempFolder folder;
        std::string path = folder.File(made.name);
        ASSERT_TRUE(MagickWrite(TestPattern(97, 71, made.alpha), made.options, path)) << made.name;
        DecodedImage expected, decoded;
        ASSERT_TRUE(MagickDecodeFirstFrame(path, expected)) << made.name;
        std::string reason;
        ASSERT_EQ(DecodeBytes(ReadWholeFile(path), decoded, reason), 0) << made.name << ": " << reason;
        EXPECT_EQ(LargestDifference(Visible(decoded), Visible(expected)), 0) << made.name;
    }
}

TEST(GifRefusals, EachFailureSaysWhy) {
    std::string good = WriteGif(40, 30, true, 0, {{0, 0, 40, 30, false, false, -1}});
    // giflib writes no frame without a palette: the global one is cut out of a good file.
    std::string noPalette = good;
    noPalette.erase(13, 64 * 3);
    noPalette[10] = static_cast<char>(noPalette[10] & 0x7F);
    std::string empty = WriteGif(40, 30, true, 0, {});
    ASSERT_FALSE(good.empty());
    ASSERT_FALSE(noPalette.empty());
    ASSERT_FALSE(empty.empty());
    struct Case {
        const char* what;
        std::string bytes;
        const char* reason;
    } cases[] = {
        {"cut inside the pixels", good.substr(0, good.size() - 60), "the GIF data ends early"},
        {"cut after the frame's header", good.substr(0, 13 + 64 * 3 + 10), "the GIF data ends early"},
        {"no palette at all", noPalette, "the GIF picture has no palette"},
        {"no frame", empty, "the GIF file holds no picture"},
    };
    for (const Case& c : cases) {
        DecodedImage out;
        std::string reason;
        EXPECT_EQ(DecodeOwn(c.bytes, out, reason), -1)
            << c.what;
        EXPECT_NE(reason.find(c.reason), std::string::npos) << c.what << ": " << reason;
        EXPECT_EQ(out.width, 0) << c.what;
        EXPECT_TRUE(out.rgba.empty()) << c.what;
    }
}

}  // namespace

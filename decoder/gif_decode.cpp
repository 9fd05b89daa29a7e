// GIF through giflib: the first frame, composed on the file's logical screen as a viewer shows
// it before the animation moves on. The frame's own palette wins over the global one, interlaced
// rows go where the four passes put them, the transparent colour of the frame's graphic control
// block becomes alpha 0, and the screen outside the frame shows the background colour. Later
// frames and their data are never read.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "decoder/decode_limits.h"
#include "decoder/format_decoders.h"
#include "decoder/gif_library.h"

namespace {

struct MemoryInput {
    const unsigned char* data;
    size_t size;
    size_t at;
};

int ReadBytes(GifFileType* gif, GifByteType* buffer, int count) {
    MemoryInput* input = static_cast<MemoryInput*>(gif->UserData);
    if (count <= 0 || input->at >= input->size) return 0;
    size_t n = std::min(static_cast<size_t>(count), input->size - input->at);
    std::memcpy(buffer, input->data + input->at, n);
    input->at += n;
    return static_cast<int>(n);
}

struct OpenGif {
    const GifLibrary& library;
    GifFileType* gif = nullptr;
    ~OpenGif() {
        int ignored;
        if (gif != nullptr) library.DGifCloseFile(gif, &ignored);
    }
};

std::string GifFault(const GifLibrary& library, int code) {
    switch (code) {
        case 0:  // giflib's reads that come short set no code of their own
        case D_GIF_ERR_READ_FAILED:
        case D_GIF_ERR_EOF_TOO_SOON: return "the GIF data ends early";
        case D_GIF_ERR_NOT_ENOUGH_MEM: return "the GIF image needs more memory than the decoder may take";
        case D_GIF_ERR_NOT_GIF_FILE:
        case D_GIF_ERR_WRONG_RECORD: return "the GIF file's structure is damaged";
        default: {
            const char* text = library.GifErrorString(code);  // null for codes it does not know
            return std::string("the GIF image could not be decoded") + (text != nullptr ? std::string(": ") + text : "");
        }
    }
}

// The stored row `index` of an interlaced frame `height` rows tall: its place on the frame.
int InterlacedRow(int index, int height) {
    static const int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
        int rows = height > kStart[pass] ? (height - kStart[pass] + kStep[pass] - 1) / kStep[pass] : 0;
        if (index < rows) return kStart[pass] + index * kStep[pass];
        index -= rows;
    }
    return -1;
}

// Skips an extension's sub-blocks; for a graphic control block, keeps its transparent colour.
bool ReadExtension(const GifLibrary& library, GifFileType* gif, int& transparent) {
    int code = 0;
    GifByteType* block = nullptr;
    if (library.DGifGetExtension(gif, &code, &block) != GIF_OK) return false;
    if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 4) {
        GraphicsControlBlock control;
        if (library.DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK) transparent = control.TransparentColor;
    }
    while (block != nullptr) {
        if (library.DGifGetExtensionNext(gif, &block) != GIF_OK) return false;
    }
    return true;
}

// Where the frame does not reach, the screen shows its background colour, or nothing when that
// colour is the transparent one or there is no global palette to take it from. Done once the
// frame's rows have come, and only outside them: the pixels are zero (nothing) already.
void FillBackground(const GifFileType* gif, const GifImageDesc& frame, int transparent, DecodedImage& out) {
    int index = gif->SBackGroundColor;
    if (gif->SColorMap == nullptr || index == transparent || index >= gif->SColorMap->ColorCount) return;
    const GifColorType& c = gif->SColorMap->Colors[index];
    const unsigned char background[4] = {c.Red, c.Green, c.Blue, 255};
    int left = std::min(frame.Left, out.width), right = std::min(frame.Left + frame.Width, out.width);
    int top = std::min(frame.Top, out.height), bottom = std::min(frame.Top + frame.Height, out.height);
    size_t stride = static_cast<size_t>(out.width) * 4;
    for (int y = 0; y < out.height; ++y) {
        unsigned char* row = out.Pixels() + static_cast<size_t>(y) * stride;
        bool framed = y >= top && y < bottom;
        for (int x = 0; x < out.width; ++x) {
            if (framed && x == left) x = std::max(left, right);
            if (x < out.width) std::memcpy(row + static_cast<size_t>(x) * 4, background, 4);
        }
    }
}

}  // namespace

int DecodeGif(const unsigned char* data, size_t size, const ImageHeader&, DecodedImage& out, std::string& reason) {
    const GifLibrary* loaded = LoadGifLibrary(reason);
    if (loaded == nullptr) return -1;
    const GifLibrary& library = *loaded;
    MemoryInput input{data, size, 0};
    int error = 0;
    OpenGif open{library};
    open.gif = library.DGifOpen(&input, ReadBytes, &error);
    if (open.gif == nullptr) {
        reason = GifFault(library, error);
        return -1;
    }
    GifFileType* gif = open.gif;
    int transparent = NO_TRANSPARENT_COLOR;
    for (;;) {
        GifRecordType record;
        if (library.DGifGetRecordType(gif, &record) != GIF_OK) {
            reason = GifFault(library, gif->Error);
            return -1;
        }
        if (record == TERMINATE_RECORD_TYPE) {
            reason = "the GIF file holds no picture";
            return -1;
        }
        if (record == EXTENSION_RECORD_TYPE) {
            if (!ReadExtension(library, gif, transparent)) {
                reason = GifFault(library, gif->Error);
                return -1;
            }
            continue;
        }
        if (record == IMAGE_DESC_RECORD_TYPE) break;
    }
    if (library.DGifGetImageDesc(gif) != GIF_OK) {
        reason = GifFault(library, gif->Error);
        return -1;
    }
    const GifImageDesc& frame = gif->Image;
    const ColorMapObject* palette = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
    if (palette == nullptr) {
        reason = "the GIF picture has no palette";
        return -1;
    }
    // A screen of no size is taken to be the first frame's extent, as viewers do.
    long long screenWidth = gif->SWidth > 0 ? gif->SWidth : 0LL + frame.Left + frame.Width;
    long long screenHeight = gif->SHeight > 0 ? gif->SHeight : 0LL + frame.Top + frame.Height;
    if (!WithinDecodeLimits(screenWidth, screenHeight, "GIF", reason)) return -1;
    if (frame.Width <= 0 || frame.Height <= 0) {
        reason = "the GIF's first frame has no pixels";
        return -1;
    }
    if (!WithinDecodeLimits(frame.Width, frame.Height, "GIF frame", reason)) return -1;
    int width = static_cast<int>(screenWidth), height = static_cast<int>(screenHeight);
    unsigned char* pixels = ReservePixels(width, height, out);
    if (pixels == nullptr) {
        reason = "the GIF image needs more memory than the decoder may take";
        return -1;
    }
    size_t stride = static_cast<size_t>(width) * 4;
    unsigned char colours[256][4];
    for (int i = 0; i < 256; ++i) {
        const GifColorType* c = i < palette->ColorCount ? &palette->Colors[i] : nullptr;
        colours[i][0] = c != nullptr ? c->Red : 0;
        colours[i][1] = c != nullptr ? c->Green : 0;
        colours[i][2] = c != nullptr ? c->Blue : 0;
        colours[i][3] = i == transparent ? 0 : 255;
    }
    std::vector<GifPixelType> line(static_cast<size_t>(frame.Width));
    int visibleFrom = std::min(frame.Left, width), visibleTo = std::min(frame.Left + frame.Width, width);
    for (int index = 0; index < frame.Height; ++index) {
        if (library.DGifGetLine(gif, line.data(), frame.Width) != GIF_OK) {
            out.Reset();
            reason = GifFault(library, gif->Error);
            return -1;
        }
        int row = frame.Top + (frame.Interlace ? InterlacedRow(index, frame.Height) : index);
        if (!frame.Interlace && row >= height) break;  // the rest falls below the screen
        if (row < 0 || row >= height) continue;
        unsigned char* target = pixels + static_cast<size_t>(row) * stride;
        for (int x = visibleFrom; x < visibleTo; ++x) {
            std::memcpy(target + static_cast<size_t>(x) * 4, colours[line[static_cast<size_t>(x - frame.Left)]], 4);
        }
    }
    FillBackground(gif, frame, transparent, out);
    return 1;
}

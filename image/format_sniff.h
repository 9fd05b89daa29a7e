// What an image file is, from its first bytes rather than its name, and how large its header
// says the picture is; the size limits every reader of pictures in the program applies.
#pragma once

#include <cstddef>
#include <string>

// The largest picture the program reads: 2^28 pixels (1 GiB as RGBA bytes), no side over 65535.
constexpr long long kMaxImagePixels = 1LL << 28;
constexpr long long kMaxImageSide = 65535;

enum class ImageFormat {
    kUnknown, kPng, kMng, kJpeg, kBmp, kGif, kTiff, kPsd, kPcx, kDcx, kDds, kIco, kIlbm, kPic,
    kPnm, kSgi, kPsp, kLif, kPcd, kMdl, kWal, kCut, kTga, kRaw, kWebp, kHeif, kPalette
};

struct ImageHeader {
    ImageFormat format = ImageFormat::kUnknown;
    // What the header claims; -1 when the format's header does not say or lies beyond the bytes given.
    long long width = -1;
    long long height = -1;
    // Layers or slices the picture stacks (volume textures); 1 for flat pictures.
    long long depth = 1;
    // Samples per pixel and bits per sample, where the reader learns them; 0 when it does not.
    int channels = 0;
    int bitDepth = 0;
    // The pixels the file's data can cover where that may fall short of the picture: the first
    // frame of an animation (GIF, WebP) as far as its coded bytes reach, the pixels a run-length
    // BMP codes before its end-of-bitmap; -1 when that is not known.
    long long carriedPixels = -1;
    // The frame or the runs went on past the bytes read: carriedPixels counts only those within them.
    bool framesBeyondBytes = false;
    // The bytes that can carry pixels (PNG image data, TIFF strips or tiles) found within the
    // bytes read; -1 where the format's row does not count them, so that the file's size stands in.
    long long dataBytes = -1;
    // That data went on past the bytes read: the rest of the file may hold more of it.
    bool dataBeyondBytes = false;
};

// Short upper-case name for messages ("PNG", "JPEG", ...).
const char* ImageFormatName(ImageFormat format);

// The format from the first bytes; for the few formats with no signature (TGA, Dr. Halo CUT,
// Quake WAL, raw dumps, palettes) the extension of `nameHint` decides, and a plausible TGA header
// is the last resort.
ImageFormat IdentifyImageFormat(const unsigned char* data, size_t size, const std::string& nameHint);

// The header of a file already known to be of `format`, read by that format's row of the table
// (format_table.h); width and height stay -1 when the bytes do not give them. No identification.
void ReadImageHeader(const unsigned char* data, size_t size, ImageFormat format, ImageHeader& header);

// Identifies the format and reads the header's size. 0 with `header` filled, or -1 with a
// reason a user can act on: an empty file, bytes of no format this program reads, a palette
// instead of a picture, or a size beyond the limits above.
int InspectImageHeader(const unsigned char* data, size_t size, const std::string& nameHint,
                       ImageHeader& header, std::string& reason);

// 0 when a file of `fileSize` bytes can hold the picture its header claims, given the best
// compression its format allows (run lengths, deflate, LZW, a bit per JPEG block), counting the
// bytes that carry pixels where the format says which they are, and when its data can cover at
// least a kCanvasPerCarriedPixel-th of the picture; otherwise -1 and a reason ("the PCX header
// claims 9728 x 26912 pixels, which take at least 7854 bytes; the file holds 80"). A few bytes
// claiming a huge picture make a decoder spend gigabytes and seconds on made-up pixels.
// `data` holds the file's first bytes; checks that need more pass.
int CheckEncodedSize(const unsigned char* data, size_t size, long long fileSize, const ImageHeader& header,
                     std::string& reason);

// 0 when a picture of this size may be read; otherwise -1 and a reason naming the size,
// "the PNG header claims 100000 x 100000 pixels, more than this program reads".
int CheckImageSize(const char* what, long long width, long long height, long long depth, std::string& reason);

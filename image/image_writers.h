// The encoders behind the table of writable formats (image/writable_formats.h): each turns a
// picture of 1, 3 or 4 bytes a pixel (grey, RGB, RGBA; top row first) into the bytes of one
// file, in memory. The program's own writers share no state and run on any thread at once;
// the image library's writer takes turns with every other use of that library.
#pragma once

#include <string>
#include <vector>

#include "image/pixel_image.h"
#include "image/writable_formats.h"

// Encodes `image` as `format` with `settings` (checked by WriteSettingsProblem, defaults
// filled in here). 0; -1 with `reason`; -2 with `reason` when the pixels themselves are
// refused (an empty image, an unknown layout).
int EncodeImage(const WritableFormat& format, const ImageWriteSettings& settings, const CPixelImage& image,
                std::vector<unsigned char>& bytes, std::string& reason);

// The channels a file of a format with `alpha` gets for `image`: 1 for grey, 3 when the alpha
// is dropped (an opaque picture, a format without alpha), else 4.
int WrittenChannels(const CPixelImage& image, AlphaWritten alpha);
// True when the picture has no alpha channel or every alpha is 255.
bool AllOpaque(const CPixelImage& image);
// Row `y` of `image` as `channels` (1 only for a grey picture, 3, 4) bytes a pixel into `out`;
// false when it dropped an alpha other than 255.
bool ConvertRow(const CPixelImage& image, int y, int channels, unsigned char* out);
// `width` RGBA pixels as 3 bytes each into `out`: R, G, B, or with `bgr` B, G, R (alpha dropped);
// returns the AND of the alphas dropped, 255 when all were opaque.
unsigned char PackRgbaRow(const unsigned char* rgba, size_t width, bool bgr, unsigned char* out);

// The writers of the table's rows; `channels` is WrittenChannels of the row. Given `opaque`,
// the TIFF and BMP writers of 3 channels from RGBA stop at the first row with transparency,
// setting it false, for the caller to write the picture again with 4.
int EncodeJpeg(const CPixelImage& image, int quality, bool fullChroma, std::vector<unsigned char>& bytes,
               std::string& reason);
int EncodeTiff(const CPixelImage& image, int channels, const std::string& compression,
               std::vector<unsigned char>& bytes, std::string& reason, bool* opaque = nullptr);
int EncodeWebp(const CPixelImage& image, bool lossless, int quality, std::vector<unsigned char>& bytes,
               std::string& reason);
// BMP by the program itself; TGA (run-length coded) through stb_image_write.
int EncodeBmp(const CPixelImage& image, int channels, std::vector<unsigned char>& bytes, std::string& reason,
              bool* opaque = nullptr);
int EncodeTga(const CPixelImage& image, int channels, std::vector<unsigned char>& bytes, std::string& reason);
// The image library, for the rare formats: its one lock is held for the whole encode. 0, -1
// with `reason`, or -2 when it refuses the pixels.
int EncodeWithLibrary(const WritableFormat& format, const CPixelImage& image, std::vector<unsigned char>& bytes,
                      std::string& reason);

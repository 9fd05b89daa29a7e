// The helper's side of the format table: per format the program identifies, how the helper
// decodes it (image/format_table.h holds the rest of the row): its own decoder and the libraries
// that one opens at run time, the general image library's name for it, the check of its layout
// made before any decoder reads it, and whether its EXIF orientation turns it. Only the decoding
// helper, its tests and its fuzz target link these.
#pragma once

#include <IL/il.h>

#include <cstddef>
#include <string>

#include "decoder/decoded_image.h"
#include "decoder/run_time_library.h"
#include "image/byte_reader.h"
#include "image/format_sniff.h"

// Decodes `data`, of `header.format`, into `out` (an image without a picture, perhaps with a
// place set aside for one; pixels only through AllocateDecoded or ReservePixels). `header` is
// read from these bytes and within the size limits; its size is -1 only for formats whose
// readers could not tell. 1 decoded; 0 not one of this decoder's cases, left to the general
// image library (`out` untouched); -1 refused with a reason (what `out` holds is forgotten).
// A decoder that may answer 0 says so in its row, so that the helper loads that library for it.
using FormatDecoder = int (*)(const unsigned char* data, size_t size, const ImageHeader& header, DecodedImage& out,
                              std::string& reason);

struct DecoderRow {
    ImageFormat format;
    FormatDecoder decode;  // the format's own decoder, or nullptr
    // True when the own decoder takes every file of its format, so that the general image
    // library never sees one.
    bool everyFile;
    RunTimeLibrary libraries[2];  // what the own decoder opens at run time
    ILenum libraryType;           // the general image library's name for it; IL_TYPE_UNKNOWN: not there
    bool (*layoutFits)(const ByteReader& file, std::string& reason);  // decoder/layout_checks.h, or nullptr
    bool exifOrientation;  // decoded in stored order, to be turned as its EXIF orientation says
};

// The row of `format`; one with no decoder of any kind for a format the helper does not read.
const DecoderRow& DecoderRowOf(ImageFormat format);

// Loads the libraries that decoding `format` may open at run time, its own decoder's and the
// general image library when that may be asked: 0, or -1 with a reason naming the library. The
// helper calls it before its limits and its filter; in-process callers need not.
int LoadDecoderLibraries(ImageFormat format, std::string& reason);

// The format's own decoder on `data`: 1 with `out` filled, 0 when the format has none or the
// bytes are not one of its cases (leave them to the image library; `out` untouched), -1 with a
// reason a user can act on. `header` is the bytes' header, read for `header.format`.
int DecodeWithOwnDecoder(const unsigned char* data, size_t size, const ImageHeader& header, DecodedImage& out,
                         std::string& reason);

int DecodeWebp(const unsigned char* data, size_t size, const ImageHeader& header, DecodedImage& out, std::string& reason);
int DecodeHeif(const unsigned char* data, size_t size, const ImageHeader& header, DecodedImage& out, std::string& reason);
// BMP with other headers than the 40-byte one, or 16- and 32-bit pixels.
int DecodeBmp(const unsigned char* data, size_t size, const ImageHeader& header, DecodedImage& out, std::string& reason);
// Every JPEG: grey, colour, CMYK and YCCK.
int DecodeJpeg(const unsigned char* data, size_t size, const ImageHeader& header, DecodedImage& out, std::string& reason);
int DecodePng(const unsigned char* data, size_t size, const ImageHeader& header, DecodedImage& out, std::string& reason);
// Every TIFF, its first page.
int DecodeTiff(const unsigned char* data, size_t size, const ImageHeader& header, DecodedImage& out, std::string& reason);
// The first frame on its logical screen.
int DecodeGif(const unsigned char* data, size_t size, const ImageHeader& header, DecodedImage& out, std::string& reason);

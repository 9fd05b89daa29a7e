// The helper's side of the format table: the decoder of each format that has one of its own,
// keyed by the format the program identified (image/format_table.h holds the rest of the row).
// Only the decoding helper, its tests and its fuzz target link these.
#pragma once

#include <cstddef>
#include <string>

#include "decoder/decoded_image.h"
#include "image/format_sniff.h"

// Decodes `data`, of `header.format`, into `out` (an image without a picture, perhaps with a
// place set aside for one; pixels only through AllocateDecoded or ReservePixels). `header` is
// read from these bytes and within the size limits; its size is -1 only for formats whose
// readers could not tell. 1 decoded; 0 not one of this decoder's cases, left to the general
// image library (`out` untouched); -1 refused with a reason (what `out` holds is forgotten).
// A decoder that may answer 0 says so in its row, so that the helper loads that library for it.
using FormatDecoder = int (*)(const unsigned char* data, size_t size, const ImageHeader& header, DecodedImage& out,
                              std::string& reason);

// The format's own decoder, or nullptr when the general image library decodes it.
FormatDecoder DecoderFor(ImageFormat format);

// Loads the libraries that the format's own decoder opens at run time: 0, or -1 with a reason
// naming the one that could not be loaded. The helper calls it before confining itself.
int LoadDecoderLibraries(ImageFormat format, std::string& reason);

// True when the format's own decoder takes every file of its format, so that the general image
// library never sees one.
bool DecodesEveryFile(ImageFormat format);

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

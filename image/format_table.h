// The one table of the picture formats this program reads: per format its name, extensions,
// signature test, header reader and the fewest bytes a file of it can take for the picture its
// header claims. The program's checks and the decoding helper both read it; the helper keeps
// its decoders in a table of its own keyed by the same format (decoder/format_decoders.h), so
// that nothing outside the helper links a decoder.
#pragma once

#include <cstddef>

#include "image/byte_reader.h"
#include "image/format_sniff.h"

struct ImageFormatRow {
    ImageFormat format;
    const char* name;         // short, for messages: "PNG", "JPEG", ...
    const char* extensions;   // lower case, space separated
    // The extension names the format when no firm signature matched: formats with no signature
    // or only a weak one, tried after the extension.
    bool extensionDecides;
    // True when the first bytes are this format's; nullptr for formats known by their extension only.
    bool (*signature)(const ByteReader& bytes);
    // Fills the header's size (and what else the format's checks need) from the bytes given;
    // leaves -1 where the header does not say or lies beyond them.
    void (*readHeader)(const ByteReader& bytes, ImageHeader& header);
    // The fewest bytes a file of this format can take for the header's picture at the format's
    // best compression (only the bytes that carry pixels where the header counts them in
    // dataBytes); -1 when the bytes given do not tell, kNoDataBound for a coding that has no
    // such bound, nullptr when nothing bounds it.
    long long (*leastBytes)(const ByteReader& bytes, const ImageHeader& header);
    // Every whole file of the format gives its size in its first bytes, so a file without one is damaged.
    bool sizeInHeader;
};

// The rows in the order their signatures are tried: firm signatures first, weak ones (PCX,
// ICO) after them; rows whose extension decides come last.
const ImageFormatRow* ImageFormatRows(size_t& count);

// The row of `format`; the row of ImageFormat::kUnknown (no reader, no bound) for a format without one.
const ImageFormatRow& FormatRow(ImageFormat format);

// How far a picture may outgrow the pixels its data covers (an animation's first frame, a
// run-length BMP's runs): the rest is made-up background, and a tiny frame on a huge canvas
// costs the canvas's memory for nothing.
constexpr long long kCanvasPerCarriedPixel = 4;

// Pictures up to this many pixels cost little whatever their file holds: below it, codings
// whose bound is not firm (arithmetic-coded JPEG spends far less than a bit on a flat block) or
// that have none are not bounded, and the bound is on the file's size rather than on the bytes
// that carry pixels.
constexpr long long kUnboundedPixels = 4096LL * 4096;

// leastBytes's answer for a coding with no lower bound on its bytes (LZMA, JBIG, ... in TIFF):
// such a picture is refused above kUnboundedPixels.
constexpr long long kNoDataBound = -2;

// libtiff, opened at run time (decoder/run_time_library.h): with the compression libraries it
// brings (zstd, LZMA, LERC, JBIG, libdeflate) it would cost every start of the decoding helper,
// while only TIFF pictures need it.
#pragma once

#include <tiffio.h>

#include <string>

// The functions of libtiff that the TIFF decoder calls, by their names without "TIFF".
#define QUARRO_TIFF_FUNCTIONS(X)          \
    X(OpenOptionsAlloc)                   \
    X(OpenOptionsFree)                    \
    X(OpenOptionsSetErrorHandlerExtR)     \
    X(OpenOptionsSetWarningHandlerExtR)   \
    X(OpenOptionsSetMaxSingleMemAlloc)    \
    X(ClientOpenExt)                      \
    X(Close)                              \
    X(GetField)                           \
    X(SetField)                           \
    X(RGBAImageOK)                        \
    X(RGBAImageBegin)                     \
    X(RGBAImageGet)                       \
    X(RGBAImageEnd)                       \
    X(IsTiled)                            \
    X(ScanlineSize)                       \
    X(ReadScanline)                       \
    X(StripSize)                          \
    X(TileSize)                           \
    X(ComputeStrip)                       \
    X(ComputeTile)                        \
    X(ReadEncodedStrip)                   \
    X(ReadEncodedTile)

// One pointer per function, typed by the header's own declaration.
struct TiffLibrary {
#define QUARRO_TIFF_MEMBER(name) decltype(&::TIFF##name) name = nullptr;
    QUARRO_TIFF_FUNCTIONS(QUARRO_TIFF_MEMBER)
#undef QUARRO_TIFF_MEMBER
};


// Opens `soname` (the table's, decoder/run_time_library.h, or another) and resolves every
// function into `library`: 0, or -1 with a reason naming the library. It stays loaded.
int OpenTiffLibrary(const char* soname, TiffLibrary& library, std::string& reason);

// The process's libtiff, opened on the first call and kept; nullptr with the reason when it
// could not be loaded. The helper calls it before its filter, inside which it fails cleanly.
const TiffLibrary* LoadTiffLibrary(std::string& reason);

// giflib, opened at run time (decoder/run_time_library.h): only GIF pictures need it, and every
// library linked at build time costs each start of the decoding helper its loading.
#pragma once

#include <gif_lib.h>

#include <string>

// The functions of giflib that the GIF decoder calls, by their full names: the reading ones
// start "DGif", its error text "Gif".
#define QUARRO_GIF_FUNCTIONS(X) \
    X(DGifOpen)                 \
    X(DGifCloseFile)            \
    X(DGifGetRecordType)        \
    X(DGifGetExtension)         \
    X(DGifGetExtensionNext)     \
    X(DGifExtensionToGCB)       \
    X(DGifGetImageDesc)         \
    X(DGifGetLine)              \
    X(GifErrorString)

// One pointer per function, typed by the header's own declaration.
struct GifLibrary {
#define QUARRO_GIF_MEMBER(name) decltype(&::name) name = nullptr;
    QUARRO_GIF_FUNCTIONS(QUARRO_GIF_MEMBER)
#undef QUARRO_GIF_MEMBER
};


// Opens `soname` (the table's, decoder/run_time_library.h, or another) and resolves every
// function into `library`: 0, or -1 with a reason naming the library. It stays loaded.
int OpenGifLibrary(const char* soname, GifLibrary& library, std::string& reason);

// The process's giflib, opened on the first call and kept; nullptr with the reason when it
// could not be loaded. The helper calls it before its filter, inside which it fails cleanly.
const GifLibrary* LoadGifLibrary(std::string& reason);

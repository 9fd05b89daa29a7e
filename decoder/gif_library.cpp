// giflib's table, resolved by name.
#include "decoder/gif_library.h"

#include "decoder/run_time_library.h"

const char* const kGifLibraryName = "libgif.so.7";

int OpenGifLibrary(const char* soname, GifLibrary& library, std::string& reason) {
#define QUARRO_GIF_SLOT(name) {#name, &library.name},
    return OpenRunTimeLibrary(soname, "GIF pictures", {QUARRO_GIF_FUNCTIONS(QUARRO_GIF_SLOT)}, reason);
#undef QUARRO_GIF_SLOT
}

const GifLibrary* LoadGifLibrary(std::string& reason) { return LoadOnce(OpenGifLibrary, kGifLibraryName, reason); }

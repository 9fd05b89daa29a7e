// libtiff's table, resolved by name.
#include "decoder/tiff_library.h"

#include "decoder/run_time_library.h"

const char* const kTiffLibraryName = "libtiff.so.6";

int OpenTiffLibrary(const char* soname, TiffLibrary& library, std::string& reason) {
#define QUARRO_TIFF_SLOT(name) {"TIFF" #name, &library.name},
    return OpenRunTimeLibrary(soname, "TIFF pictures", {QUARRO_TIFF_FUNCTIONS(QUARRO_TIFF_SLOT)}, reason);
#undef QUARRO_TIFF_SLOT
}

const TiffLibrary* LoadTiffLibrary(std::string& reason) { return LoadOnce(OpenTiffLibrary, kTiffLibraryName, reason); }

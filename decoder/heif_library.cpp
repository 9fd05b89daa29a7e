// libheif's table, resolved by name.
#include "decoder/heif_library.h"

#include "decoder/run_time_library.h"

const char* const kHeifLibraryName = "libheif.so.1";

int OpenHeifLibrary(const char* soname, HeifLibrary& library, std::string& reason) {
#define QUARRO_HEIF_SLOT(name) {"heif_" #name, &library.name},
    return OpenRunTimeLibrary(soname, "HEIF and AVIF pictures", {QUARRO_HEIF_FUNCTIONS(QUARRO_HEIF_SLOT)}, reason);
#undef QUARRO_HEIF_SLOT
}

const HeifLibrary* LoadHeifLibrary(std::string& reason) { return LoadOnce(OpenHeifLibrary, kHeifLibraryName, reason); }

// libstb's table, resolved by name.
#include "decoder/stb_library.h"

#include "decoder/run_time_library.h"

const char* const kStbLibraryName = "libstb.so.0";

int OpenStbLibrary(const char* soname, StbLibrary& library, std::string& reason) {
#define QUARRO_STB_SLOT(name) {"stbi_" #name, &library.name},
    return OpenRunTimeLibrary(soname, "BMP pictures", {QUARRO_STB_FUNCTIONS(QUARRO_STB_SLOT)}, reason);
#undef QUARRO_STB_SLOT
}

const StbLibrary* LoadStbLibrary(std::string& reason) { return LoadOnce(OpenStbLibrary, kStbLibraryName, reason); }

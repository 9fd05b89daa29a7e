// libIL's table, resolved by name.
#include "decoder/il_library.h"

#include "decoder/run_time_library.h"

const char* const kIlLibraryName = "libIL.so.1";

int OpenIlLibrary(const char* soname, IlLibrary& library, std::string& reason) {
#define QUARRO_IL_SLOT(name) {"il" #name, &library.name},
    return OpenRunTimeLibrary(soname, "pictures of this format", {QUARRO_IL_FUNCTIONS(QUARRO_IL_SLOT)}, reason);
#undef QUARRO_IL_SLOT
}

const IlLibrary* LoadIlLibrary(std::string& reason) { return LoadOnce(OpenIlLibrary, kIlLibraryName, reason); }

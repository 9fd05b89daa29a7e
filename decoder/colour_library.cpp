// lcms2's table, resolved by name.
#include "decoder/colour_library.h"

#include "decoder/run_time_library.h"

const char* const kLcmsLibraryName = "liblcms2.so.2";

int OpenLcmsLibrary(const char* soname, LcmsLibrary& library, std::string& reason) {
#define QUARRO_LCMS_SLOT(name) {#name, &library.name},
    return OpenRunTimeLibrary(soname, "Pictures with a colour profile", {QUARRO_LCMS_FUNCTIONS(QUARRO_LCMS_SLOT)},
                              reason);
#undef QUARRO_LCMS_SLOT
}

const LcmsLibrary* LoadLcmsLibrary(std::string& reason) { return LoadOnce(OpenLcmsLibrary, kLcmsLibraryName, reason); }

// The table of libraries opened at run time, and dlopen and dlsym with reasons a user can act on.
#include "decoder/run_time_library.h"

#include <dlfcn.h>

#include <cstring>
#include <vector>

#include "decoder/colour_library.h"
#include "decoder/gif_library.h"
#include "decoder/heif_library.h"
#include "decoder/il_library.h"
#include "decoder/stb_library.h"
#include "decoder/tiff_library.h"
#include "decoder/webp_library.h"

// The slots are function pointers, which POSIX lets dlsym's object pointer stand for.
static_assert(sizeof(void*) == sizeof(void (*)()), "function pointers as wide as object pointers");

namespace {

template <typename Table, const Table* (*load)(std::string&)>
int Load(std::string& reason) {
    return load(reason) != nullptr ? 0 : -1;
}

int LoadNothing(std::string&) { return 0; }

const RunTimeLibraryRow kLibraries[] = {
    {RunTimeLibrary::kNone, "", "", "", LoadNothing},
    {RunTimeLibrary::kHeif, "libheif.so.1", "HEIF and AVIF pictures", "heif_", Load<HeifLibrary, LoadHeifLibrary>},
    {RunTimeLibrary::kIl, "libIL.so.1", "pictures of this format", "il", Load<IlLibrary, LoadIlLibrary>},
    {RunTimeLibrary::kTiff, "libtiff.so.6", "TIFF pictures", "TIFF", Load<TiffLibrary, LoadTiffLibrary>},
    {RunTimeLibrary::kWebp, "libwebp.so.7", "WebP pictures", "WebP", Load<WebpLibrary, LoadWebpLibrary>},
    {RunTimeLibrary::kWebpDemux, "libwebpdemux.so.2", "WebP pictures", "WebP",
     Load<WebpDemuxLibrary, LoadWebpDemuxLibrary>},
    {RunTimeLibrary::kGif, "libgif.so.7", "GIF pictures", "", Load<GifLibrary, LoadGifLibrary>},
    {RunTimeLibrary::kStb, "libstb.so.0", "BMP pictures", "stbi_", Load<StbLibrary, LoadStbLibrary>},
    {RunTimeLibrary::kLcms, "liblcms2.so.2", "Pictures with a colour profile", "", Load<LcmsLibrary, LoadLcmsLibrary>},
};

}  // namespace

const RunTimeLibraryRow& RunTimeLibraryOf(RunTimeLibrary library) {
    for (const RunTimeLibraryRow& row : kLibraries) {
        if (row.library == library) return row;
    }
    return kLibraries[0];
}

int OpenRunTimeLibrary(RunTimeLibrary which, const char* soname, std::initializer_list<RunTimeFunction> functions,
                       std::string& reason) {
    const RunTimeLibraryRow& row = RunTimeLibraryOf(which);
    std::string cannot = std::string(row.users) + " need " + soname + ", which could not be loaded: ";
    // Local: what the library brings stays out of the symbols the rest of the process resolves to.
    void* library = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* why = dlerror();
        reason = cannot + (why != nullptr ? why : "no reason given");
        return -1;
    }
    std::vector<void*> found;
    for (const RunTimeFunction& function : functions) {
        const std::string name = std::string(row.prefix) + function.name;
        found.push_back(dlsym(library, name.c_str()));
        if (found.back() == nullptr) {
            reason = cannot + "it has no function " + name;
            dlclose(library);
            return -1;
        }
    }
    size_t i = 0;
    for (const RunTimeFunction& function : functions) std::memcpy(function.slot, &found[i++], sizeof(void*));
    return 0;
}

// Each library's Open and Load, its functions listed by its header.
#define QUARRO_SLOT(name) {#name, &table.name},
#define QUARRO_RUN_TIME_TABLE(Table, library, FUNCTIONS)                                               \
    int Open##Table(const char* soname, Table& table, std::string& reason) {                           \
        return OpenRunTimeLibrary(library, soname, {FUNCTIONS(QUARRO_SLOT)}, reason);                  \
    }                                                                                                  \
    const Table* Load##Table(std::string& reason) {                                                    \
        return LoadOnce(Open##Table, RunTimeLibraryOf(library).soname, reason);                        \
    }

QUARRO_RUN_TIME_TABLE(HeifLibrary, RunTimeLibrary::kHeif, QUARRO_HEIF_FUNCTIONS)
QUARRO_RUN_TIME_TABLE(IlLibrary, RunTimeLibrary::kIl, QUARRO_IL_FUNCTIONS)
QUARRO_RUN_TIME_TABLE(TiffLibrary, RunTimeLibrary::kTiff, QUARRO_TIFF_FUNCTIONS)
QUARRO_RUN_TIME_TABLE(WebpLibrary, RunTimeLibrary::kWebp, QUARRO_WEBP_FUNCTIONS)
QUARRO_RUN_TIME_TABLE(WebpDemuxLibrary, RunTimeLibrary::kWebpDemux, QUARRO_WEBP_DEMUX_FUNCTIONS)
QUARRO_RUN_TIME_TABLE(GifLibrary, RunTimeLibrary::kGif, QUARRO_GIF_FUNCTIONS)
QUARRO_RUN_TIME_TABLE(StbLibrary, RunTimeLibrary::kStb, QUARRO_STB_FUNCTIONS)
QUARRO_RUN_TIME_TABLE(LcmsLibrary, RunTimeLibrary::kLcms, QUARRO_LCMS_FUNCTIONS)

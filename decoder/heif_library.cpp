// The run-time binding of libheif: one dlopen, one dlsym per function of the table.
#include "decoder/heif_library.h"

#include <dlfcn.h>

const char* const kHeifLibraryName = "libheif.so.1";

namespace {

std::string CouldNotLoad(const char* soname, const std::string& why) {
    return std::string("HEIF and AVIF pictures need ") + soname + ", which could not be loaded: " + why;
}

}  // namespace

int OpenHeifLibrary(const char* soname, HeifLibrary& library, std::string& reason) {
    // Local: the codecs it brings stay out of the symbols the rest of the process resolves to.
    void* handle = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        reason = CouldNotLoad(soname, why != nullptr ? why : "no reason given");
        return -1;
    }
    HeifLibrary found;
    const char* missing = nullptr;
#define QUARRO_HEIF_RESOLVE(name)                                                                \
    found.name = reinterpret_cast<decltype(found.name)>(dlsym(handle, "heif_" #name));          \
    if (found.name == nullptr && missing == nullptr) missing = "heif_" #name;
    QUARRO_HEIF_FUNCTIONS(QUARRO_HEIF_RESOLVE)
#undef QUARRO_HEIF_RESOLVE
    if (missing != nullptr) {
        reason = CouldNotLoad(soname, std::string("it has no function ") + missing);
        dlclose(handle);
        return -1;
    }
    library = found;
    return 0;
}

const HeifLibrary* LoadHeifLibrary(std::string& reason) {
    struct Loaded {
        HeifLibrary library;
        std::string reason;
        int status;
    };
    // Once per process, whichever thread asks first.
    static const Loaded loaded = [] {
        Loaded result;
        result.status = OpenHeifLibrary(kHeifLibraryName, result.library, result.reason);
        return result;
    }();
    if (loaded.status != 0) {
        reason = loaded.reason;
        return nullptr;
    }
    return &loaded.library;
}

// dlopen and dlsym with reasons a user can act on.
#include "decoder/run_time_library.h"

#include <dlfcn.h>

#include <cstring>
#include <vector>

// The slots are function pointers, which POSIX lets dlsym's object pointer stand for.
static_assert(sizeof(void*) == sizeof(void (*)()), "function pointers as wide as object pointers");

int OpenRunTimeLibrary(const char* soname, const char* users, std::initializer_list<RunTimeFunction> functions,
                       std::string& reason) {
    std::string cannot = std::string(users) + " need " + soname + ", which could not be loaded: ";
    // Local: what the library brings stays out of the symbols the rest of the process resolves to.
    void* library = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* why = dlerror();
        reason = cannot + (why != nullptr ? why : "no reason given");
        return -1;
    }
    std::vector<void*> found;
    for (const RunTimeFunction& function : functions) {
        found.push_back(dlsym(library, function.name));
        if (found.back() == nullptr) {
            reason = cannot + "it has no function " + function.name;
            dlclose(library);
            return -1;
        }
    }
    size_t i = 0;
    for (const RunTimeFunction& function : functions) std::memcpy(function.slot, &found[i++], sizeof(void*));
    return 0;
}

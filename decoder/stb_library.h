// stb_image (Debian's libstb), opened at run time (decoder/run_time_library.h): only the BMP
// files the general image library gets wrong need it, and every library linked at build time
// costs each start of the decoding helper its loading.
#pragma once

#include <stb/stb_image.h>

#include <string>

// The functions of libstb that the BMP decoder calls, by their names without "stbi_".
#define QUARRO_STB_FUNCTIONS(X) \
    X(load_from_memory)         \
    X(failure_reason)           \
    X(image_free)

// One pointer per function, typed by the header's own declaration.
struct StbLibrary {
#define QUARRO_STB_MEMBER(name) decltype(&::stbi_##name) name = nullptr;
    QUARRO_STB_FUNCTIONS(QUARRO_STB_MEMBER)
#undef QUARRO_STB_MEMBER
};


// Opens `soname` (the table's, decoder/run_time_library.h, or another) and resolves every
// function into `library`: 0, or -1 with a reason naming the library. It stays loaded.
int OpenStbLibrary(const char* soname, StbLibrary& library, std::string& reason);

// The process's libstb, opened on the first call and kept; nullptr with the reason when it
// could not be loaded. The helper calls it before its filter, inside which it fails cleanly.
const StbLibrary* LoadStbLibrary(std::string& reason);

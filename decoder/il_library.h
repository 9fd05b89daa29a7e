// DevIL's libIL, the general image library, opened at run time (decoder/run_time_library.h):
// only the rarer formats and a few kinds of BMP need it, and with the libraries it brings it
// would cost every start of the decoding helper, PNG and JPEG pictures included.
#pragma once

#include <IL/il.h>

#include <string>

// The functions of libIL that the helper calls, by their names without "il".
#define QUARRO_IL_FUNCTIONS(X) \
    X(Init)                    \
    X(GetInteger)              \
    X(Enable)                  \
    X(OriginFunc)              \
    X(GetError)                \
    X(GenImages)               \
    X(BindImage)               \
    X(DeleteImages)            \
    X(LoadL)                   \
    X(ConvertImage)            \
    X(GetData)

// One pointer per function, typed by the header's own declaration.
struct IlLibrary {
#define QUARRO_IL_MEMBER(name) decltype(&::il##name) name = nullptr;
    QUARRO_IL_FUNCTIONS(QUARRO_IL_MEMBER)
#undef QUARRO_IL_MEMBER
};


// Opens `soname` (the table's, decoder/run_time_library.h, or another) and resolves every
// function into `library`: 0, or -1 with a reason naming the library. It stays loaded.
int OpenIlLibrary(const char* soname, IlLibrary& library, std::string& reason);

// The process's libIL, opened on the first call and kept; nullptr with the reason when it could
// not be loaded. The helper calls it before its filter, inside which it fails cleanly.
const IlLibrary* LoadIlLibrary(std::string& reason);

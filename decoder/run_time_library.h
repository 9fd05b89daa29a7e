// Libraries the decoding helper opens at run time, for the pictures that need them alone: one
// linked at build time costs every start of the helper its loading and relocations, whatever the
// picture. The helper opens them before its filter, inside which no file opens and no code is
// mapped; tests and the fuzz target open them on first use. One table holds what each is: its
// soname, who needs it and how its functions are named; each library's header keeps the
// functions the decoders call.
#pragma once

#include <initializer_list>
#include <string>

enum class RunTimeLibrary { kNone, kHeif, kIl, kTiff, kWebp, kWebpDemux, kGif, kStb, kLcms };

struct RunTimeLibraryRow {
    RunTimeLibrary library;
    const char* soname;
    const char* users;   // for the reason "<users> need <soname>, which could not be loaded: ..."
    const char* prefix;  // of the functions' names, which the libraries' headers list without it
    // Opens it once for the process, its functions resolved: 0, or -1 with the reason.
    int (*load)(std::string& reason);
};

// The row of `library`; kNone's loads nothing.
const RunTimeLibraryRow& RunTimeLibraryOf(RunTimeLibrary library);

// A function to look up: its name without the library's prefix, and the function pointer that
// receives its address.
struct RunTimeFunction {
    const char* name;
    void* slot;
};

// Opens `soname` (the row's, or another in its place) for the rest of the process and sets every
// slot: 0, or -1 with the reason "<users> need <soname>, which could not be loaded: <why>"
// (slots then untouched).
int OpenRunTimeLibrary(RunTimeLibrary library, const char* soname, std::initializer_list<RunTimeFunction> functions,
                       std::string& reason);

// `Table`, filled by `open` on the first call in the process, whichever thread makes it; later
// calls give the same answer. nullptr with the reason when it could not be loaded.
template <typename Table>
const Table* LoadOnce(int (*open)(const char* soname, Table& table, std::string& reason), const char* soname,
                      std::string& reason) {
    struct Loaded {
        Table table;
        std::string reason;
        int status;
    };
    static const Loaded loaded = [&] {
        Loaded result;
        result.status = open(soname, result.table, result.reason);
        return result;
    }();
    if (loaded.status != 0) {
        reason = loaded.reason;
        return nullptr;
    }
    return &loaded.table;
}

// lcms2, the colour engine, opened at run time (decoder/run_time_library.h): only pictures that
// carry a colour description other than sRGB's need it.
#pragma once

#include <lcms2.h>

#include <string>

// The functions of lcms2 that the colour conversion calls, by their full names.
#define QUARRO_LCMS_FUNCTIONS(X)    \
    X(cmsSetLogErrorHandler)        \
    X(cmsOpenProfileFromMem)        \
    X(cmsCloseProfile)              \
    X(cmsCreate_sRGBProfile)        \
    X(cmsCreateRGBProfile)          \
    X(cmsBuildParametricToneCurve)  \
    X(cmsBuildGamma)                \
    X(cmsFreeToneCurve)             \
    X(cmsGetColorSpace)             \
    X(cmsGetProfileInfoASCII)       \
    X(cmsCreateTransform)           \
    X(cmsDeleteTransform)           \
    X(cmsDoTransform)

// One pointer per function, typed by the header's own declaration.
struct LcmsLibrary {
#define QUARRO_LCMS_MEMBER(name) decltype(&::name) name = nullptr;
    QUARRO_LCMS_FUNCTIONS(QUARRO_LCMS_MEMBER)
#undef QUARRO_LCMS_MEMBER
};


// Opens `soname` (the table's, decoder/run_time_library.h, or another) and resolves every
// function into `library`: 0, or -1 with a reason naming the library. It stays loaded.
int OpenLcmsLibrary(const char* soname, LcmsLibrary& library, std::string& reason);

// The process's lcms2, opened on the first call and kept; nullptr with the reason when it could
// not be loaded. The helper calls it before its filter, inside which it fails cleanly.
const LcmsLibrary* LoadLcmsLibrary(std::string& reason);

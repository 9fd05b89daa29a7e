// The Display P3 colour profile that tests and benchmarks embed in the pictures they make: the
// DCI-P3 primaries, D65 white and sRGB's curve, made with lcms2 and named "Display P3".
#pragma once

#include <string>

// The profile's bytes; empty when lcms2 could not make it.
std::string DisplayP3Profile();

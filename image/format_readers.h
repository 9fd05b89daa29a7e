// The rows of the format table, in two groups: the everyday formats (format_readers.cpp) and
// the rarer ones the image library reads (format_readers_rare.cpp). Only format_table.cpp uses these.
#pragma once

#include <cstddef>

#include "image/format_table.h"

extern const ImageFormatRow kEverydayFormatRows[];
extern const size_t kEverydayFormatRowCount;
extern const ImageFormatRow kRareFormatRows[];
extern const size_t kRareFormatRowCount;

inline long long CeilDiv(long long a, long long b) { return (a + b - 1) / b; }

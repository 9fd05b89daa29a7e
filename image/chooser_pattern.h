// The file choosers' patterns grown to every format the program reads, from the one table of
// formats (format_table.h); the format itself is always told from the file's bytes.
#pragma once

#include <string>

// A chooser pattern "*.{a,b,c}" with every extension of a readable picture that it lacks added
// before its closing brace, in the table's order, so that the original pattern stays a prefix
// of the result. Palettes, which hold no picture, are not added. A pattern without braces
// ("*.mrf") comes back unchanged.
std::string WithEveryReadableExtension(const std::string& pattern);

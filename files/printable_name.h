// File names as they go into reasons printed on a terminal: control characters, which could
// move the cursor or recolour the text, are shown escaped instead.
#pragma once

#include <string>

// `name` with control characters escaped C-style ("\n", "\t", "\x1b"), bytes that are not
// UTF-8 as "\xNN", and the backslash as "\\"; printable text, UTF-8 included, unchanged.
std::string PrintableName(const std::string& name);

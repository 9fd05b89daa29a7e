// File names as they go into reasons printed on a terminal or shown in a dialog: control
// characters, which could move the cursor, retitle the terminal or recolour the text, are
// shown escaped instead; everything else is the name as it is.
#pragma once

#include <string>

// `name` with control characters escaped C-style ("\n", "\t", "\x1b") and bytes that are not
// UTF-8 as "\xNN"; printable text, UTF-8 and the backslash included, unchanged, so that a
// message keeps the very name a user typed ("a\b.pal" stays "a\b.pal").
std::string PrintableName(const std::string& name);

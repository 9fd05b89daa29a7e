// File names as reasons print them: what a terminal would obey is escaped, text stays readable.
#include "files/printable_name.h"

#include <gtest/gtest.h>

#include <string>

TEST(PrintableName, EscapesWhatATerminalWouldObey) {
    struct Case { std::string name, printed; } cases[] = {
        {"plain name.png", "plain name.png"},
        {"caf\xc3\xa9 \xe2\x82\xac.png", "caf\xc3\xa9 \xe2\x82\xac.png"},  // UTF-8 stays readable
        {"a\nb\tc\rd", "a\\nb\\tc\\rd"},
        {"\x1b[31mred\x7f", "\\x1b[31mred\\x7f"},
        {"a\\b.pal", "a\\b.pal"},                      // a backslash is a name's own letter
        {"\x1b]0;owned\x07.png", "\\x1b]0;owned\\x07.png"},  // would retitle the terminal
        {"c1 \xc2\x9b" "2J", "c1 \\xc2\\x9b2J"},    // U+009B, the one-byte CSI
        {"raw \x9b" "2J \xff", "raw \\x9b2J \\xff"},  // bytes that are not UTF-8
        {"cut \xe2\x82", "cut \\xe2\\x82"},
    };
    for (const Case& c : cases) EXPECT_EQ(PrintableName(c.name), c.printed) << c.printed;
}

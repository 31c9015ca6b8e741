#pragma once
// How many cells a character takes, by its Unicode properties.
#include <cstdint>

namespace remote::vt {

enum class CharWidth : std::uint8_t {
    None,     // takes no cell and is dropped (format controls such as U+200B)
    Joins,    // joins the character before it (combining marks, ZWJ, variation selectors)
    Narrow,   // one cell
    Wide,     // two cells (East Asian Wide and Fullwidth)
};

// For a printable character (not a C0 or C1 control).
CharWidth char_width(char32_t c);

}  // namespace remote::vt

#pragma once
// The terminal grid as the session screen draws it and as a screen reader reads it.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "views/paint_primitives.hpp"
#include "vt/terminal.hpp"
#include "zavo_ui/color.hpp"
#include "zavo_ui/geometry.hpp"

namespace remote::views {

// Draws the grid into `surface`: the ground, cell backgrounds, the text in runs of like cells
// (each wide character on its own, centred on its two cells), underlines and strike-throughs,
// line drawing and blocks as fills that join across cells, and the cursor while it is visible.
// The same grid gives the same scene.
void paint_terminal(const PaintContext& ctx, const Terminal& terminal, const zavo_ui::Rect& surface);

// The row up to its last cell that shows anything: a space in the default colours, without
// inverse, underline or strike-through, is blank (bold is not looked at).
std::span<const TerminalCell> trim_terminal_rows(std::span<const TerminalCell> row);

// The screen as text: its rows joined by line feeds, each without trailing spaces, except those
// before the cursor on its row. Combining characters follow their character; an invisible
// character reads as a space. The cursor is the byte offset in the text of the cell it is on (of
// a wide character's start).
struct TerminalText {
    std::string text;
    std::size_t cursor = 0;
};
TerminalText terminal_text(const Terminal& terminal);

// xterm's colour of palette index 0-255: the sixteen of the dark terminal palette, the 6 x 6 x 6
// cube, then 24 greys.
const zavo_ui::Color& terminal_palette_colour(std::uint8_t index);

}  // namespace remote::views

#pragma once
// The theme: colour tokens of the dark theme and the terminal palette.
#include <array>

#include "zavo_ui/color.hpp"

namespace zavo_ui::tokens::colors {

struct Colors {
    Color background;      // window ground
    Color surface;         // cards, rail, headers
    Color text_primary;    // headings and names
    Color text_secondary;  // secondary text, hints
    Color success;
    Color warning;
    Color danger;
    Color info;
    Color accent;
    Color device_accent;
    Color scrim;  // dialog scrim, drawn with an alpha of the caller's
    Color focus;  // focus ring

    // The surface raised by `amount` elevation steps (1.0 a full step): used for hover grounds.
    Color lift(float amount) const;

    static Colors dark();

    friend bool operator==(const Colors&, const Colors&) = default;
};

}  // namespace zavo_ui::tokens::colors

namespace zavo_ui::tokens::terminal_palette {

struct TerminalPalette {
    std::array<Color, 16> colors;  // ANSI 0-7, then their bright forms 8-15
    Color foreground;
    Color background;

    static TerminalPalette dark();
};

}  // namespace zavo_ui::tokens::terminal_palette

namespace zavo_ui::theme {

struct Theme {
    tokens::colors::Colors colors;

    static Theme dark() { return Theme{tokens::colors::Colors::dark()}; }
};

// WCAG relative luminance of an sRGB colour (alpha ignored) and the contrast ratio of two
// colours, from 1 to 21.
double relative_luminance(const Color& c);
double contrast_ratio(const Color& a, const Color& b);

}  // namespace zavo_ui::theme

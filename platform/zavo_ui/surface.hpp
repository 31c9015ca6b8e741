#pragma once
// Surfaces and the chrome of the window: cards, pills, edge colours, panels and hairlines.
#include <cstdint>
#include <optional>

#include "zavo_ui/color.hpp"
#include "zavo_ui/geometry.hpp"
#include "zavo_ui/scene.hpp"
#include "zavo_ui/theme.hpp"

namespace zavo_ui::surface {

// The edge colour of a surface of colour `c`: lighter on dark colours, darker on light ones,
// by `strength` (0 none, 255 strongest). edge_on is edge_on_with(c, 40).
Color edge_on_with(const Color& c, std::uint8_t strength);
Color edge_on(const Color& c);

// The rounded rectangle a 1-pixel outline of `rect` follows: inset by half a pixel so the
// line stays inside the rectangle.
RoundedRect edge_outline(const Rect& rect, double radius);

// A card: the rounded rectangle filled with `color` and a 1-pixel edge of edge_on(color).
void card(Scene& scene, const Affine& transform, const Rect& rect, const Color& color, double radius);

// A pill: `rect` filled with `fill`, outlined with `border` when given; the radius defaults to
// half the height (fully round ends).
void pill(Scene& scene, const Affine& transform, const Rect& rect, const Color& fill,
          std::optional<Color> border = std::nullopt, std::optional<double> radius = std::nullopt);

}  // namespace zavo_ui::surface

namespace zavo_ui::chrome::shell {

// Ground and border of a floating panel (dialogs), and the 1-pixel separator colour.
Color panel_ground(const theme::Theme& theme);
Color panel_border(const theme::Theme& theme);
Color chrome_hairline(const theme::Theme& theme);

}  // namespace zavo_ui::chrome::shell

#include "zavo_ui/surface.hpp"

#include <algorithm>

namespace zavo_ui::surface {

Color edge_on_with(const Color& c, std::uint8_t strength) {
    float t = float(strength) / 255.0f * 0.4f;
    const Color& toward = theme::relative_luminance(c) > 0.4 ? colors::BLACK : colors::WHITE;
    return c.mix(toward, t).with_alpha(c.a);
}

Color edge_on(const Color& c) { return edge_on_with(c, 40); }

RoundedRect edge_outline(const Rect& rect, double radius) {
    Rect r = rect.abs();
    double inset = std::min({0.5, r.width() / 2.0, r.height() / 2.0});
    return RoundedRect::from_rect(r.inset(inset), std::max(0.0, radius - inset));
}

void card(Scene& scene, const Affine& transform, const Rect& rect, const Color& color, double radius) {
    scene.fill_color(transform, color, RoundedRect::from_rect(rect, radius));
    scene.stroke_color(transform, Stroke::of_width(1.0), edge_on(color), edge_outline(rect, radius));
}

void pill(Scene& scene, const Affine& transform, const Rect& rect, const Color& fill, std::optional<Color> border,
          std::optional<double> radius) {
    double r = radius.value_or(rect.abs().height() / 2.0);
    scene.fill_color(transform, fill, RoundedRect::from_rect(rect, r));
    if (border) scene.stroke_color(transform, Stroke::of_width(1.0), *border, edge_outline(rect, r));
}

}  // namespace zavo_ui::surface

namespace zavo_ui::chrome::shell {

Color panel_ground(const theme::Theme& theme) { return theme.colors.lift(0.35f); }

Color panel_border(const theme::Theme& theme) { return surface::edge_on_with(panel_ground(theme), 92); }

Color chrome_hairline(const theme::Theme& theme) { return surface::edge_on_with(theme.colors.surface, 60); }

}  // namespace zavo_ui::chrome::shell

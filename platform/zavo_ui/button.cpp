#include "zavo_ui/button.hpp"

#include "zavo_ui/surface.hpp"

namespace zavo_ui::widget::button {

void Button::paint(Scene& scene, const Affine& transform, const text_render::TextRenderer& text,
                   const theme::Theme& theme) const {
    const auto& c = theme.colors;
    Color fill;
    std::optional<Color> border;
    Color ink;
    switch (style) {
        case PRIMARY:
            fill = hovered ? c.accent.mix(colors::WHITE, 0.14f) : c.accent;
            ink = c.background;
            break;
        case DESTRUCTIVE:
            fill = hovered ? c.danger.mix(colors::WHITE, 0.14f) : c.danger;
            ink = c.background;
            break;
        case DESTRUCTIVE_OUTLINE:
            fill = c.danger.with_alpha(hovered ? 0.14f : 0.06f);
            border = c.danger.with_alpha(hovered ? 1.0f : 0.75f);
            ink = hovered ? c.danger.mix(colors::WHITE, 0.2f) : c.danger;
            break;
        default:
            fill = c.lift(hovered ? 1.6f : 0.9f);
            border = surface::edge_on_with(fill, hovered ? 92 : 48);
            ink = c.text_primary;
            break;
    }
    RoundedRect shape = RoundedRect::from_rect(rect, radius);
    scene.fill_color(transform, fill, shape);
    if (border) scene.stroke_color(transform, Stroke::of_width(1.0), *border, surface::edge_outline(rect, radius));

    auto m = text.measure_weighted(label, text_size, weight);
    Point mid = rect.abs().center();
    text.draw_text_weighted(scene, transform.pre_translate(mid.x - m.width / 2.0, mid.y - m.height / 2.0), label,
                            text_size, weight, ink);
}

}  // namespace zavo_ui::widget::button

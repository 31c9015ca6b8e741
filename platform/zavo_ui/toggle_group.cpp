#include "zavo_ui/toggle_group.hpp"

#include <algorithm>

#include "zavo_ui/surface.hpp"

namespace zavo_ui::widget::toggle_group {

void ToggleGroup::paint(Scene& scene, const Affine& transform, const text_render::TextRenderer& text,
                        const theme::Theme& theme) const {
    if (segments.empty()) return;
    const auto& c = theme.colors;
    Rect track = segments.front().abs();
    for (const auto& s : segments) {
        Rect a = s.abs();
        track = {std::min(track.x0, a.x0), std::min(track.y0, a.y0), std::max(track.x1, a.x1),
                 std::max(track.y1, a.y1)};
    }
    surface::card(scene, transform, track, c.background, radius);

    const double inner_radius = std::max(0.0, radius - 3.0);
    for (std::size_t i = 0; i < segments.size(); ++i) {
        Rect seg = segments[i].abs().inset(3.0);
        bool is_selected = i == selected;
        bool is_hovered = hovered && *hovered == i;
        if (is_selected) {
            scene.fill_color(transform, c.lift(1.2f), RoundedRect::from_rect(seg, inner_radius));
            scene.fill_color(transform, c.accent.with_alpha(0.16f), RoundedRect::from_rect(seg, inner_radius));
            scene.stroke_color(transform, Stroke::of_width(1.0), c.accent.with_alpha(0.7f),
                               surface::edge_outline(seg, inner_radius));
        } else if (is_hovered) {
            scene.fill_color(transform, c.lift(0.7f), RoundedRect::from_rect(seg, inner_radius));
        }
        if (i >= labels.size()) continue;
        std::uint8_t weight = is_selected ? 2 : 1;
        auto m = text.measure_weighted(labels[i], text_size, weight);
        Point mid = segments[i].abs().center();
        text.draw_text_weighted(scene, transform.pre_translate(mid.x - m.width / 2.0, mid.y - m.height / 2.0),
                                labels[i], text_size, weight,
                                is_selected || is_hovered ? c.text_primary : c.text_secondary);
    }
}

}  // namespace zavo_ui::widget::toggle_group

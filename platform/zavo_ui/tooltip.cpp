#include "zavo_ui/tooltip.hpp"

#include <algorithm>

#include "zavo_ui/surface.hpp"

namespace zavo_ui::widget::tooltip {

namespace {
constexpr float TEXT_SIZE = 12.0f;
constexpr double PAD_X = 8.0;
constexpr double PAD_Y = 5.0;
constexpr double GAP = 6.0;
constexpr double MARGIN = 8.0;
constexpr double MAX_TEXT_WIDTH = 280.0;
}  // namespace

bool TooltipHost::on_pointer(std::optional<HoverTarget> target, Instant now) {
    if (suppressed_ && target == suppressed_) return false;
    suppressed_.reset();
    if (target == target_) return false;
    target_ = std::move(target);
    since_ = now;
    shown_ = false;
    return true;
}

bool TooltipHost::dismiss() {
    if (!target_) return false;
    suppressed_ = std::move(target_);
    target_.reset();
    shown_ = false;
    return true;
}

bool TooltipHost::tick(Instant now) {
    if (!target_ || shown_ || now - since_ < delay_) return false;
    shown_ = true;
    return true;
}

Rect tooltip_rect(const text_render::TextRenderer& text, const Rect& anchor, std::string_view tip, const Rect& window) {
    auto m = text.measure(tip, TEXT_SIZE, MAX_TEXT_WIDTH);
    double w = m.width + 2 * PAD_X;
    double h = m.height + 2 * PAD_Y;
    Rect a = anchor.abs();
    double x0 = a.center().x - w / 2.0;
    x0 = std::min(x0, window.x1 - MARGIN - w);
    x0 = std::max(x0, window.x0 + MARGIN);
    double y0 = a.y1 + GAP;
    if (y0 + h > window.y1 - MARGIN && a.y0 - GAP - h >= window.y0 + MARGIN) y0 = a.y0 - GAP - h;
    return {x0, y0, x0 + w, y0 + h};
}

void draw_hover_tooltip(Scene& scene, const Affine& transform, const text_render::TextRenderer& text,
                        const theme::Theme& theme, const Rect& anchor, std::string_view tip, const Rect& window) {
    if (tip.empty()) return;
    Rect r = tooltip_rect(text, anchor, tip, window);
    Color ground = chrome::shell::panel_ground(theme);
    scene.fill_color(transform, ground, RoundedRect::from_rect(r, 6.0));
    scene.stroke_color(transform, Stroke::of_width(1.0), chrome::shell::panel_border(theme),
                       surface::edge_outline(r, 6.0));
    text.draw_text(scene, transform.pre_translate(r.x0 + PAD_X, r.y0 + PAD_Y), tip, TEXT_SIZE,
                   theme.colors.text_primary, MAX_TEXT_WIDTH);
}

}  // namespace zavo_ui::widget::tooltip

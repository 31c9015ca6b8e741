// The widget gallery: every framework widget in each of its states, in one window. Run it to
// try the widgets with a real keyboard and pointer; `make screenshots` renders it to PNG.
//
//   zavo_ui_gallery [--view-state widgets|text|colors] [--size WxH] [--scale F] [--screenshot FILE.png]
#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/full_size_leaf.hpp"
#include "zavo_ui/button.hpp"
#include "zavo_ui/launch.hpp"
#include "zavo_ui/nav_split.hpp"
#include "zavo_ui/surface.hpp"
#include "zavo_ui/text_input.hpp"
#include "zavo_ui/text_render.hpp"
#include "zavo_ui/theme.hpp"
#include "zavo_ui/toggle_group.hpp"
#include "zavo_ui/tooltip.hpp"
#include "zavo_ui/widget.hpp"

namespace {

using namespace zavo_ui;
using widget::button::Button;
using widget::text_input::TextInput;
using widget::toggle_group::ToggleGroup;
using widget::tooltip::HoverTarget;
using widget::tooltip::TooltipHost;

constexpr double kMargin = 32;

class Gallery : public Widget {
public:
    explicit Gallery(std::string view) : view_(std::move(view)) {
        inputs_[0] = TextInput::local().with_placeholder("Search saved connections");
        inputs_[1] = TextInput::local().with_placeholder("Host name or IP address");
        inputs_[1].set_text("build-box.example.net");
        inputs_[1].focus();
        inputs_[1].caret_visible = true;
        inputs_[1].set_cursor(0);
        inputs_[1].set_cursor(9, true);  // "build-box" selected
        inputs_[2].set_text_with_cursor_at_end(
            "a text much longer than its field, scrolled so that the caret at its end stays in view");
        inputs_[2].focus();
        inputs_[2].caret_visible = true;
        inputs_[3] = TextInput::local().with_placeholder("Type here");
    }

    layout::NodeId build_layout(layout::LayoutTree& tree, layout::NodeWidgetMap& widgets) override {
        return test_support::full_size_leaf(tree, widgets, this);
    }

    void layout(const layout::LayoutTree& tree, layout::NodeId node, Point origin) override {
        bounds_ = test_support::placed_rect(tree, node, origin);
        redraw_ = true;
    }

    std::optional<std::string> widget_name() override { return "Gallery"; }
    std::optional<Rect> bounds() override { return bounds_; }

    void paint(Scene& scene, const Affine& t, text_render::TextRenderer& text, const theme::Theme& theme,
               DrawContext& draw) override {
        buttons_.clear();
        tooltip_.tick(draw.now);
        const auto& c = theme.colors;
        scene.fill_color(t, c.background, bounds_);
        if (view_ == "colors") {
            paint_colors(scene, t, text, theme);
        } else if (view_ == "text") {
            paint_text(scene, t, text, theme);
        } else {
            paint_widgets(scene, t, text, theme, draw);
        }
        if (const HoverTarget* tip = tooltip_.showing()) {
            widget::tooltip::draw_hover_tooltip(scene, t, text, theme, tip->anchor, tip->text, bounds_);
        }
    }

    void handle_event(const event::Event& e, event::Modifiers modifiers, EventContext& ctx, bool& handled,
                      double scale) override {
        if (const auto* moved = std::get_if<event::PointerMoved>(&e)) {
            pointer_ = Point{moved->x / scale, moved->y / scale};
            std::optional<HoverTarget> target;
            for (const auto& [rect, tip] : buttons_) {
                if (rect.contains(pointer_)) target = HoverTarget{rect, tip};
            }
            if (tooltip_.on_pointer(target, ctx.now)) redraw_ = true;
            redraw_ = true;  // hover states follow the pointer
        } else if (std::holds_alternative<event::PointerLeft>(e)) {
            pointer_ = Point{-1, -1};
            tooltip_.on_pointer(std::nullopt, ctx.now);
            redraw_ = true;
        } else if (tooltip_.dismiss()) {
            redraw_ = true;
        }
        if (const auto* b = std::get_if<event::Button>(&e);
            b && b->button == event::PointerButton::Primary && b->state == event::ElementState::Pressed) {
            for (std::size_t i = 0; i < buttons_.size() && i < 4; ++i) {
                if (buttons_[i].first.contains(pointer_)) status_ = "Pressed " + buttons_[i].second;
            }
            TextInput& live = inputs_[3];
            if (live.rect().contains(pointer_) || (live_card_.contains(pointer_))) {
                live.focus();
                live.caret_visible = true;
            } else {
                live.blur();
                live.caret_visible = false;
            }
            redraw_ = true;
        }
        if (inputs_[3].focused) {
            bool used = false;
            inputs_[3].handle_event(e, modifiers, ctx, used, scale);
            if (used) redraw_ = true;
            handled = handled || used;
        }
    }

    // The resting buttons, the field to type in and a live status line, for assistive technology.
    std::optional<a11y::AccessNode> accessibility_tree() override {
        using a11y::AccessNode;
        using a11y::AccessRole;
        std::vector<AccessNode> buttons;
        for (std::size_t i = 0; i < buttons_.size() && i < 4; ++i) {
            const std::string label = buttons_[i].second;
            AccessNode b = AccessNode(AccessRole::Button).with_label(label).with_element_id("gallery.button:" + label);
            b.bounds = buttons_[i].first;
            b.focusable = true;
            buttons.push_back(std::move(b));
        }
        AccessNode field = AccessNode(AccessRole::TextField)
                               .with_label("Type here")
                               .with_value(inputs_[3].text())
                               .with_element_id("gallery.field:live");
        field.bounds = live_card_;
        field.focusable = true;
        field.focused = inputs_[3].focused;
        AccessNode status = AccessNode(AccessRole::StaticText).with_label(status_).with_node_id("gallery.status");
        status.live = a11y::Live::Polite;
        std::vector<AccessNode> children;
        children.push_back(AccessNode(AccessRole::Group)
                               .with_label("Buttons")
                               .with_node_id("gallery.buttons")
                               .with_children(std::move(buttons)));
        children.push_back(std::move(field));
        children.push_back(std::move(status));
        AccessNode root =
            AccessNode(AccessRole::Window).with_label("Widget gallery").with_children(std::move(children));
        root.bounds = bounds_;
        return root;
    }

    bool activate_element(std::string_view id, const a11y::SemanticAction& action, EventContext&) override {
        using a11y::SemanticActionKind;
        if (id.starts_with("gallery.button:") && action.kind == SemanticActionKind::Activate) {
            status_ = "Pressed " + std::string(id.substr(15));
        } else if (id == "gallery.field:live" && action.kind == SemanticActionKind::SetValue && action.text) {
            inputs_[3].set_text_with_cursor_at_end(*action.text);
            status_ = "Typed " + *action.text;
        } else if (id == "gallery.field:live" &&
                   (action.kind == SemanticActionKind::Focus || action.kind == SemanticActionKind::Activate)) {
            inputs_[3].focus();
            inputs_[3].caret_visible = true;
        } else {
            return false;
        }
        redraw_ = true;
        return true;
    }

    bool wants_animation_frame() override { return tooltip_.pending(); }
    bool needs_redraw() override { return redraw_; }
    void clear_redraw() override { redraw_ = false; }
    void collect_damage(std::vector<Rect>& damage) override {
        if (redraw_) damage.push_back(bounds_);
    }

private:
    void heading(Scene& scene, const Affine& t, const text_render::TextRenderer& text, const theme::Theme& theme,
                 double x, double y, std::string_view label) {
        text.draw_text_weighted(scene, t.pre_translate(x, y), label, 13, 2, theme.colors.text_secondary);
    }

    void paint_widgets(Scene& scene, const Affine& t, const text_render::TextRenderer& text, const theme::Theme& theme,
                       DrawContext& draw) {
        const auto& c = theme.colors;
        double y = bounds_.y0 + 24;
        text.draw_text_weighted(scene, t.pre_translate(kMargin, y), "Widget gallery", 22, 3, c.text_primary);
        text.draw_text(scene, t.pre_translate(kMargin + 240, y + 7), status_, 13, c.text_secondary);
        y += 44;

        // Buttons: every style, resting and hovered.
        heading(scene, t, text, theme, kMargin, y, "Buttons: secondary, primary, destructive, destructive outline");
        y += 24;
        const std::array<std::pair<std::uint8_t, const char*>, 4> styles = {
            {{widget::button::SECONDARY, "Cancel"},
             {widget::button::PRIMARY, "Save connection"},
             {widget::button::DESTRUCTIVE, "Delete"},
             {widget::button::DESTRUCTIVE_OUTLINE, "Disconnect"}}};
        for (int row = 0; row < 2; ++row) {
            double x = kMargin;
            for (const auto& [style, label] : styles) {
                Button b{label, Rect{x, y, x + 150, y + 34}};
                b.style = style;
                b.hovered = row == 1 || b.rect.contains(pointer_);
                b.paint(scene, t, text, theme);
                buttons_.push_back({b.rect, std::string(label) + (row == 1 ? " (hovered)" : "")});
                x += 166;
            }
            text.draw_text(scene, t.pre_translate(x, y + 9), row == 0 ? "resting" : "hovered", 12, c.text_secondary);
            y += 46;
        }

        // Toggle groups.
        y += 8;
        heading(scene, t, text, theme, kMargin, y, "Toggle group: selected and hovered segments; none selected");
        y += 24;
        auto group = [&](double x, std::size_t selected, std::optional<std::size_t> hovered) {
            ToggleGroup g;
            g.labels = {"SSH", "VNC", "Zavo device"};
            for (int i = 0; i < 3; ++i) g.segments.push_back(Rect{x + i * 100.0, y, x + (i + 1) * 100.0, y + 34});
            g.selected = selected;
            g.hovered = hovered;
            for (std::size_t i = 0; i < g.segments.size(); ++i) {
                if (g.segments[i].contains(pointer_)) g.hovered = i;
            }
            g.paint(scene, t, text, theme);
        };
        group(kMargin, 0, std::nullopt);
        group(kMargin + 330, 1, 2);
        group(kMargin + 660, 3, std::nullopt);
        y += 56;

        // Text inputs.
        heading(scene, t, text, theme, kMargin, y,
                "Text inputs: placeholder, focused with a selection, scrolled, and one to type in");
        y += 24;
        for (std::size_t i = 0; i < inputs_.size(); ++i) {
            const double x = kMargin + double(i % 2) * 500;
            const double top = y + double(i / 2) * 52;
            const Rect card{x, top, x + 460, top + 38};
            if (i == 3) live_card_ = card;
            surface::card(scene, t, card, c.surface, 8);
            if (inputs_[i].focused) {
                scene.stroke_color(t, Stroke::of_width(2), c.focus, surface::edge_outline(card, 8));
            }
            inputs_[i].text_size = 14;
            inputs_[i].external_frame = true;
            inputs_[i].apply_layout_external(Rect{card.x0 + 12, card.y0 + 9, card.x1 - 12, card.y1 - 9});
            inputs_[i].draw(scene, t, text, theme, draw);
        }
        y += 2 * 52 + 12;

        // Surfaces, flap progress and the tooltip.
        heading(scene, t, text, theme, kMargin, y, "Card, pills, navigation flap (closed, half, open) and a tooltip");
        y += 24;
        surface::card(scene, t, Rect{kMargin, y, kMargin + 220, y + 80}, c.surface, 12);
        text.draw_text_weighted(scene, t.pre_translate(kMargin + 16, y + 14), "Build box", 16, 2, c.text_primary);
        text.draw_text(scene, t.pre_translate(kMargin + 16, y + 40), "ssh · 10.0.0.7:22", 13, c.text_secondary);
        double px = kMargin + 240;
        for (const auto& [label, color] : std::array<std::pair<const char*, Color>, 4>{
                 {{"SSH", c.success}, {"VNC", c.info}, {"RDP", c.warning}, {"Zavo", c.device_accent}}}) {
            const double w = text.measure_weighted(label, 11, 2).width + 16;
            surface::pill(scene, t, Rect{px, y + 4, px + w, y + 24}, color.with_alpha(0.18f));
            text.draw_text_weighted(scene, t.pre_translate(px + 8, y + 6), label, 11, 2, color);
            px += w + 8;
        }
        double fx = kMargin + 540;
        for (double progress : {0.0, 0.5, 1.0}) {
            widget::nav_split::FlapState flap(progress);
            const Rect track{fx, y, fx + 64, y + 80};
            scene.fill_color(t, c.surface, track);
            scene.fill_color(t, c.accent.with_alpha(0.6f), Rect{fx, y, fx + 64 * flap.reveal(), y + 80});
            text.draw_text(scene, t.pre_translate(fx, y + 86),
                           progress == 0.0   ? "closed"
                           : progress == 1.0 ? "open"
                                             : "half",
                           12, c.text_secondary);
            fx += 80;
        }
        const Rect anchor{fx + 40, y + 4, fx + 140, y + 30};
        Button tip_button{"Hover me", anchor};
        tip_button.paint(scene, t, text, theme);
        widget::tooltip::draw_hover_tooltip(scene, t, text, theme, anchor, "Add connection (Ctrl+N)", bounds_);
    }

    void paint_text(Scene& scene, const Affine& t, const text_render::TextRenderer& text, const theme::Theme& theme) {
        const auto& c = theme.colors;
        double y = bounds_.y0 + 24;
        for (std::uint8_t weight = 0; weight <= 3; ++weight) {
            text.draw_text_weighted(scene, t.pre_translate(kMargin, y),
                                    "Remote Machines — weight " + std::to_string(weight), 22, weight, c.text_primary);
            y += text.measure_weighted("Hg", 22, weight).height + 8;
        }
        for (float size : {11.0f, 12.0f, 12.5f, 13.0f, 13.5f, 14.0f, 16.0f}) {
            text.draw_text(scene, t.pre_translate(kMargin, y),
                           "The quick brown fox jumps over the lazy dog · " + std::to_string(size).substr(0, 4) + " px",
                           size, c.text_secondary);
            y += text.measure("Hg", size).height + 4;
        }
        y += 12;
        const TextStyle mono{14, 0, std::nullopt, FontFamily::Mono};
        for (const char* line :
             {"user@build-box:~$ ls -la /etc | head", "drwxr-xr-x 142 root root 12288 Dec 10 09:54 .",
              "0123456789012345678901234567890123456789 (40 cells = 336 px)"}) {
            text.draw_styled(scene, t.pre_translate(kMargin, y), line, mono, c.text_primary);
            y += 21;
        }
        y += 12;
        text.draw_text(
            scene, t.pre_translate(kMargin, y),
            "Wrapped text breaks at spaces to fit its width; this paragraph is wrapped to 420 pixels so that "
            "it takes several lines.",
            13.5f, c.text_secondary, 420.0);
    }

    void paint_colors(Scene& scene, const Affine& t, const text_render::TextRenderer& text, const theme::Theme& theme) {
        const auto& c = theme.colors;
        const std::array<std::pair<const char*, Color>, 12> tokens = {{{"background", c.background},
                                                                       {"surface", c.surface},
                                                                       {"text_primary", c.text_primary},
                                                                       {"text_secondary", c.text_secondary},
                                                                       {"success", c.success},
                                                                       {"warning", c.warning},
                                                                       {"danger", c.danger},
                                                                       {"info", c.info},
                                                                       {"accent", c.accent},
                                                                       {"device_accent", c.device_accent},
                                                                       {"scrim", c.scrim},
                                                                       {"focus", c.focus}}};
        double x = kMargin, y = bounds_.y0 + 24;
        for (const auto& [name, color] : tokens) {
            surface::card(scene, t, Rect{x, y, x + 180, y + 90}, color, 10);
            text.draw_text(scene, t.pre_translate(x, y + 96), name, 13, c.text_primary);
            x += 200;
            if (x + 180 > bounds_.x1) x = kMargin, y += 130;
        }
    }

    std::string view_;
    Rect bounds_;
    Point pointer_{-1, -1};
    bool redraw_ = true;
    std::array<TextInput, 4> inputs_;
    Rect live_card_;
    TooltipHost tooltip_;
    std::vector<std::pair<Rect, std::string>> buttons_;
    std::string status_ = "Nothing pressed yet";
};

}  // namespace

int main() {
    zavo_ui::launch::LaunchSpec spec;
    spec.app_id = "dev.zavo.Gallery";
    spec.view_states = {"widgets", "text", "colors"};
    spec.build_initial_state =
        [](const zavo_ui::launch::LaunchOptions& options) -> std::expected<zavo_ui::launch::RootWidget, std::string> {
        return std::make_unique<Gallery>(options.view_state.value_or("widgets"));
    };
    spec.window_size = [] { return zavo_ui::launch::WindowSize{1080, 720}; };
    zavo_ui::launch::run_or_exit(spec);
    return 0;
}

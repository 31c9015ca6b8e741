#pragma once
// What every painter of the window shares: the frame's paint context, a few colour and text
// helpers, and the small controls drawn the same way everywhere (input card, button,
// segmented control, field label, rail item, header button, problem card).
//
// Geometry is in logical pixels, window space; every shape is drawn under the base transform
// and every text at the base transform translated to the top-left corner of its box.
#include "app/remote_app.hpp"
#include "profiles/saved_connection.hpp"
#include "zavo_ui/button.hpp"
#include "zavo_ui/color.hpp"
#include "zavo_ui/geometry.hpp"
#include "zavo_ui/scene.hpp"
#include "zavo_ui/text_render.hpp"
#include "zavo_ui/theme.hpp"
#include "zavo_ui/widget.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace remote::views {

// The width of the navigation rail.
inline constexpr double kRailWidth = 64.0;

// The arguments of one paint, handed to every painter.
struct PaintContext {
    zavo_ui::Scene& scene;
    zavo_ui::Affine transform;  // the base transform
    const zavo_ui::text_render::TextRenderer& text;
    const zavo_ui::theme::Theme& theme;
    zavo_ui::DrawContext& draw;  // handed on to the text inputs untouched

    const zavo_ui::tokens::colors::Colors& colors() const { return theme.colors; }

    void fill(const zavo_ui::Color& color, zavo_ui::Shape shape) const {
        scene.fill_color(transform, color, std::move(shape));
    }
    // A round stroke (round joins and caps) of `width`.
    void stroke(const zavo_ui::Color& color, zavo_ui::Shape shape, double width = 1.0) const {
        scene.stroke_color(transform, zavo_ui::Stroke::of_width(width), color, std::move(shape));
    }
    // A rounded rectangle, every corner min(radius, half the shorter side).
    static zavo_ui::RoundedRect rounded(const zavo_ui::Rect& rect, double radius) {
        return zavo_ui::RoundedRect::from_rect(rect, radius);
    }

    zavo_ui::text_render::TextMetrics measure(std::string_view s, float size, std::uint8_t weight = 0,
                                              std::optional<double> wrap = std::nullopt) const {
        return text.measure_weighted(s, size, weight, wrap);
    }
    // Draws `s` with the top-left corner of its box at (x, y).
    void draw_text(std::string_view s, double x, double y, float size, std::uint8_t weight, const zavo_ui::Color& color,
                   std::optional<double> wrap = std::nullopt) const {
        text.draw_text_weighted(scene, transform.pre_translate(x, y), s, size, weight, color, wrap);
    }
    // A text drawn as exactly its characters (hosts, ports, ids, key fingerprints), measured
    // and drawn in the same style.
    static zavo_ui::TextStyle verbatim_style(float size, zavo_ui::FontFamily family = zavo_ui::FontFamily::Sans,
                                             std::optional<double> wrap = std::nullopt) {
        zavo_ui::TextStyle style{size, 0, wrap, family};
        style.verbatim = true;
        return style;
    }
    zavo_ui::text_render::TextMetrics measure_verbatim(std::string_view s, float size,
                                                       zavo_ui::FontFamily family = zavo_ui::FontFamily::Sans,
                                                       std::optional<double> wrap = std::nullopt) const {
        return text.measure_styled(s, verbatim_style(size, family, wrap));
    }
    void draw_verbatim(std::string_view s, double x, double y, float size, const zavo_ui::Color& color,
                       zavo_ui::FontFamily family = zavo_ui::FontFamily::Sans,
                       std::optional<double> wrap = std::nullopt) const {
        text.draw_styled(scene, transform.pre_translate(x, y), s, verbatim_style(size, family, wrap), color);
    }
    // Draws `s` centred horizontally on `cx`, top at `y`; returns its measured box.
    zavo_ui::text_render::TextMetrics draw_text_centered(std::string_view s, double cx, double y, float size,
                                                         std::uint8_t weight, const zavo_ui::Color& color,
                                                         std::optional<double> wrap = std::nullopt) const {
        const auto m = measure(s, size, weight, wrap);
        draw_text(s, cx - m.width / 2.0, y, size, weight, color, wrap);
        return m;
    }
};

// Clips what is drawn and the hit regions pushed to `rect`, within the clip already set, for as
// long as it lives.
class ClippedArea {
public:
    ClippedArea(RemoteApp& app, const PaintContext& ctx, const zavo_ui::Rect& rect);
    ~ClippedArea();
    ClippedArea(const ClippedArea&) = delete;
    ClippedArea& operator=(const ClippedArea&) = delete;

private:
    RemoteApp& app_;
    zavo_ui::Scene& scene_;
    std::optional<zavo_ui::Rect> outer_;
};

// The height measured for "Hg" at `size`, weight 2, unwrapped.
double text_line_height(const zavo_ui::text_render::TextRenderer& text, float size);
// The width measured for `s` at `size`, weight 2, unwrapped.
double text_width(const zavo_ui::text_render::TextRenderer& text, std::string_view s, float size);
zavo_ui::Color rgba8_to_color(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a);
// The colour's 8-bit red, green and blue with the alpha byte of `alpha` (clamped to 0..1).
zavo_ui::Color color_with_alpha(const zavo_ui::Color& color, float alpha);
// The selected-card fill and the outline on a surface of `color`.
std::pair<zavo_ui::Color, zavo_ui::Color> surface_edges(const zavo_ui::Color& color);
// The last pointer position lies in `rect` (x0 <= x < x1, y0 <= y < y1), and no cover drawn
// later in the frame lies over it there.
bool hovered(const RemoteApp& app, const zavo_ui::Rect& rect);
// `s` when it is at most `max_width` wide at this size and weight, else its longest prefix
// that fits followed by "…" (or "…" alone).
std::string elide(const zavo_ui::text_render::TextRenderer& text, std::string_view s, float size, std::uint8_t weight,
                  double max_width);
// The connection's target (`target_label`) followed by `suffix`, in at most `max_width` as
// drawn verbatim: the ":port" and the suffix stay whole while the host, or a long user, gives
// way in its middle.
std::string elide_target(const zavo_ui::text_render::TextRenderer& text, const SavedConnection& connection, float size,
                         std::uint8_t weight, double max_width, std::string_view suffix = {});

struct ButtonSpec {
    std::string_view label;
    zavo_ui::Rect rect;
    std::uint8_t style = zavo_ui::widget::button::SECONDARY;  // a framework button style byte
};

struct HeaderButtonSpec {
    std::string_view label;
    double right = 0.0;  // the button's right edge
    zavo_ui::Rect bar;   // the button is centred on its vertical middle
};

struct RailItem {
    std::string_view glyph;
    zavo_ui::Rect rail;
    unsigned index = 0;  // 0 for the first button
    bool selected = false;
};

// An SSH host key set apart from the sentence about it: a caption (may be empty), then its
// algorithm and fingerprint drawn as exactly their characters, broken only where a line is full.
struct KeyBlock {
    std::string caption;
    HostKeyIdentity identity;
};

struct ProblemCard {
    zavo_ui::Rect area;  // the card is centred in it
    std::string_view title;
    std::vector<std::string> paragraphs;
    const SavedConnection& connection;
    std::uint8_t mode = 0;  // 0 neutral, 1 pending, 2 error
    bool offer_edit = false;
    std::vector<KeyBlock> keys = {};  // shown after the first paragraph
};

// One of the six text inputs on a card of `rect`, with the focus ring when it has the focus.
void paint_input_card(RemoteApp& app, const PaintContext& ctx, const zavo_ui::Rect& rect, InputSlot slot);
// A framework button, hovered when the pointer is on it, 13 px text.
void paint_button(const RemoteApp& app, const PaintContext& ctx, const ButtonSpec& spec);
// Adjacent segments; none selected when `selected` is none.
void paint_segmented_control(const RemoteApp& app, const PaintContext& ctx, std::vector<zavo_ui::Rect> segments,
                             std::vector<std::string> labels, std::optional<std::size_t> selected);
// A form label at (x, y); returns the y where the control under it starts.
double paint_field_label(const PaintContext& ctx, std::string_view label, double x, double y);
// A 40 x 40 navigation button on the rail; returns its rectangle.
zavo_ui::Rect paint_rail_item(const RemoteApp& app, const PaintContext& ctx, const RailItem& item);
// A secondary button sized to its label, right-aligned; returns its rectangle.
zavo_ui::Rect paint_header_button(const RemoteApp& app, const PaintContext& ctx, const HeaderButtonSpec& spec);
// The height of `block` set `width` wide.
double key_block_height(const PaintContext& ctx, const KeyBlock& block, double width);
// Draws `block` `width` wide with its top-left corner at (x, y); returns its height.
double paint_key_block(const PaintContext& ctx, const KeyBlock& block, double x, double y, double width);
// The large status card of the session screen; pushes the hit regions of its buttons. A
// paragraph wider than the card is wrapped, each of its lines taking a paragraph's place; the
// key blocks follow the first paragraph.
void paint_problem_card(RemoteApp& app, const PaintContext& ctx, const ProblemCard& card);

}  // namespace remote::views

#include "views/paint_primitives.hpp"

#include "zavo_ui/color_compat.hpp"
#include "zavo_ui/surface.hpp"
#include "zavo_ui/toggle_group.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <fmt/format.h>

namespace remote::views {

using zavo_ui::Color;
using zavo_ui::Rect;

ClippedArea::ClippedArea(RemoteApp& app, const PaintContext& ctx, const Rect& rect)
    : app_(app), scene_(ctx.scene), outer_(app.hit_clip) {
    scene_.push_clip(ctx.transform, rect);
    app_.hit_clip = outer_ ? outer_->intersect(rect) : rect;
}

ClippedArea::~ClippedArea() {
    scene_.pop_layer();
    app_.hit_clip = outer_;
}

double text_line_height(const zavo_ui::text_render::TextRenderer& text, float size) {
    return text.measure_weighted("Hg", size, 2).height;
}

double text_width(const zavo_ui::text_render::TextRenderer& text, std::string_view s, float size) {
    return text.measure_weighted(s, size, 2).width;
}

Color rgba8_to_color(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a) {
    return Color{r / 255.0f, g / 255.0f, b / 255.0f, a / 255.0f};
}

Color color_with_alpha(const Color& color, float alpha) {
    const auto c = zavo_ui::color_compat::ColorCompat::of(color);
    const float scaled = std::clamp(alpha, 0.0f, 1.0f) * 255.0f;
    const auto a = static_cast<std::uint8_t>(std::min(255.0f, scaled));
    return rgba8_to_color(c.r, c.g, c.b, a);
}

std::pair<Color, Color> surface_edges(const Color& color) {
    return {zavo_ui::surface::edge_on(color), zavo_ui::surface::edge_on_with(color, 92)};
}

bool hovered(const RemoteApp& app, const Rect& rect) { return !app.pointer_covered && rect.contains(app.pointer); }

namespace {

using zavo_ui::TextStyle;
using zavo_ui::text_render::is_continuation;
using zavo_ui::text_render::measured_piece;
using Piece = zavo_ui::text_render::MeasuredPiece;

constexpr std::string_view kEllipsis = "…";

// The byte where each character of `s` starts, and its end.
std::vector<std::size_t> character_starts(std::string_view s) {
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < s.size(); ++i)
        if (!is_continuation(static_cast<unsigned char>(s[i]))) starts.push_back(i);
    starts.push_back(s.size());
    return starts;
}

// `s` when it fits, else its start and its end with "…" between them (or "…" alone).
std::string elide_middle(const zavo_ui::text_render::TextRenderer& text, std::string_view s, const TextStyle& style,
                         double max_width) {
    const Piece first = measured_piece(text, s, style, max_width, false);
    if (first.fits(max_width)) return std::string(s);
    // The start and the end, each at least as wide as all the room; where they would overlap
    // the text is short, and both are all of it.
    std::string_view head = first.text;
    std::string_view tail = first.whole ? s : measured_piece(text, s, style, max_width, true).text;
    if (head.size() + tail.size() > s.size()) head = tail = s;
    const bool one = head.size() == s.size();
    const std::vector<double> head_offsets = text.caret_offsets(head, style);
    const std::vector<double> tail_offsets = one ? head_offsets : text.caret_offsets(tail, style);
    const std::vector<std::size_t> head_starts = character_starts(head);
    const std::vector<std::size_t> tail_starts = one ? head_starts : character_starts(tail);
    const std::size_t hn = std::min(head_starts.size(), head_offsets.size()) - 1;
    const std::size_t tn = std::min(tail_starts.size(), tail_offsets.size()) - 1;
    const double room = max_width - text.measure_styled(kEllipsis, style).width;
    // The most characters that fit, the start keeping the odd one; never all of them.
    for (std::size_t keep = one ? hn : hn + tn; keep-- > 0;) {
        const std::size_t from_head = (keep + 1) / 2;
        const std::size_t from_tail = keep - from_head;
        if (from_head > hn || from_tail > tn) continue;
        if (head_offsets[from_head] + (tail_offsets[tn] - tail_offsets[tn - from_tail]) > room) continue;
        return fmt::format("{}{}{}", head.substr(0, head_starts[from_head]), kEllipsis,
                           tail.substr(tail_starts[tn - from_tail]));
    }
    return std::string(kEllipsis);
}

// `s` when it fits, else its longest start that fits followed by "…" (or "…" alone).
std::string elide_end(const zavo_ui::text_render::TextRenderer& text, std::string_view s, const TextStyle& style,
                      double max_width) {
    const Piece start = measured_piece(text, s, style, max_width, false);
    if (start.fits(max_width)) return std::string(s);
    const double room = max_width - text.measure_styled(kEllipsis, style).width;
    const std::vector<double> offsets = text.caret_offsets(start.text, style);
    const std::vector<std::size_t> starts = character_starts(start.text);
    // offsets[k] is the width of the first k code points; find the byte end of the longest fit.
    std::size_t end = 0;
    for (std::size_t k = 0; k < std::min(offsets.size(), starts.size()) && offsets[k] <= room; ++k) end = starts[k];
    std::string_view kept = start.text.substr(0, end);
    while (!kept.empty() && kept.back() == ' ') kept.remove_suffix(1);
    return std::string(kept) + std::string(kEllipsis);
}

}  // namespace

std::string elide(const zavo_ui::text_render::TextRenderer& text, std::string_view s, float size, std::uint8_t weight,
                  double max_width) {
    return elide_end(text, s, TextStyle::of_size(size, weight), max_width);
}

std::string elide_target(const zavo_ui::text_render::TextRenderer& text, const SavedConnection& connection, float size,
                         std::uint8_t weight, double max_width, std::string_view suffix) {
    const std::string whole = target_label(connection) + std::string(suffix);
    // Measured as it is drawn, each character its own glyph.
    TextStyle style = TextStyle::of_size(size, weight);
    style.verbatim = true;
    // Exact up to max_width; a text measured only in part is wider than anything.
    auto width = [&](std::string_view s) {
        const Piece p = measured_piece(text, s, style, max_width, false);
        return p.whole ? p.width : std::numeric_limits<double>::infinity();
    };
    if (width(whole) <= max_width) return whole;
    // A device's label is a short id already.
    if (connection.kind == ConnectionKind::Zavo) return elide_end(text, whole, style, max_width);
    const std::string_view user = connection.kind == ConnectionKind::Ssh ? connection.user : std::string_view{};
    const std::string rest = (connection.port != 0 ? fmt::format(":{}", connection.port) : "") + std::string(suffix);
    const double room = max_width - width(rest) - (user.empty() ? 0.0 : width("@"));
    // The shorter of user and host stays whole when it takes at most half the room.
    const double user_width = width(user);
    const double host_width = width(connection.host);
    double for_user = user_width;
    double for_host = room - user_width;
    if (user_width > room / 2) {
        for_user = host_width <= room / 2 ? room - host_width : room / 2;
        for_host = room - for_user;
    }
    std::string out;
    if (!user.empty()) out = elide_middle(text, user, style, for_user) + "@";
    return out + elide_middle(text, connection.host, style, for_host) + rest;
}

void paint_input_card(RemoteApp& app, const PaintContext& ctx, const Rect& rect, InputSlot slot) {
    zavo_ui::surface::card(ctx.scene, ctx.transform, rect, ctx.colors().background, 8.0);
    if (app.focused == slot) ctx.stroke(ctx.colors().focus, PaintContext::rounded(rect, 8.0), 2.0);
    auto& input = app.input_mut(slot);
    input.apply_layout_external(Rect{rect.x0 + 12.0, rect.y0, rect.x1 - 12.0, rect.y1});
    input.draw(ctx.scene, ctx.transform, ctx.text, ctx.theme, ctx.draw);
}

void paint_button(const RemoteApp& app, const PaintContext& ctx, const ButtonSpec& spec) {
    zavo_ui::widget::button::Button button;
    button.label = std::string(spec.label);
    button.rect = spec.rect;
    button.hovered = hovered(app, spec.rect);
    button.text_size = 13.0f;
    button.style = spec.style;
    button.paint(ctx.scene, ctx.transform, ctx.text, ctx.theme);
}

void paint_segmented_control(const RemoteApp& app, const PaintContext& ctx, std::vector<Rect> segments,
                             std::vector<std::string> labels, std::optional<std::size_t> selected) {
    zavo_ui::widget::toggle_group::ToggleGroup group;
    const auto under = std::find_if(segments.begin(), segments.end(), [&](const Rect& r) { return hovered(app, r); });
    if (under != segments.end()) group.hovered = static_cast<std::size_t>(under - segments.begin());
    group.selected = selected.value_or(segments.size());
    group.segments = std::move(segments);
    group.labels = std::move(labels);
    group.radius = 8.0;
    group.text_size = 13.0f;
    group.paint(ctx.scene, ctx.transform, ctx.text, ctx.theme);
}

double paint_field_label(const PaintContext& ctx, std::string_view label, double x, double y) {
    const auto m = ctx.measure(label, 12.0f, 2);
    ctx.draw_text(label, x, y, 12.0f, 2, ctx.colors().text_secondary);
    return y + m.height + 4.0;
}

Rect paint_rail_item(const RemoteApp& app, const PaintContext& ctx, const RailItem& item) {
    const auto& c = ctx.colors();
    const double y0 = item.rail.y0 + 72.0 + 56.0 * item.index;
    const Rect rect{item.rail.x0 + 12.0, y0, item.rail.x1 - 12.0, y0 + 40.0};
    Color glyph = c.text_secondary;
    if (item.selected) {
        const auto [selected_fill, outline] = surface_edges(c.surface);
        ctx.fill(selected_fill, PaintContext::rounded(rect, 8.0));
        ctx.stroke(outline, zavo_ui::surface::edge_outline(rect, 8.0));
        glyph = c.text_primary;
    } else if (hovered(app, rect)) {
        ctx.fill(c.lift(0.5f), PaintContext::rounded(rect, 8.0));
    }
    const auto m = ctx.measure(item.glyph, 22.0f);
    ctx.draw_text(item.glyph, rect.center().x - m.width / 2.0, y0 + 6.0, 22.0f, 0, glyph);
    return rect;
}

Rect paint_header_button(const RemoteApp& app, const PaintContext& ctx, const HeaderButtonSpec& spec) {
    const double w = ctx.measure(spec.label, 13.0f, 2).width;
    const double mid = spec.bar.center().y;
    const Rect rect{spec.right - (w + 24.0), mid - 16.0, spec.right, mid + 16.0};
    paint_button(app, ctx, {spec.label, rect, zavo_ui::widget::button::SECONDARY});
    return rect;
}

namespace {

constexpr float kKeySize = 12.5f;
constexpr float kKeyCaptionSize = 11.5f;
constexpr double kKeyPadX = 12.0;
constexpr double kKeyPadY = 8.0;

// The key's algorithm, then its fingerprint, each cut into as many lines of whole characters
// as the monospaced face needs in a block `width` wide.
struct KeyLines {
    std::vector<std::string> lines;
    std::size_t algorithm_lines = 0;  // the first lines
};

KeyLines key_lines(const PaintContext& ctx, const HostKeyIdentity& key, double width) {
    const double advance = std::max(ctx.measure_verbatim("0", kKeySize, zavo_ui::FontFamily::Mono).width, 1.0);
    const auto per_line = static_cast<std::size_t>(std::max(std::floor((width - 2.0 * kKeyPadX) / advance), 1.0));
    KeyLines out;
    auto cut = [&](std::string_view text) {
        std::size_t start = 0;
        std::size_t chars = 0;
        for (std::size_t i = 0; i <= text.size(); ++i) {
            if (i < text.size() && is_continuation(static_cast<unsigned char>(text[i]))) continue;
            if (i == text.size() || chars == per_line) {
                if (i > start) out.lines.emplace_back(text.substr(start, i - start));
                start = i;
                chars = 0;
            }
            ++chars;
        }
    };
    cut(key.algorithm);
    out.algorithm_lines = out.lines.size();
    cut(key.fingerprint);
    return out;
}

double key_line_height(const PaintContext& ctx) {
    return ctx.measure_verbatim("Hg", kKeySize, zavo_ui::FontFamily::Mono).height;
}

double caption_height(const PaintContext& ctx, const KeyBlock& block) {
    return block.caption.empty() ? 0.0 : ctx.measure(block.caption, kKeyCaptionSize, 2).height + 4.0;
}

double block_height(const PaintContext& ctx, const KeyBlock& block, std::size_t lines) {
    return 2.0 * kKeyPadY + caption_height(ctx, block) + static_cast<double>(lines) * key_line_height(ctx);
}

}  // namespace

double key_block_height(const PaintContext& ctx, const KeyBlock& block, double width) {
    return block_height(ctx, block, key_lines(ctx, block.identity, width).lines.size());
}

double paint_key_block(const PaintContext& ctx, const KeyBlock& block, double x, double y, double width) {
    const auto& c = ctx.colors();
    const auto [lines, algorithm_lines] = key_lines(ctx, block.identity, width);
    const double line_height = key_line_height(ctx);
    const double height = block_height(ctx, block, lines.size());
    const Rect box{x, y, x + width, y + height};
    ctx.fill(c.background, PaintContext::rounded(box, 8.0));
    ctx.stroke(surface_edges(c.surface).second, zavo_ui::surface::edge_outline(box, 8.0));
    double top = y + kKeyPadY;
    if (!block.caption.empty()) {
        ctx.draw_text(block.caption, x + kKeyPadX, top, kKeyCaptionSize, 2, c.text_secondary);
        top += caption_height(ctx, block);
    }
    // The algorithm's lines in the secondary colour, the fingerprint's in the primary one.
    for (std::size_t i = 0; i < lines.size(); ++i) {
        ctx.draw_verbatim(lines[i], x + kKeyPadX, top, kKeySize,
                          i < algorithm_lines ? c.text_secondary : c.text_primary, zavo_ui::FontFamily::Mono);
        top += line_height;
    }
    return height;
}

void paint_problem_card(RemoteApp& app, const PaintContext& ctx, const ProblemCard& card) {
    const auto& c = ctx.colors();
    const Rect& area = card.area;
    ctx.fill(c.background, area);

    const double w = std::min(area.width() - 40.0, 460.0);
    const double room = w - 48.0;
    constexpr double kKeyGap = 10.0;
    double keys_height = 0.0;
    for (const KeyBlock& key : card.keys) keys_height += key_block_height(ctx, key, room) + kKeyGap;

    // Each paragraph's lines; the key blocks come after the first paragraph's. A paragraph is
    // wrapped as far as a window shows of it: a server's reason for refusing may be of any length.
    std::vector<std::string> cut;
    cut.reserve(2 * card.paragraphs.size());  // the lines' views into it stay where they are
    std::vector<std::vector<std::string_view>> wrapped;
    std::size_t count = 0;
    for (const std::string& p : card.paragraphs) {
        std::string_view shown = zavo_ui::text_render::first_code_points(p, zavo_ui::text_render::kMeasuredAtMost);
        if (shown.size() < p.size()) shown = cut.emplace_back(std::string(shown) + "…");
        wrapped.push_back(zavo_ui::text_render::wrap_lines(
            shown, room, [&](std::string_view l) { return ctx.measure(l, 13.0f).width; }));
        count += wrapped.back().size();
    }
    // Lines the window leaves room for (every paragraph keeps one): the longest paragraph gives
    // up its last lines, the one it ends on closed by "…", so that the buttons stay in view.
    const double spare = area.height() - 32.0 - 336.0 - keys_height;
    const auto room_for = std::max(static_cast<std::size_t>(std::max(spare, 0.0) / 22.0), card.paragraphs.size());
    if (count > room_for) {
        std::vector<bool> shortened(wrapped.size(), false);
        for (; count > room_for; --count) {
            auto& longest = *std::ranges::max_element(wrapped, {}, &std::vector<std::string_view>::size);
            longest.pop_back();
            shortened[static_cast<std::size_t>(&longest - wrapped.data())] = true;
        }
        for (std::size_t i = 0; i < wrapped.size(); ++i)
            if (shortened[i])
                wrapped[i].back() = cut.emplace_back(
                    elide(ctx.text, std::string(wrapped[i].back()) + "…", 13.0f, 0, room));
    }
    std::vector<std::string_view> lines;
    std::size_t keys_after = 0;
    for (const auto& paragraph : wrapped) {
        lines.insert(lines.end(), paragraph.begin(), paragraph.end());
        if (&paragraph == &wrapped.front()) keys_after = lines.size();
    }
    const double n = static_cast<double>(lines.size());
    const double h = 336.0 + 22.0 * n + keys_height;
    const double left = area.x0 + (area.width() - w) / 2.0;
    const double top = area.y0 + std::max((area.height() - h) / 2.0, 16.0);
    const double cx = left + w / 2.0;
    zavo_ui::surface::card(ctx.scene, ctx.transform, Rect{left, top, left + w, top + h}, c.surface, 16.0);

    const Color mode = card.mode == 1 ? c.warning : card.mode == 2 ? c.danger : c.text_secondary;
    const SavedConnection& connection = card.connection;

    const zavo_ui::Circle badge{{cx, top + 68.0}, 34.0};
    ctx.fill(color_with_alpha(mode, 0.14f), badge);
    ctx.stroke(color_with_alpha(mode, 0.9f), badge, 2.0);
    ctx.draw_text_centered(stored_name(connection.kind), cx, top + 58.0, 15.0f, 3, c.text_primary);
    ctx.draw_text_centered(elide(ctx.text, connection.name, 20.0f, 3, room), cx, top + 124.0, 20.0f, 3, c.text_primary);
    const std::string target = elide_target(ctx.text, connection, 13.0f, 0, room,
                                            fmt::format(" · {}", label(connection.kind)));
    ctx.draw_verbatim(target, cx - ctx.measure_verbatim(target, 13.0f).width / 2.0, top + 154.0, 13.0f,
                      c.text_secondary);

    const double tw = ctx.measure(card.title, 13.0f, 2).width;
    const Rect pill{cx - (tw + 44.0) / 2.0, top + 184.0, cx + (tw + 44.0) / 2.0, top + 214.0};
    zavo_ui::surface::pill(ctx.scene, ctx.transform, pill, color_with_alpha(mode, 0.16f),
                           color_with_alpha(mode, 0.55f));
    const double pill_mid = pill.center().y;
    ctx.fill(mode, zavo_ui::Circle{{pill.x0 + 16.0, pill_mid}, 4.0});
    ctx.draw_text(card.title, pill.x0 + 28.0, pill_mid - 8.0, 13.0f, 2, c.text_primary);

    double y = top + 230.0;
    for (std::size_t i = 0; i <= lines.size(); ++i) {
        if (i == keys_after)
            for (const KeyBlock& key : card.keys)
                y += paint_key_block(ctx, key, cx - room / 2.0, y + 2.0, room) + kKeyGap;
        if (i == lines.size()) break;
        ctx.draw_text_centered(lines[i], cx, y, 13.0f, 0, c.text_secondary);
        y += 22.0;
    }

    struct CardButton {
        std::string_view label;
        UiCommand command;
    };
    using K = UiCommand::Kind;
    std::vector<CardButton> buttons;
    if (connection.kind == ConnectionKind::Ssh) {
        if (const auto problem = app.session.host_key_problem(connection.id)) {
            if (std::holds_alternative<HostKeyUnknown>(*problem))
                buttons.push_back({"Trust key", UiCommand::with_id(K::RequestTrustHostKey, connection.id)});
            else if (std::holds_alternative<HostKeyChanged>(*problem))
                buttons.push_back({"Forget key", UiCommand::with_id(K::RequestForgetHostKey, connection.id)});
        }
    }
    if (card.mode == 2 && buttons.empty())
        buttons.push_back({"Retry", UiCommand::with_id(K::RequestConnect, connection.id)});
    if (card.offer_edit) buttons.push_back({"Edit profile", UiCommand::with_id(K::EditConnection, connection.id)});

    const double row_top = y + 14.0;
    double x = buttons.empty() ? cx - 66.0 : cx - 124.0;
    for (auto& b : buttons) {
        const Rect rect{x, row_top, x + 104.0, row_top + 38.0};
        paint_button(app, ctx, {b.label, rect, zavo_ui::widget::button::SECONDARY});
        app.push_hit_region(rect, std::move(b.command));
        x += 116.0;
    }
    const Rect back{x, row_top, x + 132.0, row_top + 38.0};
    paint_button(app, ctx, {"Back to list", back, zavo_ui::widget::button::PRIMARY});
    app.push_hit_region(back, UiCommand::plain(K::Disconnect));
}

}  // namespace remote::views

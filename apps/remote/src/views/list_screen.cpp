// The connection list: heading with counts, the search input, and the rows that meet the
// clipped viewport, laid out from row metrics measured once per text scale.
#include "profiles/connection_list.hpp"
#include "views/paint_primitives.hpp"
#include "views/screens.hpp"
#include "zavo_ui/surface.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

namespace remote::views {
namespace {

using zavo_ui::Color;
using zavo_ui::Rect;
using K = UiCommand::Kind;

constexpr double kRowGap = 8.0;

// Rows are compact (the buttons under the texts) in a list narrower than 620 at the text scale.
bool compact_at(const RowMetrics& m, double width) { return width < 620.0 * m.scale; }
double row_height(const RowMetrics& m, bool compact) { return compact ? m.compact_row_height : m.wide_row_height; }
// How far `count` rows of height `h` scroll in a viewport `viewport` high.
double scroll_max(double h, std::size_t count, double viewport) {
    return std::max((h + kRowGap) * static_cast<double>(count) - kRowGap - viewport, 0.0);
}

Color kind_color(const zavo_ui::tokens::colors::Colors& c, ConnectionKind kind) {
    switch (kind) {
        case ConnectionKind::Ssh: return c.success;
        case ConnectionKind::Vnc: return c.info;
        case ConnectionKind::Rdp: return c.warning;
        case ConnectionKind::Zavo: return c.device_accent;
    }
    return c.text_secondary;
}

Color presence_color(const zavo_ui::tokens::colors::Colors& c, Presence presence) {
    switch (presence) {
        case Presence::Online: return c.success;
        case Presence::Offline: return c.danger;
        case Presence::Unknown: break;
    }
    return c.text_secondary;
}

// The five-pointed favourite star centred on (cx, cy).
zavo_ui::BezPath star(double cx, double cy) {
    zavo_ui::BezPath path;
    for (int k = 0; k < 10; ++k) {
        const double a = k * std::numbers::pi / 5.0 - std::numbers::pi / 2.0;
        const double r = k % 2 == 0 ? 7.0 : 2.94;
        const zavo_ui::Point p{cx + r * std::cos(a), cy + r * std::sin(a)};
        k == 0 ? path.move_to(p) : path.line_to(p);
    }
    path.close_path();
    return path;
}

// The title, the counts, the new-connection button and the search input; returns the top of the
// viewport below them.
double paint_heading(RemoteApp& app, const PaintContext& ctx, const Rect& pane) {
    const auto& c = ctx.colors();
    const bool small = pane.width() < 520.0;
    const double x = pane.x0 + 24.0;

    const std::string_view title = small ? "Remote" : "Remote Machines";
    const double th = ctx.measure(title, 22.0f, 3).height;
    ctx.draw_text(title, x, pane.y0 + 16.0, 22.0f, 3, c.text_primary);

    const ListCache::Counts& counts = app.list_cache.counts(app.connections);
    const std::string line = counts.ready == counts.saved
                                 ? fmt::format("{} saved · {} online", counts.saved, counts.online)
                                 : fmt::format("{} saved · {} online · {} connectable here", counts.saved,
                                               counts.online, counts.ready);
    ctx.draw_text(line, x, pane.y0 + 16.0 + th + 4.0, 13.0f, 0, c.text_secondary);

    const std::string_view label = small ? "+ New" : "+ New connection";
    const double bw = std::max(ctx.measure(label, 13.0f, 2).width + 28.0, small ? 88.0 : 150.0);
    const double mid = pane.y0 + 16.0 + th / 2.0;
    const Rect button{pane.x1 - 24.0 - bw, mid - 16.0, pane.x1 - 24.0, mid + 16.0};
    paint_button(app, ctx, {label, button, zavo_ui::widget::button::PRIMARY});
    app.push_hit_region(button, UiCommand::plain(K::NewConnectionForm));

    const double lh = ctx.measure("0", 13.0f).height;
    const double search_top = pane.y0 + std::max(16.0 + th + 4.0 + lh + 12.0, 64.0) + 8.0;
    const Rect search{x, search_top, pane.x1 - 24.0, search_top + 36.0};
    paint_input_card(app, ctx, search, InputSlot::Search);
    app.push_hit_region(search, UiCommand::focus_input(InputSlot::Search));
    return search.y1 + 16.0;
}

void paint_empty_state(RemoteApp& app, const PaintContext& ctx, const Rect& pane, double viewport_top) {
    const auto& c = ctx.colors();
    const double cx = (pane.x0 + pane.x1) / 2.0;
    const double v = viewport_top + std::max((pane.y1 - viewport_top) * 0.3, 24.0);
    const zavo_ui::Circle circle{{cx, v + 36.0}, 36.0};
    ctx.fill(color_with_alpha(c.accent, 0.12f), circle);
    ctx.stroke(color_with_alpha(c.accent, 0.8f), circle, 2.0);
    ctx.stroke(c.accent, zavo_ui::Line{{cx - 12.0, v + 36.0}, {cx + 12.0, v + 36.0}}, 2.6);
    ctx.stroke(c.accent, zavo_ui::Line{{cx, v + 24.0}, {cx, v + 48.0}}, 2.6);

    const double h1 = ctx.draw_text_centered("No machines yet", cx, v + 96.0, 19.0f, 3, c.text_primary).height;
    const double wrap = std::max(pane.width() - 48.0, 120.0);
    const double h2 = ctx.draw_text_centered("Add one to reach it over SSH, VNC, or the Zavo relay.", cx,
                                             v + 96.0 + h1 + 6.0, 13.5f, 0, c.text_secondary, wrap)
                          .height;
    static constexpr std::string_view kLabel = "+ New connection";
    const double bw = std::max(ctx.measure(kLabel, 13.0f, 2).width + 32.0, 168.0);
    const double top = v + 96.0 + h1 + 6.0 + h2 + 16.0;
    const Rect button{cx - bw / 2.0, top, cx + bw / 2.0, top + 40.0};
    paint_button(app, ctx, {kLabel, button, zavo_ui::widget::button::PRIMARY});
    app.push_hit_region(button, UiCommand::plain(K::NewConnectionForm));
}

struct RowPill {
    std::string_view label;
    Color color;
};

// What stands in place of Connect on a row that is not ready.
std::string_view pill_label(ConnectionReadiness readiness) {
    switch (readiness) {
        case ConnectionReadiness::CapabilityRequired: return "Needs access";
        case ConnectionReadiness::BackendUnavailable: return "Not supported";
        case ConnectionReadiness::InvalidProfile:
        case ConnectionReadiness::Ready: break;
    }
    return "Fix profile";
}

RowPill readiness_pill(const zavo_ui::tokens::colors::Colors& c, ConnectionReadiness readiness) {
    return {pill_label(readiness), readiness == ConnectionReadiness::BackendUnavailable ? c.text_secondary : c.warning};
}

// Where the parts of a row between x0 and x1 stand: its texts' left edge, Edit, and the action
// (Connect or a readiness pill) at the right.
struct RowColumns {
    double text_x;
    double edit_x0;
    double action_x0;
    double action_x1;
};

RowColumns row_columns(double x0, double x1, const RowMetrics& m, bool compact) {
    const double action_x1 = compact ? x1 - 12.0 : x1 - 16.0;
    const double action_x0 = action_x1 - m.action_width;
    return {x0 + 44.0, action_x0 - 12.0 - m.edit_width, action_x0, action_x1};
}

// Where the group text starts: under the name in a compact row, else just left of Edit.
double group_text_x(const RowColumns& columns, double group_width, bool compact) {
    return compact ? columns.text_x : columns.edit_x0 - 16.0 - group_width;
}

// The texts of `row` laid out for a row `width` wide, measured only when what they depend on
// changed since the last list paint drew the row.
const RowTexts& row_texts(RemoteApp& app, const PaintContext& ctx, const SavedConnection& row, double width,
                          bool live) {
    RowTexts& t = app.row_texts[row.id];
    const bool known = t.painted != 0;
    t.painted = app.list_paints;
    const RowMetrics& m = app.row_metrics;
    const bool compact = app.compact_rows;
    // Whether the row is compact follows from its width and the metrics.
    if (known && t.width == width && t.live == live && t.metrics == m && t.record == row) return t;
    t.record = row;
    t.width = width;
    t.metrics = m;
    t.live = live;

    // From the row's left edge.
    const RowColumns columns = row_columns(0.0, width, m, compact);
    const double tx = columns.text_x;
    const double edit_x0 = columns.edit_x0;
    // A wide row's group text takes at most half of the room left of Edit; a compact row shows
    // it whole under the name, left of Edit, or not at all.
    if (compact) {
        const double room = edit_x0 - 12.0 - tx;
        const auto shown = zavo_ui::text_render::measured_piece(ctx.text, row.group, zavo_ui::TextStyle::of_size(12.0f), room);
        t.group = shown.fits(room) ? row.group : std::string();
    } else {
        t.group = elide(ctx.text, row.group, 12.0f, 0, std::max((edit_x0 - 16.0 - tx) / 2.0, 0.0));
    }
    const auto group = ctx.measure(t.group, 12.0f);
    t.group_width = group.width;
    t.group_height = group.height;
    // Texts on the two upper lines end before what shares their height: the group text and
    // the buttons of a wide row, the row's edge in a compact one.
    const double group_x = group_text_x(columns, group.width, compact);
    const double text_end = compact ? width - 16.0 : (row.group.empty() ? edit_x0 : group_x) - 12.0;

    t.name = elide(ctx.text, row.name, 16.0f, 2, std::max(text_end - tx - 27.0, 0.0));
    t.name_width = ctx.measure(t.name, 16.0f, 2).width;
    const auto chip = ctx.measure(stored_name(row.kind), 11.0f, 2);
    t.chip_width = chip.width;
    t.chip_height = chip.height;
    const double target_x = tx + chip.width + 16.0 + 12.0;
    t.target = elide_target(ctx.text, row, 13.0f, 0, std::max(text_end - target_x, 0.0));
    t.target_width = ctx.measure_verbatim(t.target, 13.0f).width;
    t.last_used.clear();
    if (!compact && !row.last_used.empty()) {
        std::string used = fmt::format("· {}", row.last_used);
        if (target_x + t.target_width + 14.0 + ctx.measure(used, 12.0f).width <= text_end) t.last_used = std::move(used);
    }
    t.readiness = row.readiness();
    const auto pill = ctx.measure(pill_label(t.readiness), 11.5f, 2);
    t.pill_width = pill.width;
    t.pill_height = pill.height;
    return t;
}

void paint_row(RemoteApp& app, const PaintContext& ctx, const SavedConnection& row, const Rect& rect, bool live) {
    const auto& c = ctx.colors();
    const RowMetrics& m = app.row_metrics;
    const bool compact = app.compact_rows;
    const RowTexts& t = row_texts(app, ctx, row, rect.width(), live);
    const double top = rect.y0;
    const double mid = rect.center().y;
    const RowColumns columns = row_columns(rect.x0, rect.x1, m, compact);
    const double tx = columns.text_x;

    zavo_ui::surface::card(ctx.scene, ctx.transform, rect, c.surface, 12.0);
    const auto [selected_fill, outline] = surface_edges(c.surface);
    if (app.selected == row.id) {
        ctx.fill(selected_fill, PaintContext::rounded(rect, 12.0));
        ctx.stroke(outline, zavo_ui::surface::edge_outline(rect, 12.0));
    } else if (hovered(app, rect)) {
        ctx.stroke(outline, zavo_ui::surface::edge_outline(rect, 12.0));
    }
    app.push_hit_region(rect, UiCommand::with_id(K::Select, row.id));

    const Color presence = presence_color(c, row.presence);
    ctx.fill(presence, zavo_ui::Circle{{rect.x0 + 22.0, mid}, 5.0});
    if (row.presence == Presence::Online)
        ctx.fill(color_with_alpha(c.success, 0.25f), zavo_ui::Circle{{rect.x0 + 22.0, mid}, 9.0});

    // The controls on the right: the action (Connect or a readiness pill) and Edit.
    const double bh = m.button_height;
    const double by0 = compact ? top + m.block_height : mid - bh / 2.0;
    const Rect action{columns.action_x0, by0, columns.action_x1, by0 + bh};
    const Rect edit{columns.edit_x0, by0, action.x0 - 12.0, by0 + bh};
    const double group_x = group_text_x(columns, t.group_width, compact);

    ctx.draw_text(t.name, tx, top + 13.0, 16.0f, 2, c.text_primary);
    const double sx = tx + t.name_width + 16.0;
    const double sy = top + 21.0;
    if (row.favorite)
        ctx.fill(c.warning, star(sx, sy));
    else
        ctx.stroke(c.text_secondary, star(sx, sy), 1.2);
    app.push_hit_region(Rect{sx - 11.0, sy - 11.0, sx + 11.0, sy + 11.0},
                        UiCommand::with_id(K::ToggleFavorite, row.id));

    const Color kind = kind_color(c, row.kind);
    const double cy0 = top + m.second_line_offset;
    const Rect chip{tx, cy0, tx + t.chip_width + 16.0, cy0 + t.chip_height + 4.0};
    zavo_ui::surface::pill(ctx.scene, ctx.transform, chip, color_with_alpha(kind, 0.18f));
    ctx.draw_text(stored_name(row.kind), chip.x0 + 8.0, chip.y0 + 2.0, 11.0f, 2, kind);

    const double target_x = chip.x1 + 12.0;
    ctx.draw_verbatim(t.target, target_x, chip.y0, 13.0f, c.text_secondary);
    if (!t.last_used.empty())
        ctx.draw_text(t.last_used, target_x + t.target_width + 14.0, chip.y0 + 1.0, 12.0f, 0, c.text_secondary);

    if (t.readiness == ConnectionReadiness::Ready) {
        paint_button(app, ctx, {"Connect", action, zavo_ui::widget::button::PRIMARY});
        app.push_hit_region(action, UiCommand::with_id(K::RequestConnect, row.id));
    } else {
        const RowPill pill = readiness_pill(c, t.readiness);
        zavo_ui::surface::pill(ctx.scene, ctx.transform, action, color_with_alpha(pill.color, 0.12f),
                               color_with_alpha(pill.color, 0.75f), 8.0);
        const auto [px, py] = action.center();
        ctx.draw_text(pill.label, px - t.pill_width / 2.0, py - t.pill_height / 2.0, 11.5f, 2, pill.color);
    }
    paint_button(app, ctx, {"Edit", edit, zavo_ui::widget::button::SECONDARY});
    app.push_hit_region(edit, UiCommand::with_id(K::EditConnection, row.id));

    if (!compact)
        ctx.draw_text(t.group, group_x, mid - t.group_height / 2.0, 12.0f, 0, c.text_secondary);
    else if (!t.group.empty())
        ctx.draw_text(t.group, group_x, edit.center().y - t.group_height / 2.0, 12.0f, 0, c.text_secondary);
}

}  // namespace

RowMetrics measure_row_metrics(const zavo_ui::text_render::TextRenderer& text) {
    const auto h = [&](float size) { return text_line_height(text, size); };
    const auto w = [&](std::string_view s, float size) { return text_width(text, s, size); };
    RowMetrics m;
    m.scale = text.text_scale();
    m.second_line_offset = 13.0 + h(16.0f) + 5.0;
    m.chip_height = h(11.0f) + 4.0;
    m.button_height = std::max(h(13.0f) + 12.0, 32.0);
    double action = w("Connect", 13.0f);
    for (ConnectionReadiness r : {ConnectionReadiness::CapabilityRequired, ConnectionReadiness::BackendUnavailable,
                                  ConnectionReadiness::InvalidProfile})
        action = std::max(action, w(pill_label(r), 11.5f));
    m.action_width = std::max(action + 18.0, 100.0);
    m.edit_width = std::max(w("Edit", 13.0f) + 24.0, 76.0);
    m.block_height = m.second_line_offset + m.chip_height + 16.0;
    m.wide_row_height = std::max(m.block_height, 72.0);
    m.compact_row_height = std::max(m.block_height + m.button_height + 12.0, 116.0);
    return m;
}

void paint_list_screen(RemoteApp& app, const PaintContext& ctx, const Rect& pane) {
    const double viewport_top = paint_heading(app, ctx, pane);
    app.list_top = viewport_top - pane.y0;

    const std::vector<std::size_t>& visible = app.list_cache.visible(app.connections, app.search_query);
    if (visible.empty()) {
        app.list_scroll = 0.0;
        app.list_scroll_max = 0.0;
        if (app.connections.empty()) {
            paint_empty_state(app, ctx, pane, viewport_top);
        } else {
            ctx.draw_text_centered("No machines match your search.", (pane.x0 + pane.x1) / 2.0, viewport_top + 48.0,
                                   14.0f, 0, ctx.colors().text_secondary);
        }
        return;
    }

    const double scale = ctx.text.text_scale();
    if (app.metrics_scale != scale) {
        app.row_metrics = measure_row_metrics(ctx.text);
        app.metrics_scale = scale;
    }
    app.compact_rows = compact_at(app.row_metrics, pane.width());
    const double rh = row_height(app.row_metrics, app.compact_rows);
    const double pitch = rh + kRowGap;
    // The last row scrolls into view above a notice banner.
    app.list_covered = std::clamp(pane.y1 - shown_bottom(app, ctx, pane), 0.0,
                                  std::max(pane.y1 - viewport_top - rh, 0.0));
    app.list_scroll_max = scroll_max(rh, visible.size(), pane.y1 - viewport_top - app.list_covered);
    app.list_scroll = std::clamp(app.list_scroll, 0.0, app.list_scroll_max);

    // A row reaching above the viewport, behind the search input, is clicked only where it shows.
    const ClippedArea viewport(app, ctx, Rect{pane.x0, viewport_top, pane.x1, pane.y1});
    // Only the rows that meet the viewport: from the first whose bottom reaches its top to the
    // last whose top is above its bottom.
    const double origin = viewport_top - app.list_scroll;
    const auto first = static_cast<std::size_t>(std::max(std::floor((app.list_scroll - rh) / pitch), 0.0));
    const bool live = live_sessions_enabled();
    ++app.list_paints;
    for (std::size_t i = first; i < visible.size(); ++i) {
        const double top = origin + static_cast<double>(i) * pitch;
        if (top > pane.y1) break;
        if (top + rh < viewport_top) continue;
        paint_row(app, ctx, app.connections[visible[i]], Rect{pane.x0 + 24.0, top, pane.x1 - 24.0, top + rh}, live);
    }
    std::erase_if(app.row_texts, [&](const auto& entry) { return entry.second.painted != app.list_paints; });
}

}  // namespace remote::views

namespace remote::app {

// Measured against the pane beside the rail, the viewport at least one row high.
void RemoteApp::scroll_row_into_view(std::size_t index, std::size_t count) {
    const double content_width = std::max(window_bounds.width() - views::kRailWidth, 0.0);
    const double h = views::row_height(row_metrics, views::compact_at(row_metrics, content_width));
    const double viewport = std::max(window_bounds.height() - list_top - list_covered, h);
    list_scroll_max = views::scroll_max(h, count, viewport);
    const double top = (h + views::kRowGap) * static_cast<double>(index);
    if (top < list_scroll)
        list_scroll = top;
    else if (top + h > list_scroll + viewport)
        list_scroll = top + h - viewport;
    list_scroll = std::clamp(list_scroll, 0.0, list_scroll_max);
}

}  // namespace remote::app

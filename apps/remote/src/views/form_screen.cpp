// The connection form: the protocol, the legacy RDP notice, discovered devices for a Zavo
// device, the fields of the kind, authentication, the problems and the buttons, in one centred
// column clipped to the main pane, which scrolls where the window or a notice banner leaves
// too little room for it.
#include "views/paint_primitives.hpp"
#include "views/screens.hpp"
#include "zavo_ui/surface.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <array>
#include <span>
#include <string>
#include <vector>

namespace remote::views {
namespace {

using zavo_ui::Rect;
using K = UiCommand::Kind;

constexpr double kFieldHeight = 40.0;
constexpr double kRowPitch = 56.0;  // from one row's controls to the next row's label
constexpr double kLabelRoom = 24.0;  // a field's label above its box

// A segmented control of `values` in equal segments across `rect`, the one equal to `current`
// selected, each segment's region carrying its value's command.
template <class T, class LabelOf>
void paint_choice(RemoteApp& app, const PaintContext& ctx, const Rect& rect, std::span<const T> values, T current,
                  LabelOf label_of, UiCommand (*command_of)(T)) {
    std::vector<Rect> rects;
    std::vector<std::string> labels;
    std::optional<std::size_t> selected;
    const double w = rect.width() / static_cast<double>(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        rects.push_back(
            Rect{rect.x0 + w * static_cast<double>(i), rect.y0, rect.x0 + w * static_cast<double>(i + 1), rect.y1});
        labels.emplace_back(label_of(values[i]));
        if (values[i] == current) selected = i;
    }
    paint_segmented_control(app, ctx, rects, std::move(labels), selected);
    for (std::size_t i = 0; i < values.size(); ++i) app.push_hit_region(rects[i], command_of(values[i]));
}

// An input field; the focused one's box, with its label, goes to `focused`.
void input(RemoteApp& app, const PaintContext& ctx, const Rect& rect, InputSlot slot, std::optional<Rect>& focused) {
    paint_input_card(app, ctx, rect, slot);
    app.push_hit_region(rect, UiCommand::focus_input(slot));
    if (app.focused == slot) focused = Rect{rect.x0, rect.y0 - kLabelRoom, rect.x1, rect.y1};
}

// Scrolls the form so that `field` lies between the pane's top and what the banner leaves shown.
void reveal(RemoteApp& app, const Rect& field, double top, double bottom) {
    double scroll = app.form_scroll;
    if (field.y1 > bottom) scroll += field.y1 - bottom;
    if (field.y0 < top) scroll -= top - field.y0;
    scroll = std::clamp(scroll, 0.0, app.form_scroll_max);
    if (scroll != app.form_scroll) {
        app.form_scroll = scroll;
        app.redraw_needed = true;
    }
}

// The protocol choice; returns where the next element starts.
double paint_protocol(RemoteApp& app, const PaintContext& ctx, double fx0, double fx1, double y) {
    static constexpr std::array<ConnectionKind, 3> kKinds{ConnectionKind::Ssh, ConnectionKind::Vnc,
                                                          ConnectionKind::Zavo};
    const double top = paint_field_label(ctx, "Protocol", fx0, y);
    paint_choice<ConnectionKind>(
        app, ctx, Rect{fx0, top, fx1, top + kFieldHeight}, kKinds, app.form.kind,
        [](ConnectionKind k) { return stored_name(k); }, &UiCommand::set_kind);
    return top + kRowPitch;
}

double paint_legacy_card(const PaintContext& ctx, double fx0, double fx1, double y) {
    const auto& c = ctx.colors();
    const auto shape = PaintContext::rounded(Rect{fx0, y, fx1, y + 54.0}, 8.0);
    ctx.fill(color_with_alpha(c.warning, 0.12f), shape);
    ctx.stroke(color_with_alpha(c.warning, 0.75f), shape);
    ctx.draw_text("Legacy RDP profile", fx0 + 12.0, y + 9.0, 12.0f, 2, c.warning);
    ctx.draw_text("RDP has no client backend here. Select SSH, VNC, or Zavo to migrate this profile.", fx0 + 12.0,
                  y + 29.0, 11.5f, 0, c.text_secondary, fx1 - fx0 - 24.0);
    return y + 54.0 + 12.0;
}

double paint_devices(RemoteApp& app, const PaintContext& ctx, double fx0, double fx1, double y) {
    const auto& c = ctx.colors();
    const double top = paint_field_label(ctx, "Discovered Zavo devices", fx0, y);
    for (std::size_t k = 0; k < app.devices.size(); ++k) {
        const DiscoveredDevice& device = app.devices[k];
        const double ry = top + 44.0 * static_cast<double>(k);
        const Rect row{fx0, ry, fx1, ry + 36.0};
        if (app.form.host == device.endpoint_id) {
            zavo_ui::surface::card(ctx.scene, ctx.transform, row, c.surface, 8.0);
            ctx.stroke(zavo_ui::surface::edge_on_with(c.surface, 92), zavo_ui::surface::edge_outline(row, 8.0));
        } else {
            zavo_ui::surface::card(ctx.scene, ctx.transform, row, hovered(app, row) ? c.surface : c.background, 8.0);
        }
        const double mid = row.center().y;
        ctx.fill(device.online ? c.success : c.text_secondary, zavo_ui::Circle{{fx0 + 16.0, mid}, 4.0});
        ctx.draw_text(elide(ctx.text, device.name, 13.0f, 1, std::max(fx1 - 172.0 - (fx0 + 30.0), 0.0)), fx0 + 30.0,
                      mid - 8.0, 13.0f, 1, c.text_primary);
        ctx.draw_verbatim(shorten_id(device.endpoint_id), fx1 - 160.0, mid - 7.0, 12.0f, c.text_secondary);
        app.push_hit_region(row, UiCommand::use_discovered_device(k));
    }
    return top + 44.0 * static_cast<double>(app.devices.size()) + 8.0;
}

// The authentication row; returns where the element below it starts: 56 below the top of its
// control, further down when the device-identity card grew to hold its wrapped text.
double paint_authentication(RemoteApp& app, const PaintContext& ctx, double fx0, double fx1, double y) {
    const auto& c = ctx.colors();
    const double top = paint_field_label(ctx, "Authentication", fx0, y);
    if (app.form.kind == ConnectionKind::Zavo) {
        static constexpr std::string_view kText =
            "Authenticated by Zavo device identity over the P2P fabric — no password needed.";
        const double wrap = fx1 - fx0 - 24.0;
        const double height = std::max(kFieldHeight, 13.0 + ctx.measure(kText, 12.5f, 0, wrap).height + 10.0);
        const Rect card{fx0, top, fx1, top + height};
        zavo_ui::surface::card(ctx.scene, ctx.transform, card, c.background, 8.0);
        ctx.fill(color_with_alpha(c.accent, 0.10f), PaintContext::rounded(card, 8.0));
        ctx.draw_text(kText, fx0 + 12.0, top + 13.0, 12.5f, 0, c.text_secondary, wrap);
        return top + kRowPitch + (height - kFieldHeight);
    }
    paint_choice<AuthKind>(
        app, ctx, Rect{fx0, top, fx1, top + kFieldHeight}, allowed_auth(app.form.kind), app.form.auth,
        [](AuthKind a) { return label(a); }, &UiCommand::set_auth);
    return top + kRowPitch;
}

}  // namespace

void paint_form_screen(RemoteApp& app, const PaintContext& ctx, const Rect& pane) {
    const auto& c = ctx.colors();
    const ConnectionKind kind = app.form.kind;
    const bool zavo = kind == ConnectionKind::Zavo;
    const bool editing = app.screen.kind == Screen::Kind::EditForm;
    // What a narrow or short window cannot hold (under the rail, below the bottom) is not clicked.
    const ClippedArea column(app, ctx, pane);

    const double y0 = pane.y0 - app.form_scroll;
    ctx.draw_text(editing ? "Edit connection" : "New connection", pane.x0 + 24.0, y0 + 18.0, 22.0f, 3, c.text_primary);

    const double f = std::min(pane.width() - 48.0, 560.0);
    const double fx0 = pane.x0 + (pane.width() - f) / 2.0;
    const double fx1 = fx0 + f;

    double y = paint_protocol(app, ctx, fx0, fx1, y0 + 72.0);
    if (kind == ConnectionKind::Rdp) y = paint_legacy_card(ctx, fx0, fx1, y);
    if (zavo) y = paint_devices(app, ctx, fx0, fx1, y);

    std::optional<Rect> focused;
    double top = paint_field_label(ctx, "Name", fx0, y);
    input(app, ctx, Rect{fx0, top, fx1, top + kFieldHeight}, InputSlot::Name, focused);

    top = paint_field_label(ctx, zavo ? "Device node" : "Host", fx0, top + kRowPitch);
    const double host_x1 = zavo ? fx1 : fx1 - 130.0;
    input(app, ctx, Rect{fx0, top, host_x1, top + kFieldHeight}, InputSlot::Host, focused);
    if (!zavo) input(app, ctx, Rect{host_x1 + 12.0, top, fx1, top + kFieldHeight}, InputSlot::Port, focused);

    if (kind == ConnectionKind::Vnc) {
        top = paint_field_label(ctx, "Group", fx0, top + kRowPitch);
        input(app, ctx, Rect{fx0, top, fx1, top + kFieldHeight}, InputSlot::Group, focused);
    } else if (!zavo) {
        top = paint_field_label(ctx, "User", fx0, top + kRowPitch);
        input(app, ctx, Rect{fx0, top, fx0 + (f - 12.0) / 2.0, top + kFieldHeight}, InputSlot::User, focused);
        input(app, ctx, Rect{fx0 + (f + 12.0) / 2.0, top, fx1, top + kFieldHeight}, InputSlot::Group, focused);
    }

    const double problems_y = paint_authentication(app, ctx, fx0, fx1, top + kRowPitch);
    const std::vector<std::string> problems = app.form_problems();
    if (problems.empty())
        ctx.draw_text("Enter a name and target to save this connection.", fx0, problems_y, 12.5f, 0, c.text_secondary,
                      f);
    else
        ctx.draw_text(fmt::format("{}", fmt::join(problems, " · ")), fx0, problems_y, 12.5f, 0, c.danger, f);

    const double by = problems_y + 28.0;
    const Rect save{fx1 - 120.0, by, fx1, by + kFieldHeight};
    const Rect cancel{fx1 - 230.0, by, fx1 - 132.0, by + kFieldHeight};
    paint_button(app, ctx, {"Save", save, zavo_ui::widget::button::PRIMARY});
    app.push_hit_region(save, UiCommand::plain(K::SaveForm));
    paint_button(app, ctx, {"Cancel", cancel, zavo_ui::widget::button::SECONDARY});
    app.push_hit_region(cancel, UiCommand::plain(K::CancelForm));
    if (editing) {
        const Rect remove{fx0, by, fx0 + 120.0, by + kFieldHeight};
        paint_button(app, ctx, {"Delete", remove, zavo_ui::widget::button::DESTRUCTIVE_OUTLINE});
        app.push_hit_region(remove, UiCommand::with_id(K::RequestDelete, app.screen.id));
    }

    // The buttons scroll into view above a notice banner or the pane's bottom. A form that
    // became shorter (another kind, a taller window) is shown scrolled less from the next frame.
    app.form_scroll_max = std::max(by + kFieldHeight + app.form_scroll - shown_bottom(app, ctx, pane), 0.0);
    if (app.form_scroll > app.form_scroll_max) {
        app.form_scroll = app.form_scroll_max;
        app.redraw_needed = true;
    }
    // A field the focus moved to (Tab, a reader) comes into view from the next frame.
    if (std::exchange(app.form_reveal_focus, false) && focused)
        reveal(app, *focused, pane.y0, shown_bottom(app, ctx, pane) - 8.0);
}

}  // namespace remote::views

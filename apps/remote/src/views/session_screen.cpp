// The session screen: a status card until the session is connected, then a header over the
// terminal grid or the remote picture.
#include "views/session_screen.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "known_hosts/known_hosts.hpp"
#include "profiles/connection_list.hpp"
#include "views/terminal_view.hpp"
#include "zavo_ui/surface.hpp"

namespace remote::views {

namespace {

using zavo_ui::Rect;

constexpr double HEADER_HEIGHT = 48.0;

// A refused host key: the sentence without the keys, and the keys set apart after it.
void set_keys_apart(ProblemCard& card, const HostKeyProblem& problem, const SavedConnection& target) {
    if (const auto* unknown = std::get_if<HostKeyUnknown>(&problem)) {
        card.keys = {{"", unknown->presented}};
    } else if (const auto* changed = std::get_if<HostKeyChanged>(&problem)) {
        card.keys = {{"Expected", changed->stored}, {"Received", changed->presented}};
    } else {
        return;
    }
    card.paragraphs.front() = message_without_keys(problem, target.host, target.port);
}

// The status card for a session that is not connected; none when it is. `target` is where the
// session went, `key_problem` the host key its SSH session refused.
std::optional<ProblemCard> status_card(const std::optional<SessionStatus>& status, const SavedConnection& connection,
                                       const SavedConnection& target, const std::optional<HostKeyProblem>& key_problem,
                                       const Rect& pane) {
    ProblemCard card{.area = pane, .title = "Not connected", .paragraphs = {}, .connection = connection};
    using S = SessionStatus::Kind;
    if (!status) {
        card.paragraphs = {"This transport is unavailable in this build.", "Your saved connection is unchanged."};
        return card;
    }
    switch (status->kind) {
        case S::Connecting:
            card.mode = 1;
            if (connection.kind == ConnectionKind::Zavo) {
                card.title = "Waiting for consent…";
                card.paragraphs = {
                    "Opening an authenticated route to the exact target, then waiting for it to "
                    "share a workspace surface…"};
            } else {
                card.title = "Connecting…";
                card.paragraphs = {"Negotiating the transport and authenticating…"};
            }
            return card;
        case S::Failed:
            card.mode = 2;
            card.title = "Connection failed";
            card.paragraphs = {status->text, "This is the real error — nothing is simulated."};
            if (key_problem) set_keys_apart(card, *key_problem, target);
            return card;
        case S::Ended:
            card.title = "Session ended";
            card.paragraphs = {"The remote closed the session."};
            return card;
        case S::Unavailable: {
            card.title = "Connection not available";
            card.offer_edit = true;
            const char* next = connection.kind == ConnectionKind::Rdp
                                   ? "Edit this saved profile to use SSH, VNC, or Zavo device control."
                               : connection.kind == ConnectionKind::Zavo
                                   ? "No connection was attempted."
                                   : "Use Zavo device control now, or install Remote with live network and "
                                     "host-key trust access.";
            card.paragraphs = {status->text, next};
            return card;
        }
        case S::Connected: break;
    }
    return std::nullopt;
}

const char* detail_suffix(ConnectionKind kind) {
    switch (kind) {
        case ConnectionKind::Ssh: return "shell";
        case ConnectionKind::Zavo: return "workspace stream";
        case ConnectionKind::Vnc:
        case ConnectionKind::Rdp: break;
    }
    return "framebuffer";
}

// The header of a connected session: the connection's name, then where the session is
// connected, which is the connection as it was launched.
void paint_header(RemoteApp& app, const PaintContext& ctx, std::string_view name, const SavedConnection& connection,
                  const Rect& pane) {
    const auto& colors = ctx.colors();
    const double x0 = pane.x0, y0 = pane.y0, x1 = pane.x1;
    const double ym = y0 + HEADER_HEIGHT / 2.0;
    const Rect bar{x0, y0, x1, y0 + HEADER_HEIGHT};
    // Buttons a narrow pane cannot hold are cut at its edge, where the rail lies over them.
    const ClippedArea header(app, ctx, bar);
    ctx.fill(colors.surface, bar);
    ctx.fill(zavo_ui::chrome::shell::chrome_hairline(ctx.theme),
             Rect{x0, y0 + HEADER_HEIGHT - 1.0, x1, y0 + HEADER_HEIGHT});
    ctx.fill(colors.success, zavo_ui::Circle{{x0 + 18.0, ym}, 5.0});

    const Rect disconnect{x1 - 122.0, y0 + 8.0, x1 - 12.0, y0 + 40.0};
    paint_button(app, ctx, {"Disconnect", disconnect, zavo_ui::widget::button::DESTRUCTIVE_OUTLINE});
    app.push_hit_region(disconnect, UiCommand::plain(UiCommand::Kind::Disconnect));
    double buttons_x0 = disconnect.x0;
    if (connection.kind != ConnectionKind::Ssh) {
        const Rect fullscreen = paint_header_button(app, ctx, {"Fullscreen", disconnect.x0 - 12.0, bar});
        app.push_hit_region(fullscreen, UiCommand::plain(UiCommand::Kind::ToggleFullscreen));
        const Rect scale = paint_header_button(
            app, ctx, {app.session.scale_to_fit() ? "Scale: Fit" : "Scale: 1:1", fullscreen.x0 - 8.0, bar});
        app.push_hit_region(scale, UiCommand::plain(UiCommand::Kind::ToggleScale));
        buttons_x0 = scale.x0;
    }

    // The name and the detail line stop short of the buttons in a narrow window.
    const double texts_x1 = std::max(x0, buttons_x0 - 8.0);
    const ClippedArea texts(app, ctx, Rect{x0, y0, texts_x1, y0 + HEADER_HEIGHT});
    const std::string shown = elide(ctx.text, name, 14.0f, 2, std::max(texts_x1 - (x0 + 32.0), 0.0));
    const auto name_box = ctx.measure(shown, 14.0f, 2);
    ctx.draw_text(shown, x0 + 32.0, ym - name_box.height / 2.0, 14.0f, 2, colors.text_primary);
    // The detail line gives way as the rows' target lines do.
    const double detail_x = x0 + 40.0 + name_box.width;
    const double detail_room = texts_x1 - detail_x - ctx.measure_verbatim("· ", 12.0f).width;
    const std::string detail =
        "· " + elide_target(ctx.text, connection, 12.0f, 0, std::max(detail_room, 0.0),
                            " · " + std::string(detail_suffix(connection.kind)));
    const double detail_height = ctx.measure_verbatim(detail, 12.0f).height;
    ctx.draw_verbatim(detail, detail_x, ym - detail_height / 2.0, 12.0f, colors.text_secondary);
}

void paint_picture(RemoteApp& app, const PaintContext& ctx, const Rect& surface) {
    ctx.fill(zavo_ui::Color{0.0f, 0.0f, 0.0f, 1.0f}, surface);
    const auto& picture = app.session.picture();
    if (!picture) {
        ctx.draw_text("Connected — waiting for the first framebuffer update…", surface.x0 + 24.0, surface.y0 + 24.0,
                      13.0f, 0, ctx.colors().text_secondary);
        return;
    }
    const zavo_ui::Image& image = *picture;
    const Rect d = picture_rect(surface, image.width, image.height, app.session.scale_to_fit());
    app.session.set_surface_rect(d);
    app.push_hit_region(d, HitRegion::Role::Picture);
    const double iw = std::max<std::uint32_t>(image.width, 1);
    const double ih = std::max<std::uint32_t>(image.height, 1);
    const zavo_ui::Affine brush = zavo_ui::Affine::translate(d.x0, d.y0) *
                                  zavo_ui::Affine::scale_non_uniform(d.width() / iw, d.height() / ih);
    ctx.scene.fill(zavo_ui::Fill::NonZero, ctx.transform,
                   zavo_ui::ImageBrush{image, 1.0f, zavo_ui::ImageQuality::Medium, zavo_ui::Extend::Pad}, brush, d);
    if (app.session.fullscreen())
        ctx.draw_text("Esc to exit fullscreen", surface.x1 - 170.0, surface.y0 + 12.0, 12.0f, 0,
                      ctx.colors().text_secondary);
}

}  // namespace

Rect picture_rect(const Rect& surface, std::uint32_t width, std::uint32_t height, bool scale_to_fit) {
    const double iw = std::max<std::uint32_t>(width, 1);
    const double ih = std::max<std::uint32_t>(height, 1);
    const double sw = surface.width();
    const double sh = surface.height();
    double dw = std::min(iw, sw);
    double dh = std::min(ih, sh);
    if (scale_to_fit) {
        const double s = std::min(sw / iw, sh / ih);
        dw = s * iw;
        dh = s * ih;
    }
    const zavo_ui::Point c = surface.center();
    return {c.x - dw / 2.0, c.y - dh / 2.0, c.x + dw / 2.0, c.y + dh / 2.0};
}

void poll_live_session(RemoteApp& app) {
    if (app.session.poll()) app.redraw_needed = true;
    const auto& target = app.session.target();
    if (!target || !app.session.connected()) return;
    SavedConnection* connection = find_connection(app.connections, *target);
    if (connection && connection->presence != Presence::Online) {
        connection->presence = Presence::Online;
        app.connections.touch();  // the list's counts follow
        app.redraw_needed = true;
    }
}

void paint_session_screen(RemoteApp& app, const PaintContext& ctx, const Rect& pane) {
    const SavedConnection* found = find_connection(app.connections, app.screen.id);
    if (!found) {
        ctx.draw_text("Connection no longer exists.", pane.x0 + 24.0, pane.y0 + 24.0, 14.0f, 0,
                      ctx.colors().text_secondary);
        return;
    }
    // Where the session goes: the connection as it was launched.
    const auto& launched = app.session.launched();
    const SavedConnection& target = launched && app.session.target() == found->id ? *launched : *found;
    if (auto card = status_card(app.session.status(), *found, target, app.session.host_key_problem(found->id), pane))
        return paint_problem_card(app, ctx, *card);

    Rect surface = pane;
    if (!app.session.fullscreen()) {
        paint_header(app, ctx, found->name, target, pane);
        surface.y0 += HEADER_HEIGHT;
    }
    if (const Terminal* terminal = app.session.terminal()) return paint_terminal(ctx, *terminal, surface);
    paint_picture(app, ctx, surface);
}

}  // namespace remote::views

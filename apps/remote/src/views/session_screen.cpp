#include "views/session_screen.hpp"

#include "profiles/connection_list.hpp"

#include <string>
#include <vector>

namespace remote::views {

void poll_live_session(RemoteApp&) {}

void paint_session_screen(RemoteApp& app, const PaintContext& ctx, const zavo_ui::Rect& pane) {
    const SavedConnection* found = find_connection(app.connections, app.screen.id);
    if (found == nullptr) {
        ctx.draw_text("Connection no longer exists.", pane.x0 + 24.0, pane.y0 + 24.0, 14.0f, 0,
                      ctx.colors().text_secondary);
        return;
    }
    const SavedConnection connection = *found;
    const std::optional<SessionStatus> status =
        app.live_session ? std::optional(app.live_session->status()) : std::nullopt;
    ProblemCard card{.area = pane, .title = "Not connected", .paragraphs = {}, .connection = connection};
    using S = SessionStatus::Kind;
    if (!status) {
        card.paragraphs = {"This transport is unavailable in this build.", "Your saved connection is unchanged."};
    } else if (status->kind == S::Connecting) {
        card.mode = 1;
        if (connection.kind == ConnectionKind::Zavo) {
            card.title = "Waiting for consent…";
            card.paragraphs = {"Opening an authenticated route to the exact target, then waiting for it to share a "
                               "workspace surface…"};
        } else {
            card.title = "Connecting…";
            card.paragraphs = {"Negotiating the transport and authenticating…"};
        }
    } else if (status->kind == S::Failed) {
        card.mode = 2;
        card.title = "Connection failed";
        card.paragraphs = {status->text, "This is the real error — nothing is simulated."};
    } else if (status->kind == S::Ended) {
        card.title = "Session ended";
        card.paragraphs = {"The remote closed the session."};
    } else if (status->kind == S::Unavailable) {
        card.title = "Connection not available";
        card.offer_edit = true;
        const char* second = connection.kind == ConnectionKind::Rdp
                                 ? "Edit this saved profile to use SSH, VNC, or Zavo device control."
                             : connection.kind == ConnectionKind::Zavo
                                 ? "No connection was attempted."
                                 : "Use Zavo device control now, or install Remote with live network and host-key "
                                   "trust access.";
        card.paragraphs = {status->text, second};
    } else {
        return;  // connected: the session surface
    }
    paint_problem_card(app, ctx, card);
}

}  // namespace remote::views

// The frame: flap animation, session polling, the main pane by screen, the notice banner, the
// confirmation dialog, the navigation and the hover tooltip, with every control's hit region
// pushed in drawing order.
#include "app/remote_app.hpp"
#include "profiles/connection_list.hpp"
#include "views/paint_primitives.hpp"
#include "views/screens.hpp"
#include "views/session_screen.hpp"
#include "zavo_ui/surface.hpp"
#include "zavo_ui/tooltip.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>

namespace remote::views {
namespace {

using zavo_ui::Rect;
using K = UiCommand::Kind;

constexpr double kRevealShown = 0.001;

void advance_flap(RemoteApp& app, double elapsed) {
    if (app.reduced_motion) {
        app.snap_nav_flap();
        return;
    }
    const double target = app.flap_target();
    const double dt = std::min(elapsed, 0.1);
    double progress = app.flap.progress + (1.0 - std::exp(-14.0 * dt)) * (target - app.flap.progress);
    if (std::abs(progress - target) < 0.001)
        progress = target;
    else
        app.redraw_needed = true;
    app.flap.set_progress(progress);
}

// Where the notice banner lies in `window`: at the bottom right, taller when the notice wraps
// to more lines than its usual box holds.
Rect notice_box(const PaintContext& ctx, const Rect& window, const std::string& notice) {
    const double wn = std::min(window.width() - 32.0, 520.0);
    const double text_height = ctx.measure(notice, 12.0f, 0, wn - 24.0).height;
    const double height = std::max(54.0, 27.0 + text_height + 9.0);
    return {window.x1 - 16.0 - wn, window.y1 - 16.0 - height, window.x1 - 16.0, window.y1 - 16.0};
}

// The tint lies on an opaque ground so that what is below does not show through the text; the
// banner takes the clicks on it.
void paint_notice(RemoteApp& app, const PaintContext& ctx, const Rect& window, const Notice& notice) {
    const auto& c = ctx.colors();
    const Rect box = notice_box(ctx, window, notice.text);
    const double wn = box.width();
    const auto shape = PaintContext::rounded(box, 10.0);
    ctx.fill(c.background, shape);
    ctx.fill(color_with_alpha(c.warning, 0.18f), shape);
    ctx.stroke(c.warning, shape);
    ctx.draw_text(notice.title, box.x0 + 12.0, box.y0 + 9.0, 12.5f, 2, c.text_primary);
    ctx.draw_text(notice.text, box.x0 + 12.0, box.y0 + 27.0, 12.0f, 0, c.text_secondary, wn - 24.0);
    app.push_hit_region(box, HitRegion::Role::Cover);
}

struct DialogTexts {
    const char* title;  // "{}" is the subject
    std::string body;
    const char* confirm;
    std::optional<KeyBlock> key = std::nullopt;  // set apart after the body
    std::string after = {};                      // the sentence after the key
};

DialogTexts dialog_texts(const ConfirmationRequest& request) {
    using R = ConfirmationRequest::Kind;
    switch (request.kind) {
        case R::Connect:
            return {"Connect to {}?",
                    "This opens a live remote session. Remote will recheck the saved target and access before anything "
                    "is sent.",
                    "Connect"};
        case R::Delete:
            return {"Delete {}?",
                    "This removes the shared saved profile from Remote. It does not modify the remote machine.",
                    "Delete"};
        case R::TrustHostKey:
            return {"Trust SSH key for {}?", "Verify this out of band before trusting:", "Trust key",
                    KeyBlock{"", request.identity}, "This pin is private to this device."};
        case R::ForgetHostKey: break;
    }
    return {"Forget SSH key for {}?",
            "This removes only this device's saved host-key pin. Reconnect to inspect and explicitly trust a "
            "replacement key.",
            "Forget key"};
}

// The title with the subject shortened so that the title keeps to one line (the target line
// is below it).
std::string dialog_title(const PaintContext& ctx, const char* pattern, const std::string& subject, double width) {
    const std::string whole = fmt::format(fmt::runtime(pattern), subject);
    if (zavo_ui::text_render::measured_piece(ctx.text, whole, zavo_ui::TextStyle::of_size(18.0f, 3), width).fits(width))
        return whole;
    const double rest = ctx.measure(fmt::format(fmt::runtime(pattern), ""), 18.0f, 3).width;
    return fmt::format(fmt::runtime(pattern), elide(ctx.text, subject, 18.0f, 3, width - rest));
}

void paint_dialog(RemoteApp& app, const PaintContext& ctx, const ConfirmationRequest& request) {
    const auto& c = ctx.colors();
    const Rect& window = app.window_bounds;
    const SavedConnection* connection = find_connection(app.connections, request.id);
    const std::string subject = connection ? connection->name : "this saved connection";
    const DialogTexts texts = dialog_texts(request);

    ctx.fill(color_with_alpha(c.scrim, 0.62f), window);
    const double dw = std::min(std::max(window.width() - 32.0, 280.0), 460.0);
    const double wrap = dw - 48.0;
    // A key set apart below the body, and the sentence after it, may make the panel taller: the
    // buttons' row keeps 16 below them.
    const double body_height = ctx.measure(texts.body, 13.0f, 0, wrap).height;
    double dh = 224.0;
    if (texts.key) {
        const double bottom = 92.0 + body_height + 8.0 + key_block_height(ctx, *texts.key, wrap) + 8.0 +
                              ctx.measure(texts.after, 13.0f, 0, wrap).height;
        dh = std::max(dh, bottom + 16.0 + 58.0);
    }
    const auto [cx, cy] = window.center();
    const Rect panel{cx - dw / 2.0, cy - dh / 2.0, cx + dw / 2.0, cy + dh / 2.0};
    ctx.fill(zavo_ui::chrome::shell::panel_ground(ctx.theme), PaintContext::rounded(panel, 14.0));
    ctx.stroke(zavo_ui::chrome::shell::panel_border(ctx.theme), zavo_ui::surface::edge_outline(panel, 14.0));

    ctx.draw_text(dialog_title(ctx, texts.title, subject, wrap), panel.x0 + 24.0, panel.y0 + 28.0, 18.0f, 3,
                  c.text_primary, wrap);
    if (connection)
        ctx.draw_verbatim(elide_target(ctx.text, *connection, 12.5f, 0, wrap), panel.x0 + 24.0, panel.y0 + 58.0, 12.5f,
                          c.text_secondary, zavo_ui::FontFamily::Sans, wrap);
    ctx.draw_text(texts.body, panel.x0 + 24.0, panel.y0 + 92.0, 13.0f, 0, c.text_secondary, wrap);
    if (texts.key) {
        const double key_top = panel.y0 + 92.0 + body_height + 8.0;
        const double key_height = paint_key_block(ctx, *texts.key, panel.x0 + 24.0, key_top, wrap);
        ctx.draw_text(texts.after, panel.x0 + 24.0, key_top + key_height + 8.0, 13.0f, 0, c.text_secondary, wrap);
    }

    const Rect cancel{panel.x1 - 244.0, panel.y1 - 58.0, panel.x1 - 132.0, panel.y1 - 18.0};
    const Rect confirm{panel.x1 - 120.0, panel.y1 - 58.0, panel.x1 - 18.0, panel.y1 - 18.0};
    paint_button(app, ctx, {"Cancel", cancel, zavo_ui::widget::button::SECONDARY});
    const bool destructive = request.kind == ConfirmationRequest::Kind::Delete;
    paint_button(app, ctx,
                 {texts.confirm, confirm,
                  destructive ? zavo_ui::widget::button::DESTRUCTIVE : zavo_ui::widget::button::PRIMARY});
    app.push_hit_region(cancel, UiCommand::plain(K::CancelConfirmation));
    app.push_hit_region(confirm, UiCommand::plain(K::Confirm));
}

void paint_navigation(RemoteApp& app, const PaintContext& ctx, double reveal) {
    const auto& c = ctx.colors();
    const Rect& window = app.window_bounds;
    if (app.narrow) {
        if (reveal > kRevealShown) {
            // The scrim covers the pane: a click on it only closes the navigation.
            ctx.fill(color_with_alpha(zavo_ui::colors::BLACK, static_cast<float>(0.26 * reveal)), window);
            app.push_hit_region(window, HitRegion::Role::Cover);
        }
        const Rect toggle{window.x0 + 12.0, window.y0 + 12.0, window.x0 + 52.0, window.y0 + 52.0};
        zavo_ui::surface::card(ctx.scene, ctx.transform, toggle, c.surface, 8.0);
        if (hovered(app, toggle))
            ctx.stroke(zavo_ui::surface::edge_on_with(c.surface, 92), zavo_ui::surface::edge_outline(toggle, 8.0));
        const auto [mx, my] = toggle.center();
        if (app.flap_target() == 1.0) {
            ctx.draw_text_centered("‹", mx, toggle.y0 + 6.0, 22.0f, 3, c.text_primary);
        } else {
            for (double dy : {-6.0, 0.0, 6.0})
                ctx.fill(c.text_primary, PaintContext::rounded(Rect{mx - 9.0, my + dy, mx + 9.0, my + dy + 2.0}, 1.0));
        }
        app.push_hit_region(toggle, UiCommand::plain(K::ToggleNavigation));
    }
    if (reveal <= kRevealShown) return;

    const double left = window.x0 - (1.0 - app.flap.slide()) * kRailWidth;
    const Rect rail{left, window.y0, left + kRailWidth, window.y1};
    ctx.fill(c.surface, rail);
    ctx.fill(zavo_ui::chrome::shell::chrome_hairline(ctx.theme), Rect{rail.x1 - 1.0, rail.y0, rail.x1, rail.y1});
    ctx.fill(c.accent, PaintContext::rounded(Rect{left + 16.0, window.y0 + 18.0, left + 48.0, window.y0 + 44.0}, 5.0));
    ctx.fill(c.accent, Rect{left + 26.0, window.y0 + 44.0, left + 38.0, window.y0 + 49.0});

    const Rect list = paint_rail_item(app, ctx, {"≡", rail, 0, app.screen.kind == Screen::Kind::List});
    app.push_hit_region(list, UiCommand::plain(K::ShowConnections));
    const Rect add = paint_rail_item(app, ctx, {"+", rail, 1, false});
    app.push_hit_region(add, UiCommand::plain(K::NewConnectionForm));
}

}  // namespace

double shown_bottom(const RemoteApp& app, const PaintContext& ctx, const Rect& pane) {
    if (!app.notice) return pane.y1;
    return std::min(pane.y1, notice_box(ctx, app.window_bounds, app.notice->text).y0 - 8.0);
}

}  // namespace remote::views

namespace remote::app {

void RemoteApp::paint(zavo_ui::Scene& scene, const zavo_ui::Affine& transform, zavo_ui::text_render::TextRenderer& text,
                      const zavo_ui::theme::Theme& theme, zavo_ui::DrawContext& draw) {
    hit_regions.clear();
    refresh_inputs();

    const auto now = std::chrono::steady_clock::now();
    const double elapsed = std::chrono::duration<double>(now - last_frame).count();
    last_frame = now;
    views::advance_flap(*this, elapsed);

    const bool session_shown = screen.kind == Screen::Kind::Session;
    if (session_shown) views::poll_live_session(*this);

    const views::PaintContext ctx{scene, transform, text, theme, draw};
    const zavo_ui::Rect window = window_bounds;
    ctx.fill(theme.colors.background, window);

    const double reveal = flap.reveal();
    const bool fullscreen_session = session_shown && session.fullscreen();
    const double content_x0 = fullscreen_session ? window.x0
                              : narrow           ? window.x0 + views::kRailWidth
                                                 : window.x0 + views::kRailWidth * reveal;
    const zavo_ui::Rect pane{content_x0, window.y0, window.x1, window.y1};
    // Under a dialog, the narrow navigation's scrim or the banner the pointer is on, the main
    // pane's controls show no hover: the cover takes the click.
    pointer_covered = confirmation || (narrow && !fullscreen_session && reveal > views::kRevealShown) ||
                      (notice && views::notice_box(ctx, window, notice->text).contains(pointer));
    switch (screen.kind) {
        case Screen::Kind::List: views::paint_list_screen(*this, ctx, pane); break;
        case Screen::Kind::NewForm:
        case Screen::Kind::EditForm: views::paint_form_screen(*this, ctx, pane); break;
        case Screen::Kind::Session: views::paint_session_screen(*this, ctx, pane); break;
    }
    pointer_covered = false;

    if (notice) views::paint_notice(*this, ctx, window, *notice);
    if (confirmation) {
        const ConfirmationRequest request = *confirmation;
        views::paint_dialog(*this, ctx, request);
        return;
    }
    if (fullscreen_session) return;
    views::paint_navigation(*this, ctx, reveal);
    if (tooltip.tick(now)) redraw_needed = true;
    if (const auto* showing = tooltip.showing())
        zavo_ui::widget::tooltip::draw_hover_tooltip(scene, transform, text, theme, showing->anchor, showing->text,
                                                     window);
}

}  // namespace remote::app

#include "app/remote_app.hpp"
#include "views/paint_primitives.hpp"
#include "views/session_screen.hpp"

namespace remote::app {

void RemoteApp::paint(zavo_ui::Scene& scene, const zavo_ui::Affine& transform, zavo_ui::text_render::TextRenderer& text,
                      const zavo_ui::theme::Theme& theme, zavo_ui::DrawContext& draw) {
    hit_regions.clear();
    const views::PaintContext ctx{scene, transform, text, theme, draw};
    ctx.fill(theme.colors.background, window_bounds);
    if (screen.kind == Screen::Kind::Session) {
        views::poll_live_session(*this);
        views::paint_session_screen(*this, ctx, window_bounds);
    }
}

}  // namespace remote::app

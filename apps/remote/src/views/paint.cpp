#include "app/remote_app.hpp"

namespace remote::app {

void RemoteApp::paint(zavo_ui::Scene&, const zavo_ui::Affine&, zavo_ui::text_render::TextRenderer&,
                      const zavo_ui::theme::Theme&, zavo_ui::DrawContext&) {
    hit_regions.clear();
}

}  // namespace remote::app

#include "app/remote_app.hpp"

namespace remote::app {

std::optional<zavo_ui::a11y::AccessNode> RemoteApp::accessibility_tree() { return std::nullopt; }

bool RemoteApp::activate_element(std::string_view, const zavo_ui::a11y::SemanticAction&, zavo_ui::EventContext&) {
    return false;
}

}  // namespace remote::app

#include "app/remote_app.hpp"

namespace remote::app {

void RemoteApp::execute(const UiCommand&, crdt::Document&) { redraw_needed = true; }
void RemoteApp::request_connect(const Uuid&) {}
void RemoteApp::request_delete(const Uuid&) {}
void RemoteApp::focus_input(InputSlot) {}
void RemoteApp::blur_input() {}
bool RemoteApp::route_text_input(const zavo_ui::event::Event&, zavo_ui::event::Modifiers, zavo_ui::EventContext&,
                                 double) {
    return false;
}
void RemoteApp::refresh_inputs() {}
void RemoteApp::load_form_into_inputs() {}
std::vector<std::string> RemoteApp::form_problems() const { return {}; }
void RemoteApp::push_hit_region(const zavo_ui::Rect& rect, UiCommand command) {
    hit_regions.push_back({rect, std::move(command)});
}
std::optional<zavo_ui::Rect> RemoteApp::hit_region_rect(const UiCommand& command) const {
    for (auto it = hit_regions.rbegin(); it != hit_regions.rend(); ++it)
        if (it->command == command) return it->rect;
    return std::nullopt;
}
void RemoteApp::close_nav_when_narrow() {}
std::optional<HostKeyProblem> RemoteApp::ssh_host_key_verdict(const Uuid&) const { return std::nullopt; }

}  // namespace remote::app

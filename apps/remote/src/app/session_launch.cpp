#include "app/remote_app.hpp"

#include <limits>

namespace remote::app {

void RemoteApp::start_session(const Uuid&) {}

void RemoteApp::end_session() {
    if (live_session)
        if (const auto* device = std::get_if<DeviceSession>(&live_session->value))
            device_requests.push_back(DeviceRequest::disconnect(device->session_id));
    live_session.reset();
    frame_image.reset();
    surface_rect.reset();
    session_target.reset();
    if (session_counter != std::numeric_limits<std::uint64_t>::max()) ++session_counter;
    fullscreen = false;
    screen = Screen::list();
}

const rfb::VncShared* RemoteApp::connected_vnc_session() const { return nullptr; }

std::optional<std::pair<std::uint16_t, std::uint16_t>> RemoteApp::vnc_pointer_position(zavo_ui::Point) const {
    return std::nullopt;
}

void RemoteApp::send_vnc_pointer(zavo_ui::Point) {}

std::optional<zavo_ui::Point> RemoteApp::device_pointer_position(zavo_ui::Point) const { return std::nullopt; }

void RemoteApp::send_device_input(DeviceInput) {}

}  // namespace remote::app

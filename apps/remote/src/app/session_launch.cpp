// Session launch and end, and the helpers through which pointer and device input reach a
// connected session.
#include "app/remote_app.hpp"
#include "profiles/connection_list.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace remote::app {

namespace {

constexpr std::uint64_t kLastSession = std::numeric_limits<std::uint64_t>::max();

LiveSession failed(std::string text) { return LiveSession{LiveSession::Failed{std::move(text)}}; }

LiveSession launch_ssh(const SavedConnection& c) {
    auto store = known_hosts_path();
    if (!store) return failed("SSH host-key trust is unavailable: " + store.error());
    const auto candidates = default_ssh_key_paths();
    auto credentials = load_ssh_credentials(c.auth == AuthKind::PublicKey, candidates);
    if (!credentials) return failed(std::move(credentials.error()));
    auto session = start_ssh_session(
        SshSessionRequest{c.host, ssh_user_for(c), std::move(*store), std::move(*credentials), c.port, 80, 24});
    if (!session) return failed(std::move(session.error()));
    return LiveSession{std::make_unique<SshSession>(std::move(*session))};
}

LiveSession launch_vnc(const SavedConnection& c) {
    auto session = rfb::start_vnc_session(c.host, c.port, optional_env_var("REMOTE_VNC_PASSWORD"));
    if (!session) return failed(std::move(session.error()));
    return LiveSession{std::move(*session)};
}

// Where `point` falls in `rect` as a fraction of its width and height; none outside it (the
// right and bottom edges are outside) or for an empty rectangle.
std::optional<std::pair<double, double>> surface_fraction(const std::optional<zavo_ui::Rect>& rect,
                                                          zavo_ui::Point point) {
    if (!rect || !(rect->width() > 0.0) || !(rect->height() > 0.0)) return std::nullopt;
    if (point.x < rect->x0 || point.x >= rect->x1 || point.y < rect->y0 || point.y >= rect->y1) return std::nullopt;
    return std::pair{(point.x - rect->x0) / rect->width(), (point.y - rect->y0) / rect->height()};
}

// fraction x size, clamped to the last pixel (0 for an empty size).
double scale_into(double fraction, double size) { return std::clamp(fraction * size, 0.0, std::max(size - 1.0, 0.0)); }

}  // namespace

void RemoteApp::drop_live_session() {
    if (live_session)
        if (const auto* device = std::get_if<DeviceSession>(&live_session->value))
            device_requests.push_back(DeviceRequest::disconnect(device->session_id));
    live_session.reset();
    frame_image.reset();
    surface_rect.reset();
    fullscreen = false;
    vnc_buttons = 0;
}

void RemoteApp::start_session(const Uuid& id) {
    const SavedConnection* found = find_connection(connections, id);
    if (!found) return;
    const SavedConnection c = *found;
    if (session_counter == kLastSession) {
        session_target = id;
        drop_live_session();
        live_session = failed("remote session identity exhausted; restart the application");
        screen = Screen::session(id);
        return;
    }
    ++session_counter;
    session_target = id;
    drop_live_session();

    const ConnectionReadiness readiness = c.readiness();
    if (readiness != ConnectionReadiness::Ready) {
        live_session = LiveSession{LiveSession::Unavailable{readiness, c.kind}};
        screen = Screen::session(id);
        return;
    }
    switch (c.kind) {
        case ConnectionKind::Ssh: live_session = launch_ssh(c); break;
        case ConnectionKind::Vnc: live_session = launch_vnc(c); break;
        case ConnectionKind::Rdp:
            live_session = LiveSession{LiveSession::Unavailable{ConnectionReadiness::BackendUnavailable, c.kind}};
            break;
        case ConnectionKind::Zavo:
            if (auto device = start_device_session(c.host, device_session_counter, device_requests))
                live_session = LiveSession{std::move(*device)};
            else
                live_session = failed(std::move(device.error()));
            break;
    }
    if (SavedConnection* stamped = find_connection(connections, id)) stamped->last_used = "just now";
    screen = Screen::session(id);
}

void RemoteApp::end_session() {
    drop_live_session();
    session_target.reset();
    if (session_counter != kLastSession) ++session_counter;
    screen = Screen::list();
}

SshSession* RemoteApp::connected_ssh_session() const {
    const auto* ssh = live_session ? std::get_if<std::unique_ptr<SshSession>>(&live_session->value) : nullptr;
    return ssh && (*ssh)->status().is_connected() ? ssh->get() : nullptr;
}

const rfb::VncShared* RemoteApp::connected_vnc_session() const {
    const auto* vnc = live_session ? std::get_if<rfb::VncShared>(&live_session->value) : nullptr;
    return vnc && vnc->status().is_connected() ? vnc : nullptr;
}

std::optional<std::pair<std::uint16_t, std::uint16_t>> RemoteApp::vnc_pointer_position(zavo_ui::Point point) const {
    const rfb::VncShared* vnc = connected_vnc_session();
    if (!vnc) return std::nullopt;
    const auto fraction = surface_fraction(surface_rect, point);
    const auto size = vnc->framebuffer_size();
    if (!fraction || !size || size->first == 0 || size->second == 0) return std::nullopt;
    auto pixel = [](double f, std::uint16_t extent) {
        return static_cast<std::uint16_t>(std::min(std::trunc(scale_into(f, extent)), 65535.0));
    };
    return std::pair{pixel(fraction->first, size->first), pixel(fraction->second, size->second)};
}

void RemoteApp::send_vnc_pointer(zavo_ui::Point point) {
    const auto position = vnc_pointer_position(point);
    if (!position) return;
    // Connected, or there would be no position; a full or closed queue drops the event.
    auto& vnc = std::get<rfb::VncShared>(live_session->value);
    (void)vnc.send_input(rfb::VncInput::pointer(vnc_buttons, position->first, position->second));
}

std::optional<zavo_ui::Point> RemoteApp::device_pointer_position(zavo_ui::Point point) const {
    const auto* device = live_session ? std::get_if<DeviceSession>(&live_session->value) : nullptr;
    if (!device || !device->status.is_connected() || !device->frame_size) return std::nullopt;
    const auto fraction = surface_fraction(surface_rect, point);
    if (!fraction) return std::nullopt;
    return zavo_ui::Point{scale_into(fraction->first, device->frame_size->first),
                          scale_into(fraction->second, device->frame_size->second)};
}

void RemoteApp::send_device_input(DeviceInput input) {
    if (const auto* device = live_session ? std::get_if<DeviceSession>(&live_session->value) : nullptr)
        remote::send_device_input(*device, std::move(input), device_requests);
}

}  // namespace remote::app

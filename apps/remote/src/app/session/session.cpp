#include "app/session/session.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>

#include <fmt/format.h>

#include "app/session/keys.hpp"
#include "shared/overloaded.hpp"

namespace remote {

namespace {

namespace ev = zavo_ui::event;

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

// The live session by kind: at most one pointer is set, none for a failed, unavailable or
// preview session. The one place that asks which kind is live.
template <class Ssh, class Vnc, class Device>
struct Kinds {
    Ssh* ssh = nullptr;
    Vnc* vnc = nullptr;
    Device* device = nullptr;
};

template <class Live>
auto kinds_of(Live& live) {
    constexpr bool read_only = std::is_const_v<Live>;
    using Vnc = std::conditional_t<read_only, const rfb::VncShared, rfb::VncShared>;
    using Device = std::conditional_t<read_only, const DeviceSession, DeviceSession>;
    Kinds<SshSession, Vnc, Device> out;
    if (live)
        std::visit(Overloaded{
                       [&](const std::unique_ptr<SshSession>& s) { out.ssh = s.get(); },
                       [&](Vnc& v) { out.vnc = &v; },
                       [&](Device& d) { out.device = &d; },
                       [](const auto&) {},
                   },
                   live->value);
    return out;
}

// Where `point` falls in `rect` as a fraction of its width and height; none outside it (the
// right and bottom edges are outside) or for an empty rectangle.
std::optional<std::pair<double, double>> surface_fraction(const std::optional<zavo_ui::Rect>& rect,
                                                          zavo_ui::Point point) {
    if (!rect || !(rect->width() > 0.0) || !(rect->height() > 0.0)) return std::nullopt;
    if (point.x < rect->x0 || point.x >= rect->x1 || point.y < rect->y0 || point.y >= rect->y1) return std::nullopt;
    return std::pair{(point.x - rect->x0) / rect->width(), (point.y - rect->y0) / rect->height()};
}

// A button's bit in the RFB mask (a device's held buttons are kept the same way) and its
// input-event code; none for other buttons.
std::pair<std::uint8_t, std::uint32_t> button_bit_and_code(ev::PointerButton button) {
    switch (button) {
        case ev::PointerButton::Primary: return {1, BTN_LEFT};
        case ev::PointerButton::Middle: return {2, BTN_MIDDLE};
        case ev::PointerButton::Secondary: return {4, BTN_RIGHT};
        case ev::PointerButton::Other: break;
    }
    return {0, 0};
}

// Connecting or connected: not failed, ended or refused.
bool is_live(const std::optional<SessionStatus>& status) {
    return status && (status->is_connecting() || status->is_connected());
}

// fraction x size, clamped to the last pixel (0 for an empty size).
double scale_into(double fraction, double size) { return std::clamp(fraction * size, 0.0, std::max(size - 1.0, 0.0)); }

}  // namespace

void Session::drop() {
    release_keys();  // queued before the input closes; the worker writes what is queued
    if (const DeviceSession* device = kinds_of(live_).device)
        device_requests_.push_back(DeviceRequest::disconnect(device->session_id));
    live_.reset();
    launched_.reset();
    picture_.reset();
    surface_rect_.reset();
    fullscreen_ = false;
    vnc_buttons_ = 0;
    device_buttons_ = 0;
    polled_live_ = false;
}

bool Session::start(const SavedConnection& c) {
    target_ = c.id;
    if (counter_ == kLastSession) {
        drop();
        live_ = failed("remote session identity exhausted; restart the application");
        return false;
    }
    ++counter_;
    drop();
    launched_ = c;

    const ConnectionReadiness readiness = c.readiness();
    if (readiness != ConnectionReadiness::Ready) {
        live_ = LiveSession{LiveSession::Unavailable{readiness, c.kind}};
        return false;
    }
    switch (c.kind) {
        case ConnectionKind::Ssh: live_ = launch_ssh(c); break;
        case ConnectionKind::Vnc: live_ = launch_vnc(c); break;
        case ConnectionKind::Rdp:
            live_ = LiveSession{LiveSession::Unavailable{ConnectionReadiness::BackendUnavailable, c.kind}};
            break;
        case ConnectionKind::Zavo:
            if (auto device = start_device_session(c.host, device_counter_, device_requests_))
                live_ = LiveSession{std::move(*device)};
            else
                live_ = failed(std::move(device.error()));
            break;
    }
    return true;
}

void Session::end() {
    drop();
    target_.reset();
    if (counter_ != kLastSession) ++counter_;
}

void Session::hold(const Uuid& target, LiveSession session) {
    target_ = target;
    held_keys_.clear();
    live_.reset();
    launched_.reset();
    live_ = std::move(session);
    polled_live_ = false;
}

std::optional<SessionStatus> Session::status() const {
    if (!live_) return std::nullopt;
    return live_->status();
}

bool Session::connected() const { return live_ && live_->status().is_connected(); }

bool Session::wants_frames() { return is_live(status()) || std::exchange(polled_live_, false); }

bool Session::running_for(const SavedConnection& connection) const {
    if (target_ != connection.id || !is_live(status())) return false;
    if (!launched_) return true;
    // The same machine as the launch reached: its kind, host and port, and for SSH the account.
    const SavedConnection& then = *launched_;
    return then.kind == connection.kind && then.host == connection.host && then.port == connection.port &&
           (connection.kind != ConnectionKind::Ssh || then.user == connection.user);
}

const Terminal* Session::terminal() const {
    const SshSession* ssh = kinds_of(live_).ssh;
    return ssh ? &ssh->terminal : nullptr;
}

SshSession* Session::connected_ssh() const {
    SshSession* ssh = kinds_of(live_).ssh;
    return ssh && ssh->status().is_connected() ? ssh : nullptr;
}

const rfb::VncShared* Session::connected_vnc() const {
    const rfb::VncShared* vnc = kinds_of(live_).vnc;
    return vnc && vnc->status().is_connected() ? vnc : nullptr;
}

const DeviceSession* Session::connected_device() const {
    const DeviceSession* device = kinds_of(live_).device;
    return device && device->status.is_connected() ? device : nullptr;
}

std::optional<HostKeyProblem> Session::host_key_problem(const Uuid& id) const {
    const SshSession* ssh = kinds_of(live_).ssh;
    if (!ssh || target_ != id) return std::nullopt;
    return ssh->host_key_problem();
}

bool Session::poll() {
    polled_live_ = is_live(status());
    const auto live = kinds_of(live_);
    if (live.ssh) {
        const bool fed = live.ssh->pump_output();
        polled_live_ = polled_live_ || live.ssh->output_waiting();
        return fed;
    }
    if (live.vnc) {
        auto snapshot = live.vnc->take_new_frame();
        if (!snapshot) return false;
        picture_ = rfb::snapshot_image(*snapshot);
        return true;
    }
    if (live.device) {
        auto decoded = take_decoded_frame(*live.device);
        if (!decoded) return false;
        picture_ = decoded_frame_image(std::move(*decoded));
        return true;
    }
    return false;
}

void Session::pointer_moved(zavo_ui::Point point) {
    send_vnc_pointer(point);
    if (const auto device = device_pointer_position(point))
        send_device_input(DeviceInput::pointer_move(device->x, device->y));
}

bool Session::pointer_button(ev::PointerButton button, bool pressed, zavo_ui::Point point, bool on_picture) {
    const auto [bit, code] = button_bit_and_code(button);
    const bool held = !pressed && ((vnc_buttons_ | device_buttons_) & bit);
    if (!on_picture && !held) return false;
    // A button the remote holds is released also when the pointer left the picture since its
    // press, at the picture's nearest edge; the remote would hold it otherwise.
    if (held && surface_rect_) {
        const zavo_ui::Rect& r = *surface_rect_;
        point = {std::clamp(point.x, r.x0, std::max(r.x0, std::nextafter(r.x1, r.x0))),
                 std::clamp(point.y, r.y0, std::max(r.y0, std::nextafter(r.y1, r.y0)))};
    }
    if (device_pointer_position(point)) {
        if (button == ev::PointerButton::Primary && pressed) send_device_input(DeviceInput::primary_press(true));
        if (code != 0) send_device_input(DeviceInput::button(pressed, code));
        device_buttons_ = pressed ? (device_buttons_ | bit) : (device_buttons_ & ~bit);
        return true;
    }
    if (vnc_pointer_position(point)) {
        vnc_buttons_ = pressed ? (vnc_buttons_ | bit) : (vnc_buttons_ & ~bit);
        send_vnc_pointer(point);
        return true;
    }
    return false;
}

std::vector<Session::HeldKey>::iterator Session::held_key(const std::optional<ev::KeyCode>& physical,
                                                          std::uint32_t code) {
    return std::ranges::find_if(held_keys_, [&](const HeldKey& k) {
        return physical ? k.physical == physical : !k.physical && k.code == code;
    });
}

bool Session::send_key(const ev::Key& key, ev::Modifiers modifiers) {
    const auto live = kinds_of(live_);
    if (live.vnc || live.device) {
        // Presses and releases as they happen; a release sends what its press sent. A device
        // takes every key that has a physical key: one it has no code for goes nowhere.
        if (live.device && !key.physical) return false;
        const bool connected = live.vnc ? live.vnc->status().is_connected() : live.device->status.is_connected();
        const auto code = live.vnc ? vnc_keysym_for_key(key) : device_key_code(*key.physical);
        auto it = held_key(key.physical, code.value_or(0));
        if (key.pressed()) {
            if (!connected) return false;
            if (it == held_keys_.end()) {
                if (!code) return live.device != nullptr;
                it = held_keys_.insert(held_keys_.end(), {key.physical, *code});
            }
            send_remote_key(true, it->code);
            return true;
        }
        if (it == held_keys_.end()) return false;
        send_remote_key(false, it->code);
        held_keys_.erase(it);
        return true;
    }
    if (!key.pressed()) return false;
    if (SshSession* ssh = connected_ssh()) {
        const Terminal& t = ssh->terminal;
        auto bytes = ssh_bytes_for_key(key, modifiers, {t.application_cursor_keys(), t.application_keypad()});
        if (!bytes) return false;
        (void)ssh->send_text(std::move(*bytes));
        return true;
    }
    return false;
}

void Session::send_remote_key(bool pressed, std::uint32_t code) {
    const auto live = kinds_of(live_);
    if (live.vnc) (void)live.vnc->send_input(rfb::VncInput::key(pressed, code));
    if (live.device) send_device_input(DeviceInput::key(pressed, code));
}

void Session::release_keys() {
    for (auto it = held_keys_.rbegin(); it != held_keys_.rend(); ++it) send_remote_key(false, it->code);
    held_keys_.clear();
}

std::optional<std::pair<std::uint16_t, std::uint16_t>> Session::vnc_pointer_position(zavo_ui::Point point) const {
    const rfb::VncShared* vnc = connected_vnc();
    if (!vnc) return std::nullopt;
    const auto fraction = surface_fraction(surface_rect_, point);
    const auto size = vnc->framebuffer_size();
    if (!fraction || !size || size->first == 0 || size->second == 0) return std::nullopt;
    auto pixel = [](double f, std::uint16_t extent) {
        return static_cast<std::uint16_t>(std::min(std::trunc(scale_into(f, extent)), 65535.0));
    };
    return std::pair{pixel(fraction->first, size->first), pixel(fraction->second, size->second)};
}

void Session::send_vnc_pointer(zavo_ui::Point point) {
    const auto position = vnc_pointer_position(point);
    if (!position) return;
    // Connected, or there would be no position; a full or closed queue drops the event.
    (void)kinds_of(live_).vnc->send_input(rfb::VncInput::pointer(vnc_buttons_, position->first, position->second));
}

std::optional<zavo_ui::Point> Session::device_pointer_position(zavo_ui::Point point) const {
    const DeviceSession* device = connected_device();
    if (!device || !device->frame_size) return std::nullopt;
    const auto fraction = surface_fraction(surface_rect_, point);
    if (!fraction) return std::nullopt;
    return zavo_ui::Point{scale_into(fraction->first, device->frame_size->first),
                          scale_into(fraction->second, device->frame_size->second)};
}

void Session::send_device_input(DeviceInput input) {
    if (const DeviceSession* device = kinds_of(live_).device)
        remote::send_device_input(*device, std::move(input), device_requests_);
}

bool Session::handle_device_event(const DeviceEvent& event) {
    DeviceSession* device = kinds_of(live_).device;
    return device && apply_device_event(*device, event);
}

std::string HostKeyRefusal::text(std::string_view stale, std::string_view unavailable, std::string_view failed) const {
    switch (kind) {
        case Kind::Stale: return std::string(stale);
        case Kind::Unavailable: return fmt::format(fmt::runtime(unavailable), error);
        case Kind::Failed: break;
    }
    return fmt::format(fmt::runtime(failed), error);
}

namespace {

// The trust store's location, or why it cannot be used.
std::expected<std::filesystem::path, HostKeyRefusal> trust_store() {
    auto path = known_hosts_path();
    if (!path) return std::unexpected(HostKeyRefusal{HostKeyRefusal::Kind::Unavailable, std::move(path.error())});
    return std::move(*path);
}

HostKeyRefusal store_failed(std::string error) { return {HostKeyRefusal::Kind::Failed, std::move(error)}; }

}  // namespace

std::expected<void, HostKeyRefusal> Session::trust_host_key(const SavedConnection& connection,
                                                            const HostKeyIdentity& observed) const {
    const auto problem = host_key_problem(connection.id);
    const auto* unknown = problem ? std::get_if<HostKeyUnknown>(&*problem) : nullptr;
    if (!unknown || unknown->presented != observed) return std::unexpected(HostKeyRefusal{});
    const auto path = trust_store();
    if (!path) return std::unexpected(path.error());
    if (auto pinned = known_hosts::trust(*path, connection.host, connection.port, observed); !pinned)
        return std::unexpected(store_failed(std::move(pinned.error())));
    return {};
}

std::expected<bool, HostKeyRefusal> Session::forget_host_key(const SavedConnection& connection) const {
    const auto problem = host_key_problem(connection.id);
    if (!problem || !std::holds_alternative<HostKeyChanged>(*problem)) return std::unexpected(HostKeyRefusal{});
    const auto path = trust_store();
    if (!path) return std::unexpected(path.error());
    auto removed = known_hosts::forget(*path, connection.host, connection.port);
    if (!removed) return std::unexpected(store_failed(std::move(removed.error())));
    return *removed;
}

}  // namespace remote

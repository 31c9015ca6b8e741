#pragma once
// The application's one live session and what the window keeps of it: which saved connection it
// belongs to, the counter that tells operations their session was replaced, the remote picture
// and where it was drawn, the held VNC buttons, full screen and scaling. Every question about
// which kind of session is live is answered here. UI thread only.
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/session/live_session.hpp"
#include "profiles/saved_connection.hpp"
#include "profiles/uuid.hpp"
#include "zavo_ui/events.hpp"
#include "zavo_ui/geometry.hpp"
#include "zavo_ui/image.hpp"

namespace remote {

// Why trusting or forgetting the live session's host key did not happen.
struct HostKeyRefusal {
    enum class Kind : std::uint8_t {
        Stale,        // the session no longer shows the key problem the request was made for
        Unavailable,  // the trust store's location cannot be used
        Failed,       // the trust store refused the change
    };
    Kind kind = Kind::Stale;
    std::string error;  // the store's error text (Unavailable, Failed)

    // The text shown for it: `stale` as it is, the other two with the error in place of "{}".
    std::string text(std::string_view stale, std::string_view unavailable, std::string_view failed) const;
};

class Session {
public:
    // `counter` is where the session counter starts.
    explicit Session(std::uint64_t counter = 0) : counter_(counter) {}

    // --- launch and end
    // Replaces the live session by a launch for `connection` (the previous one ends here). The
    // counter moves unless it is exhausted. True when the launch got past the counter and the
    // readiness check, so that the connection counts as used, also when the launch then failed.
    bool start(const SavedConnection& connection);
    // Ends whatever session there is (a device session is told to disconnect).
    void end();
    // Holds a session made elsewhere (the review scenes' previews) for `target`; moves no counter.
    void hold(const Uuid& target, LiveSession session);

    // --- what is live
    bool active() const { return live_.has_value(); }
    // None without a session.
    std::optional<SessionStatus> status() const;
    bool connected() const;
    // Whether painting must go on for the session: while it is connecting or connected, and once
    // more after a paint that polled it live, so that a worker giving up between a frame's paint
    // and this question still reaches the screen; and once more after a paint that left output
    // waiting for the next one (no frame that does not take it).
    bool wants_frames();
    // Whether the session of `connection` is connecting or connected (not failed, ended or
    // refused) to the target the connection names now.
    bool running_for(const SavedConnection& connection) const;
    // The saved connection the session belongs to.
    const std::optional<Uuid>& target() const { return target_; }
    // That connection as it was when the session was launched, naming where the session goes;
    // none for a session held from elsewhere.
    const std::optional<SavedConnection>& launched() const { return launched_; }
    std::uint64_t counter() const { return counter_; }
    // The SSH session's terminal; null for other sessions.
    const Terminal* terminal() const;
    // The live SSH session when it is connected.
    SshSession* connected_ssh() const;
    // The live VNC session when it is connected.
    const rfb::VncShared* connected_vnc() const;
    // The live device session when it is connected.
    const DeviceSession* connected_device() const;
    // The live SSH session's host-key problem, when that session belongs to `id`.
    std::optional<HostKeyProblem> host_key_problem(const Uuid& id) const;
    // The held value itself, for tests that play a worker's part; the window asks the rest.
    const LiveSession* held() const { return live_ ? &*live_ : nullptr; }

    // --- what the window keeps of it
    // The newest remote picture (VNC and device sessions), shared with the worker that made it.
    const std::optional<zavo_ui::Image>& picture() const { return picture_; }
    // Where painting last drew the picture; pointer positions map through it.
    const std::optional<zavo_ui::Rect>& surface_rect() const { return surface_rect_; }
    void set_surface_rect(const zavo_ui::Rect& rect) { surface_rect_ = rect; }
    bool fullscreen() const { return fullscreen_; }
    void set_fullscreen(bool on) { fullscreen_ = on; }
    bool scale_to_fit() const { return scale_to_fit_; }
    void set_scale_to_fit(bool on) { scale_to_fit_ = on; }
    // The VNC button mask: bit 0 primary, bit 1 middle, bit 2 secondary.
    std::uint8_t vnc_buttons() const { return vnc_buttons_; }

    // Takes what the session produced since the last call (terminal output, a newer picture);
    // whether anything changed. Never waits. Painting calls it before it shows the session.
    bool poll();

    // --- input: the window tells which points lie on the picture as it shows it now
    // A connected VNC or device session is told the pointer moved to `point` (logical pixels)
    // on its picture.
    void pointer_moved(zavo_ui::Point point);
    // A button went down or up at `point`, on the picture when `on_picture`: true when a
    // connected VNC or device session took it. The release of a button the session was sent
    // pressed is taken wherever `point` is.
    bool pointer_button(zavo_ui::event::PointerButton button, bool pressed, zavo_ui::Point point, bool on_picture);
    // Sends a key to a connected session: a press to any, a release to the VNC or device
    // session that was sent its press, with what the press sent (a keysym, a device key code).
    // A device takes every key that has a physical key; one without a code is dropped. False
    // when the session did not take the key.
    bool send_key(const zavo_ui::event::Key& key, zavo_ui::event::Modifiers modifiers);
    // Releases every key a VNC or device session was sent pressed and not released: the window
    // lost the focus, or the session ends.
    void release_keys();
    std::optional<std::pair<std::uint16_t, std::uint16_t>> vnc_pointer_position(zavo_ui::Point point) const;
    void send_vnc_pointer(zavo_ui::Point point);
    std::optional<zavo_ui::Point> device_pointer_position(zavo_ui::Point point) const;
    // Queues the input for a connected device session; dropped otherwise.
    void send_device_input(DeviceInput input);

    // --- the device relay
    const std::vector<DeviceRequest>& device_requests() const { return device_requests_; }
    std::vector<DeviceRequest> take_device_requests() { return std::exchange(device_requests_, {}); }
    // Applies a relay event to the live device session; true when the window should redraw.
    bool handle_device_event(const DeviceEvent& event);

    // --- host keys of the live SSH session of `connection`, as stored now
    // Pins the unknown key the session was shown, when it is still `observed`.
    std::expected<void, HostKeyRefusal> trust_host_key(const SavedConnection& connection,
                                                       const HostKeyIdentity& observed) const;
    // Removes the pin of the changed key the session was shown; whether there was one.
    std::expected<bool, HostKeyRefusal> forget_host_key(const SavedConnection& connection) const;

private:
    // A key the remote holds pressed: its physical key and what its press sent (a keysym, a
    // device key code).
    struct HeldKey {
        std::optional<zavo_ui::event::KeyCode> physical;
        std::uint32_t code = 0;
    };
    // The held entry of a key by its physical key, or (for a key without one) by its code.
    std::vector<HeldKey>::iterator held_key(const std::optional<zavo_ui::event::KeyCode>& physical, std::uint32_t code);

    // A key's press or release to the VNC or device session, whatever its state.
    void send_remote_key(bool pressed, std::uint32_t code);
    // Drops the live session and what the window kept of it.
    void drop();

    std::optional<LiveSession> live_;
    std::optional<Uuid> target_;
    std::optional<SavedConnection> launched_;
    std::uint64_t counter_ = 0;
    std::uint64_t device_counter_ = 1;
    std::vector<DeviceRequest> device_requests_;
    std::optional<zavo_ui::Image> picture_;
    std::optional<zavo_ui::Rect> surface_rect_;
    std::uint8_t vnc_buttons_ = 0;
    std::uint8_t device_buttons_ = 0;  // the buttons a device was sent pressed, as vnc_buttons_
    std::vector<HeldKey> held_keys_;
    bool fullscreen_ = false;
    bool scale_to_fit_ = true;
    bool polled_live_ = false;  // the last poll found the session live, or left output waiting
};

}  // namespace remote

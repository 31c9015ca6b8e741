#pragma once
// Device sessions over the relay: the requests an application queues, the events the relay
// delivers, and the sink through which both pass. The relay itself is zavo_ui/relay/relay.hpp.
//
// The relay calls a sink only on the thread that runs `DeviceRelay::exchange` (the UI thread).
#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "relay_key/relay_key.hpp"

namespace zavo_ui::device_relay {

// Input for the remote device: pointer positions in pixels of the remote picture, buttons and
// keys as Linux input-event codes.
struct DeviceInput {
    struct PointerMove {
        double x = 0;
        double y = 0;
        friend bool operator==(const PointerMove&, const PointerMove&) = default;
    };
    struct Button {
        bool down = false;
        std::uint32_t code = 0;
        friend bool operator==(const Button&, const Button&) = default;
    };
    struct Key {
        bool down = false;
        std::uint32_t code = 0;
        friend bool operator==(const Key&, const Key&) = default;
    };
    // Sent with `flag` true just before a press of the primary button.
    struct PrimaryPress {
        bool flag = true;
        friend bool operator==(const PrimaryPress&, const PrimaryPress&) = default;
    };
    using Value = std::variant<PointerMove, Button, Key, PrimaryPress>;

    Value value;

    static DeviceInput pointer_move(double x, double y) { return {PointerMove{x, y}}; }
    static DeviceInput button(bool down, std::uint32_t code) { return {Button{down, code}}; }
    static DeviceInput key(bool down, std::uint32_t code) { return {Key{down, code}}; }
    static DeviceInput primary_press(bool flag = true) { return {PrimaryPress{flag}}; }

    friend bool operator==(const DeviceInput&, const DeviceInput&) = default;
};

// What an application asks of the relay; every request names its device session.
struct DeviceRequest {
    struct Connect {
        relay_key::PublicKey endpoint;
        std::uint64_t session_id = 0;
        friend bool operator==(const Connect&, const Connect&) = default;
    };
    struct Input {
        DeviceInput input;
        std::uint64_t session_id = 0;
        friend bool operator==(const Input&, const Input&) = default;
    };
    struct Disconnect {
        std::uint64_t session_id = 0;
        friend bool operator==(const Disconnect&, const Disconnect&) = default;
    };
    using Value = std::variant<Connect, Input, Disconnect>;

    Value value;

    static DeviceRequest connect(relay_key::PublicKey endpoint, std::uint64_t session_id) {
        return {Connect{endpoint, session_id}};
    }
    static DeviceRequest input(DeviceInput input, std::uint64_t session_id) {
        return {Input{std::move(input), session_id}};
    }
    static DeviceRequest disconnect(std::uint64_t session_id) { return {Disconnect{session_id}}; }

    std::uint64_t session_id() const {
        return std::visit([](const auto& r) { return r.session_id; }, value);
    }

    friend bool operator==(const DeviceRequest&, const DeviceRequest&) = default;
};

// Why a device session ended. `text` is set for Other only: the peer's own words.
struct DisconnectReason {
    enum class Kind : std::uint8_t { Other, ControlRevoked, TargetDisconnected, RelayDisconnected, ControlClosed };

    Kind kind = Kind::Other;
    std::string text;

    static DisconnectReason other(std::string text) { return {Kind::Other, std::move(text)}; }
    static DisconnectReason control_revoked() { return {Kind::ControlRevoked, {}}; }
    static DisconnectReason target_disconnected() { return {Kind::TargetDisconnected, {}}; }
    static DisconnectReason relay_disconnected() { return {Kind::RelayDisconnected, {}}; }
    static DisconnectReason control_closed() { return {Kind::ControlClosed, {}}; }

    friend bool operator==(const DisconnectReason&, const DisconnectReason&) = default;
};

// What the relay reports about a device session. Events carry the session id of their
// Connect, and Connected comes before the first Frame.
struct DeviceEvent {
    // Still connecting, or waiting for the device to accept.
    struct Pending {
        friend bool operator==(const Pending&, const Pending&) = default;
    };
    // The device shares a picture of this size.
    struct Connected {
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        friend bool operator==(const Connected&, const Connected&) = default;
    };
    // One encoded H.264 access unit (Annex B byte stream).
    struct Frame {
        std::vector<std::uint8_t> bytes;
        friend bool operator==(const Frame&, const Frame&) = default;
    };
    struct Disconnected {
        DisconnectReason reason;
        friend bool operator==(const Disconnected&, const Disconnected&) = default;
    };
    using Value = std::variant<Pending, Connected, Frame, Disconnected>;

    std::uint64_t session_id = 0;
    Value value;

    friend bool operator==(const DeviceEvent&, const DeviceEvent&) = default;
};

// The application's side of the relay.
class DeviceSessionSink {
public:
    virtual ~DeviceSessionSink() = default;
    // Every request queued since the last call, in order; the queue is left empty.
    virtual std::vector<DeviceRequest> take_device_requests() = 0;
    // One event from the relay.
    virtual void handle_device_event(const DeviceEvent& event) = 0;
};

}  // namespace zavo_ui::device_relay

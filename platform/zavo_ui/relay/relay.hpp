#pragma once
// The relay that carries device sessions. The only devices it reaches are the simulated ones
// (zavo_ui/simulated_devices.hpp); a session to any other endpoint is reported pending and
// then disconnected by the relay.
#include <chrono>
#include <functional>
#include <memory>

#include "zavo_ui/device_relay.hpp"

namespace zavo_ui::device_relay {

struct RelayOptions {
    // How long a simulated device takes to accept a session.
    std::chrono::milliseconds consent_delay{700};
    // How long the relay takes to give up on an endpoint it cannot reach.
    std::chrono::milliseconds unreachable_delay{1500};
    // Time between two video frames of a simulated device.
    std::chrono::microseconds frame_interval{33'333};
};

// The relay: a thread of its own runs the devices and encodes their video. Call `exchange` on the UI
// thread after every frame and whenever the wake-up callback asks for it.
class DeviceRelay {
public:
    explicit DeviceRelay(RelayOptions options = {});
    ~DeviceRelay();
    DeviceRelay(const DeviceRelay&) = delete;
    DeviceRelay& operator=(const DeviceRelay&) = delete;

    // Run from the relay's thread each time events become ready for the next exchange. It must
    // not call into the relay; schedule an exchange on the UI thread instead.
    void set_wake(std::function<void()> wake);

    // Takes the sink's queued requests, then hands it every event that is ready, in order.
    void exchange(DeviceSessionSink& sink);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zavo_ui::device_relay

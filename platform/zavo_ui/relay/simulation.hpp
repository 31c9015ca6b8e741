#pragma once
// The relay's sessions to simulated devices, driven by the clock it is given (no threads).
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "zavo_ui/relay/relay.hpp"

namespace zavo_ui::device_relay {

using RelayClock = std::chrono::steady_clock;

class RelaySimulation {
public:
    explicit RelaySimulation(RelayOptions options = {});
    ~RelaySimulation();
    RelaySimulation(RelaySimulation&&) noexcept;
    RelaySimulation& operator=(RelaySimulation&&) noexcept;

    void submit(const DeviceRequest& request, RelayClock::time_point now);

    // Every event due at `now`, in order. A session sends its next video frame only once the
    // previous one was delivered (`frame_delivered`), so a slow receiver gets fewer frames,
    // never a backlog or a broken stream.
    std::vector<DeviceEvent> advance(RelayClock::time_point now);

    void frame_delivered(std::uint64_t session_id);

    // When `advance` has work next; none while every session waits for a delivery or input.
    std::optional<RelayClock::time_point> next_due() const;

    std::size_t session_count() const;

private:
    struct Session;
    RelayOptions options_;
    std::map<std::uint64_t, std::unique_ptr<Session>> sessions_;
    // Events of `submit` that `advance` hands out first.
    std::vector<DeviceEvent> immediate_;
};

}  // namespace zavo_ui::device_relay

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "zavo_callstream/decoder.hpp"
#include "zavo_ui/relay/relay.hpp"
#include "zavo_ui/relay/simulation.hpp"
#include "zavo_ui/simulated_devices.hpp"

namespace {

using namespace zavo_ui::device_relay;
using namespace std::chrono_literals;
using zavo_ui::simulated_devices::SIMULATED_DEVICES;

const RelayOptions OPTIONS{100ms, 300ms, 33'333us};

relay_key::PublicKey device_key(std::size_t index) { return SIMULATED_DEVICES[index].public_key(); }

relay_key::PublicKey unknown_key() {
    return relay_key::SecretKey::from_bytes(zavo_ui::simulated_devices::detail::filled_key(9)).public_key();
}

const DeviceEvent::Frame* as_frame(const DeviceEvent& e) { return std::get_if<DeviceEvent::Frame>(&e.value); }

TEST(SimulatedDevices, KeysAndEndpointIds) {
    ASSERT_EQ(SIMULATED_DEVICES.size(), 4u);
    const char* names[] = {"Studio Node", "Workshop Laptop", "Living Room TV", "Garage Pi"};
    for (std::size_t i = 0; i < 4; ++i) {
        const auto& d = SIMULATED_DEVICES[i];
        EXPECT_EQ(d.name, names[i]);
        EXPECT_EQ(d.online, i != 3);
        for (auto b : d.secret_key) EXPECT_EQ(b, i + 1);
        auto parsed = relay_key::PublicKey::from_str(d.endpoint_id());
        ASSERT_TRUE(parsed) << d.name;
        EXPECT_EQ(*parsed, d.public_key());
    }
    EXPECT_NE(SIMULATED_DEVICES[0].endpoint_id(), SIMULATED_DEVICES[1].endpoint_id());
}

TEST(RelaySimulation, OnlineDeviceGoesPendingConnectedThenStreams) {
    RelaySimulation sim(OPTIONS);
    const auto t0 = RelayClock::now();
    sim.submit(DeviceRequest::connect(device_key(0), 7), t0);
    auto events = sim.advance(t0);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], (DeviceEvent{7, DeviceEvent::Pending{}}));

    EXPECT_TRUE(sim.advance(t0 + 99ms).empty()) << "consent takes its time";
    events = sim.advance(t0 + 100ms);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0], (DeviceEvent{7, DeviceEvent::Connected{1280, 720}}));
    ASSERT_TRUE(as_frame(events[1]));
    EXPECT_EQ(events[1].session_id, 7u);

    zavo_callstream::decoder::H264Decoder decoder;
    auto picture = decoder.decode(as_frame(events[1])->bytes);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width, 1280u);
    EXPECT_EQ(picture->height, 720u);

    // The next frame waits until the previous one was delivered.
    EXPECT_TRUE(sim.advance(t0 + 200ms).empty());
    EXPECT_FALSE(sim.next_due().has_value());
    sim.frame_delivered(7);
    events = sim.advance(t0 + 200ms);
    ASSERT_EQ(events.size(), 1u);
    ASSERT_TRUE(as_frame(events[0]));
    EXPECT_TRUE(decoder.decode(as_frame(events[0])->bytes)) << "the stream stays decodable";
}

TEST(RelaySimulation, UnreachableEndpointsAreDisconnected) {
    struct Case {
        const char* name;
        relay_key::PublicKey endpoint;
        DisconnectReason reason;
    };
    const Case cases[] = {
        {"offline device", device_key(3), DisconnectReason::target_disconnected()},
        {"unknown endpoint", unknown_key(), DisconnectReason::relay_disconnected()},
    };
    for (const auto& c : cases) {
        RelaySimulation sim(OPTIONS);
        const auto t0 = RelayClock::now();
        sim.submit(DeviceRequest::connect(c.endpoint, 3), t0);
        auto events = sim.advance(t0);
        ASSERT_EQ(events.size(), 1u) << c.name;
        EXPECT_EQ(events[0], (DeviceEvent{3, DeviceEvent::Pending{}})) << c.name;
        EXPECT_TRUE(sim.advance(t0 + 299ms).empty()) << c.name;
        events = sim.advance(t0 + 300ms);
        ASSERT_EQ(events.size(), 1u) << c.name;
        EXPECT_EQ(events[0], (DeviceEvent{3, DeviceEvent::Disconnected{c.reason}})) << c.name;
        EXPECT_EQ(sim.session_count(), 0u) << c.name;
    }
}

// Connects to the first device, hands its first frame to the decoder and returns the time at
// which it streams.
RelayClock::time_point streaming(RelaySimulation& sim, std::uint64_t id,
                                 zavo_callstream::decoder::H264Decoder& decoder) {
    const auto t0 = RelayClock::now();
    sim.submit(DeviceRequest::connect(device_key(0), id), t0);
    for (const auto& e : sim.advance(t0 + OPTIONS.consent_delay))
        if (auto* f = as_frame(e)) {
            EXPECT_TRUE(decoder.decode(f->bytes));
        }
    sim.frame_delivered(id);
    return t0 + OPTIONS.consent_delay;
}

TEST(RelaySimulation, PictureShowsTheSessionsInput) {
    RelaySimulation sim(OPTIONS);
    zavo_callstream::decoder::H264Decoder decoder;
    auto t = streaming(sim, 1, decoder);
    sim.submit(DeviceRequest::input(DeviceInput::pointer_move(200, 400), 1), t);
    sim.submit(DeviceRequest::input(DeviceInput::key(true, 30), 1), t);
    sim.submit(DeviceRequest::input(DeviceInput::button(true, 272), 1), t);
    auto events = sim.advance(t + 1s);
    ASSERT_EQ(events.size(), 1u);
    auto picture = decoder.decode(as_frame(events[0])->bytes);
    ASSERT_TRUE(picture);
    // The pointer's vertical line runs through the whole picture in red.
    const std::uint8_t* p = &picture->rgba[(std::size_t{650} * 1280 + 200) * 4];
    EXPECT_GT(p[0], 200);
    EXPECT_LT(p[1], 140);
    EXPECT_LT(p[2], 140);
}

TEST(RelaySimulation, NonFinitePointerPositionsAreIgnored) {
    RelaySimulation sim(OPTIONS);
    zavo_callstream::decoder::H264Decoder decoder;
    auto t = streaming(sim, 1, decoder);
    const double inf = std::numeric_limits<double>::infinity();
    sim.submit(DeviceRequest::input(DeviceInput::pointer_move(std::nan(""), 10), 1), t);
    sim.submit(DeviceRequest::input(DeviceInput::pointer_move(10, -inf), 1), t);
    auto events = sim.advance(t + 1s);
    ASSERT_EQ(events.size(), 1u);
    auto picture = decoder.decode(as_frame(events[0])->bytes);
    ASSERT_TRUE(picture);
    // No pointer line crosses the bottom row.
    for (std::uint32_t x = 0; x < picture->width; ++x) {
        const std::uint8_t* p = &picture->rgba[(std::size_t{719} * 1280 + x) * 4];
        ASSERT_FALSE(p[0] > 200 && p[1] < 140) << x;
    }
}

TEST(RelaySimulation, DisconnectEndsTheSessionAndNewerSessionTakesTheDeviceOver) {
    RelaySimulation sim(OPTIONS);
    zavo_callstream::decoder::H264Decoder decoder;
    auto t = streaming(sim, 1, decoder);
    sim.submit(DeviceRequest::connect(device_key(0), 2), t);
    auto events = sim.advance(t);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0], (DeviceEvent{1, DeviceEvent::Disconnected{DisconnectReason::control_closed()}}));
    EXPECT_EQ(events[1], (DeviceEvent{2, DeviceEvent::Pending{}}));
    sim.submit(DeviceRequest::disconnect(2), t);
    EXPECT_EQ(sim.session_count(), 0u);
    EXPECT_TRUE(sim.advance(t + 10s).empty());
    // Input and disconnects for sessions the relay does not hold are ignored.
    sim.submit(DeviceRequest::input(DeviceInput::key(true, 30), 5), t);
    sim.submit(DeviceRequest::disconnect(5), t);
    EXPECT_TRUE(sim.advance(t + 11s).empty());
}

class RecordingSink : public DeviceSessionSink {
public:
    std::vector<DeviceRequest> requests;
    std::vector<DeviceEvent> events;
    std::vector<DeviceRequest> take_device_requests() override { return std::exchange(requests, {}); }
    void handle_device_event(const DeviceEvent& event) override { events.push_back(event); }
};

TEST(DeviceRelay, CarriesASessionThroughItsThreadAndWakesTheCaller) {
    DeviceRelay relay(RelayOptions{20ms, 50ms, 10ms});
    std::mutex m;
    std::condition_variable cv;
    int wakes = 0;
    relay.set_wake([&] {
        std::lock_guard lock(m);
        ++wakes;
        cv.notify_all();
    });
    RecordingSink sink;
    sink.requests.push_back(DeviceRequest::connect(device_key(1), 4));
    sink.requests.push_back(DeviceRequest::connect(unknown_key(), 5));

    std::size_t frames = 0;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    relay.exchange(sink);
    while (frames < 3 && std::chrono::steady_clock::now() < deadline) {
        {
            std::unique_lock lock(m);
            cv.wait_for(lock, 100ms, [&] { return wakes > 0; });
            wakes = 0;
        }
        relay.exchange(sink);
        frames = 0;
        for (const auto& e : sink.events) frames += as_frame(e) != nullptr;
    }
    ASSERT_GE(frames, 3u);
    EXPECT_TRUE(sink.requests.empty());
    ASSERT_GE(sink.events.size(), 2u);
    // Each session's own events keep their order.
    std::vector<DeviceEvent> four, five;
    for (const auto& e : sink.events) (e.session_id == 4 ? four : five).push_back(e);
    EXPECT_EQ(four[0], (DeviceEvent{4, DeviceEvent::Pending{}}));
    EXPECT_EQ(four[1], (DeviceEvent{4, DeviceEvent::Connected{1440, 900}}));
    for (std::size_t i = 2; i < four.size(); ++i) EXPECT_TRUE(as_frame(four[i]));
    ASSERT_EQ(five.size(), 2u);
    EXPECT_EQ(five[1], (DeviceEvent{5, DeviceEvent::Disconnected{DisconnectReason::relay_disconnected()}}));
    relay.set_wake(nullptr);
}

}  // namespace

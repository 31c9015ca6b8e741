// A device session carried by the relay to a simulated device: requests out, events in, video
// decoded on the session's decoder thread and taken the way painting takes it.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

#include "app/remote_app.hpp"
#include "device/device_session.hpp"
#include "zavo_ui/relay/relay.hpp"
#include "zavo_ui/simulated_devices.hpp"

namespace {

using namespace remote;
using namespace std::chrono_literals;
using zavo_ui::device_relay::DeviceRelay;
using zavo_ui::device_relay::DeviceSessionSink;
using zavo_ui::device_relay::RelayOptions;
using zavo_ui::simulated_devices::SIMULATED_DEVICES;

// Holds one device session the way the application does.
class SessionSink : public DeviceSessionSink {
public:
    std::vector<DeviceRequest> requests;
    std::optional<DeviceSession> session;
    std::uint64_t counter = 1;

    void launch(std::string_view host) {
        auto started = start_device_session(host, counter, requests);
        ASSERT_TRUE(started) << started.error();
        session.emplace(std::move(*started));
    }
    std::vector<DeviceRequest> take_device_requests() override { return std::exchange(requests, {}); }
    void handle_device_event(const DeviceEvent& event) override {
        if (session) (void)apply_device_event(*session, event);
    }
};

// Runs exchanges, woken by the relay, until `done` holds or 20 s have passed.
class Pump {
public:
    explicit Pump(DeviceRelay& relay) : relay_(relay) {
        relay_.set_wake([this] {
            std::lock_guard lock(mutex_);
            woken_ = true;
            cv_.notify_all();
        });
    }
    ~Pump() { relay_.set_wake(nullptr); }

    template <typename F>
    bool until(DeviceSessionSink& sink, F done) {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (std::chrono::steady_clock::now() < deadline) {
            relay_.exchange(sink);
            if (done()) return true;
            std::unique_lock lock(mutex_);
            cv_.wait_for(lock, 20ms, [&] { return woken_; });
            woken_ = false;
        }
        return false;
    }

private:
    DeviceRelay& relay_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool woken_ = false;
};

const RelayOptions FAST{30ms, 60ms, 33'333us};

bool red_at(const DecodedFrame& f, std::uint32_t x, std::uint32_t y) {
    const std::uint8_t* p = &f.rgba[(std::size_t{y} * f.width + x) * 4];
    return p[0] > 200 && p[1] < 140 && p[2] < 140;
}

TEST(DeviceRelaySession, SimulatedDeviceStreamsAPictureThatFollowsTheInput) {
    DeviceRelay relay(FAST);
    Pump pump(relay);
    SessionSink sink;
    sink.launch(SIMULATED_DEVICES[0].endpoint_id());

    std::optional<DecodedFrame> picture;
    ASSERT_TRUE(pump.until(sink, [&] {
        if (auto p = take_decoded_frame(*sink.session)) picture = std::move(p);
        return picture.has_value();
    }));
    EXPECT_EQ(sink.session->status, SessionStatus::connected());
    EXPECT_EQ(picture->width, 1280u);
    EXPECT_EQ(picture->height, 720u);
    EXPECT_EQ(sink.session->frame_size, (std::pair<std::uint32_t, std::uint32_t>{1280, 720}));
    EXPECT_FALSE(red_at(*picture, 300, 650));

    // The pointer's line shows up in a later picture.
    send_device_input(*sink.session, DeviceInput::pointer_move(300, 400), sink.requests);
    ASSERT_TRUE(pump.until(sink, [&] {
        auto p = take_decoded_frame(*sink.session);
        return p && red_at(*p, 300, 650);
    }));

    // Ending the session tells the relay; the decoder thread ends with the session.
    auto alive = sink.session->decoder_alive;
    sink.requests.push_back(DeviceRequest::disconnect(sink.session->session_id));
    sink.session.reset();
    EXPECT_TRUE(pump.until(sink, [&] { return !alive->load(std::memory_order_acquire); }));
}

TEST(DeviceRelaySession, UnreachableDevicesFailTheSessionWithTheRelaysReason) {
    const std::pair<std::string, const char*> cases[] = {
        {SIMULATED_DEVICES[3].endpoint_id(), "Target disconnected"},
        {relay_key::SecretKey::from_bytes(zavo_ui::simulated_devices::detail::filled_key(42)).public_key().to_string(),
         "Encrypted relay disconnected"},
    };
    for (const auto& [endpoint, text] : cases) {
        DeviceRelay relay(FAST);
        Pump pump(relay);
        SessionSink sink;
        sink.launch(endpoint);
        EXPECT_TRUE(pump.until(sink, [&] { return sink.session->status.kind == SessionStatus::Kind::Failed; })) << text;
        EXPECT_EQ(sink.session->status, SessionStatus::failed(text));
    }
}

// Through the application's own sink: the application's launch, events handled by the
// application, pictures taken by its live session's poll as painting does.
TEST(DeviceRelaySession, ApplicationSinkCarriesASampleDeviceSession) {
    DeviceRelay relay(FAST);
    Pump pump(relay);
    auto app = RemoteApp::with_sample_data();
    const SavedConnection& studio = app->connections[1];
    ASSERT_EQ(studio.name, "Studio Node");

    app->start_session(studio.id);
    const auto& session = std::get<DeviceSession>(app->session.held()->value);
    EXPECT_EQ(session.session_id, 1u);

    app->redraw_needed = false;
    ASSERT_TRUE(pump.until(*app, [&] { return app->session.poll() && app->session.picture(); }));
    EXPECT_TRUE(app->session.device_requests().empty()) << "the relay took the Connect";
    EXPECT_TRUE(app->redraw_needed);
    EXPECT_EQ(app->session.status(), SessionStatus::connected());
    EXPECT_EQ(app->session.picture()->width, 1280u);
    EXPECT_EQ(app->session.picture()->height, 720u);

    // Ending the session queues its Disconnect; the relay stops sending and the decoder ends.
    auto alive = session.decoder_alive;
    app->end_session();
    ASSERT_EQ(app->session.device_requests(), (std::vector{DeviceRequest::disconnect(1)}));
    EXPECT_TRUE(pump.until(
        *app, [&] { return app->session.device_requests().empty() && !alive->load(std::memory_order_acquire); }));
}

}  // namespace

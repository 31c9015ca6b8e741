// Session launch and end without a network: refusals, failures, the counters, and the helpers
// that map pointer positions onto a connected remote picture.
#include "app/remote_app.hpp"

#include "profiles/connection_list.hpp"
#include "support/env.hpp"
#include "support/saved_connection.hpp"
#include "support/temp_dir.hpp"
#include "tests/views/session_harness.hpp"
#include "zavo_ui/simulated_devices.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <limits>

using namespace remote;
using K = UiCommand::Kind;

namespace {

class SessionLaunch : public ::testing::Test {
protected:
    void SetUp() override {
        env.set("REMOTE_LIVE_SESSIONS", nullptr);
        app = RemoteApp::with_sample_data();
    }
    Uuid id_of(std::string_view name) const { return test_support::id_named(app->connections, name); }
    SavedConnection& connection(std::string_view name) { return *find_connection(app->connections, id_of(name)); }
    SessionStatus status() const { return *app->session.status(); }

    test_support::EnvGuard env;
    std::unique_ptr<RemoteApp> app;
};

TEST_F(SessionLaunch, AnUnknownIdChangesNothing) {
    app->start_session(Uuid::new_v4());
    EXPECT_FALSE(app->session.active());
    EXPECT_EQ(app->session.counter(), 0u);
    EXPECT_EQ(app->screen, Screen::list());
}

TEST_F(SessionLaunch, RefusedLaunchesShowWhyAndKeepTheLastUse) {
    const struct {
        const char* name;
        SessionStatus::Kind kind;
    } cases[] = {
        {"Build Box", SessionStatus::Kind::Unavailable},        // SSH without the live-session switch
        {"Office NAS", SessionStatus::Kind::Unavailable},       // VNC likewise
        {"Win Workstation", SessionStatus::Kind::Unavailable},  // no RDP client
    };
    std::uint64_t counter = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        app->session.set_fullscreen(true);
        views_test::VncHarness vnc(*app);  // a connected remote desktop with a button held
        vnc.publish(10, 10);
        app->session.set_surface_rect({0, 0, 10, 10});
        app->session.pointer_button(zavo_ui::event::PointerButton::Primary, true, {1, 1}, true);
        ASSERT_EQ(app->session.vnc_buttons(), 1);
        app->start_session(id_of(c.name));
        EXPECT_EQ(app->session.counter(), ++counter);
        EXPECT_EQ(app->session.target(), id_of(c.name));
        EXPECT_EQ(app->screen, Screen::session(id_of(c.name)));
        EXPECT_EQ(status().kind, c.kind);
        EXPECT_EQ(status().text, readiness_notice(connection(c.name).readiness(), connection(c.name).kind));
        EXPECT_FALSE(app->session.fullscreen());
        EXPECT_EQ(app->session.vnc_buttons(), 0);
        EXPECT_NE(connection(c.name).last_used, "just now");
    }
}

TEST_F(SessionLaunch, AnUnusableTrustStoreFailsTheSshLaunchButStampsIt) {
    env.set("REMOTE_LIVE_SESSIONS", "");
    env.set("REMOTE_SSH_KNOWN_HOSTS", nullptr);
    test_support::TempDir state("remote-state.");
    std::filesystem::create_directories(state.path() / "zavo/remote");
    ::chmod((state.path() / "zavo/remote").c_str(), 0755);  // open to others: refused
    env.set("XDG_STATE_HOME", state.path().c_str());
    app->start_session(id_of("Build Box"));
    EXPECT_EQ(status().kind, SessionStatus::Kind::Failed);
    EXPECT_EQ(status().text.rfind("SSH host-key trust is unavailable: ", 0), 0u) << status().text;
    EXPECT_GT(status().text.size(), std::string("SSH host-key trust is unavailable: ").size());
    EXPECT_EQ(connection("Build Box").last_used, "just now");
}

TEST_F(SessionLaunch, TheSshUserFallsBackToUserThenRoot) {
    SavedConnection c = connection("Build Box");
    EXPECT_EQ(ssh_user_for(c), "admin");
    c.user.clear();
    env.set("USER", "ann");
    EXPECT_EQ(ssh_user_for(c), "ann");
    env.set("USER", "");
    EXPECT_EQ(ssh_user_for(c), "");
    env.set("USER", nullptr);
    EXPECT_EQ(ssh_user_for(c), "root");
}

TEST_F(SessionLaunch, DeviceLaunchesUseTheExactEndpointAndTheirOwnIds) {
    connection("Workshop Laptop").host += " ";  // readiness trims, the launch does not
    app->start_session(id_of("Workshop Laptop"));
    EXPECT_EQ(status(), SessionStatus::failed("Zavo host must be an exact certified device endpoint id"));
    EXPECT_EQ(connection("Workshop Laptop").last_used, "just now");
    EXPECT_TRUE(app->take_device_requests().empty());

    const Uuid studio = id_of("Studio Node");
    app->start_session(studio);
    app->start_session(studio);
    const auto endpoint = *relay_key::PublicKey::from_str(connection("Studio Node").host);
    // The replaced session is told to go, so the relay stops streaming to it.
    EXPECT_EQ(app->take_device_requests(),
              (std::vector{DeviceRequest::connect(endpoint, 1), DeviceRequest::disconnect(1),
                           DeviceRequest::connect(endpoint, 2)}));
    EXPECT_EQ(status(), SessionStatus::connecting());
    app->end_session();
    EXPECT_EQ(app->take_device_requests(), std::vector{DeviceRequest::disconnect(2)});
}

TEST_F(SessionLaunch, AnExhaustedCounterRefusesEveryLaunch) {
    app->session = Session(std::numeric_limits<std::uint64_t>::max());
    for (int i = 0; i < 2; ++i) {
        app->start_session(id_of("Workshop Laptop"));
        EXPECT_EQ(status(), SessionStatus::failed("remote session identity exhausted; restart the application"));
        EXPECT_EQ(app->session.counter(), std::numeric_limits<std::uint64_t>::max());
        EXPECT_EQ(app->screen, Screen::session(id_of("Workshop Laptop")));
        EXPECT_NE(connection("Workshop Laptop").last_used, "just now");
        EXPECT_TRUE(app->take_device_requests().empty());
    }
}

TEST_F(SessionLaunch, VncPointerPositionsMapOntoTheFramebuffer) {
    auto [input, events] = make_bounded_channel<rfb::VncInput>(rfb::VNC_INPUT_CAPACITY);
    auto status_cell = make_shared_cell(SessionStatus::connecting());
    auto frame = make_shared_cell<std::optional<rfb::Framebuffer>>(rfb::Framebuffer(200, 100));
    app->session.hold(id_of("Office NAS"), LiveSession{rfb::VncShared(std::move(input), status_cell, frame)});
    app->session.set_surface_rect(zavo_ui::Rect{100, 50, 500, 250});  // scaled 2x
    const zavo_ui::Point inside{300, 150};
    EXPECT_EQ(app->session.vnc_pointer_position(inside), std::nullopt) << "still connecting";
    app->session.send_vnc_pointer(inside);
    EXPECT_FALSE(events.try_recv()) << "nothing sent while connecting";

    status_cell->set(SessionStatus::connected());
    using P = std::optional<std::pair<std::uint16_t, std::uint16_t>>;
    const std::pair<zavo_ui::Point, P> cases[] = {
        {{100, 50}, P{{0, 0}}},     {{300, 150}, P{{100, 50}}}, {{499.5, 249.9}, P{{199, 99}}},
        {{500, 150}, std::nullopt}, {{300, 250}, std::nullopt}, {{99.9, 60}, std::nullopt},
    };
    for (const auto& [point, expected] : cases) EXPECT_EQ(app->session.vnc_pointer_position(point), expected) << point.x;

    app->session.pointer_button(zavo_ui::event::PointerButton::Secondary, true, inside, true);
    EXPECT_EQ(events.try_recv(), rfb::VncInput::pointer(4, 100, 50));
    app->session.set_surface_rect(zavo_ui::Rect{100, 50, 100, 250});
    EXPECT_EQ(app->session.vnc_pointer_position(inside), std::nullopt) << "an empty surface maps nothing";
}

TEST_F(SessionLaunch, DevicePointerPositionsAndInputNeedAConnectedSession) {
    app->start_session(id_of("Studio Node"));
    app->take_device_requests();
    app->session.set_surface_rect(zavo_ui::Rect{0, 0, 640, 360});
    app->session.send_device_input(DeviceInput::key(true, 30));
    EXPECT_EQ(app->session.device_pointer_position({320, 180}), std::nullopt);
    EXPECT_TRUE(app->take_device_requests().empty()) << "dropped while connecting";

    app->handle_device_event({1, DeviceEvent::Connected{1280, 720}});
    EXPECT_EQ(app->session.device_pointer_position({320, 180}), (zavo_ui::Point{640, 360}));
    EXPECT_EQ(app->session.device_pointer_position({639.9, 0}), (zavo_ui::Point{1279, 0})) << "clamped to the last pixel";
    EXPECT_EQ(app->session.device_pointer_position({640, 0}), std::nullopt);
    app->session.send_device_input(DeviceInput::key(true, 30));
    EXPECT_EQ(app->take_device_requests(), std::vector{DeviceRequest::input(DeviceInput::key(true, 30), 1)});
}

}  // namespace

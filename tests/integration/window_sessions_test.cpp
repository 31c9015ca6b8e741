// Sessions in the real window, driven through X as a person drives them: keys and clicks reach
// a private sshd, an Xtigervnc server and the relay's simulated device.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <deque>
#include <fstream>

#include "support/saved_connection.hpp"
#include "tests/integration/remote_window.hpp"
#include "tests/integration/ssh_server.hpp"
#include "zavo_ui/relay/test_picture.hpp"
#include "zavo_ui/simulated_devices.hpp"

namespace {

using namespace remote;
using namespace std::chrono_literals;
using window_test::RemoteWindow;
using window_test::eventually;

using test_support::saved;

TEST(WindowSessions, SshTerminalTakesTypedCommandsAndControlShiftWDisconnects) {
    if (auto why = window_test::unavailable(); !why.empty()) GTEST_SKIP() << why;
    if (auto why = ssh_test::SshServer::unavailable(); !why.empty()) GTEST_SKIP() << why;
    ssh_test::SshServer server;
    server.trust();
    const test_support::TempDir out("remote-window-ssh-");
    const std::filesystem::path file = out.path() / "answer";
    ::chmod(out.path().c_str(), 0777);  // the session's account writes there

    RemoteWindow window(
        {saved("Lab shell", ConnectionKind::Ssh, "127.0.0.1", server.port(), server.user(), AuthKind::PublicKey)},
        {"REMOTE_LIVE_SESSIONS=", "REMOTE_SSH_KNOWN_HOSTS=" + server.store().string(),
         "REMOTE_SSH_KEY=" + server.client_key().string()});
    ASSERT_TRUE(window.ok()) << test_support::read_text(window.log());

    window.open_selected();
    ASSERT_TRUE(eventually([&] { return window.shows_connected_session("window-ssh-session"); }))
        << test_support::read_text(window.log()) << test_support::read_text(server.log());

    window.type("echo remote-$((6*7)) > " + file.string());
    window.key("Return");
    EXPECT_TRUE(eventually([&] { return test_support::read_text(file) == "remote-42\n"; }))
        << "file holds: " << test_support::read_text(file);
    std::this_thread::sleep_for(300ms);
    const auto shot = window.capture("window-ssh-session");
    EXPECT_EQ(shot.width, 1280u);

    window.key("ctrl+shift+w");
    EXPECT_TRUE(eventually([&] {
        return window_test::log_has(server.log().string(), "Disconnected from user " + server.user());
    })) << test_support::read_text(server.log());
}

// The picture's box in a capture, found from a colour that fills cell `col` of the top row
// of a picture divided into `across` x `down` cells.
std::optional<zavo_ui::Rect> picture_box(const window_test::Capture& shot, std::uint8_t r, std::uint8_t g,
                                         std::uint8_t b, int col, int across, int down) {
    const auto cell = shot.box_of(r, g, b, 24);
    if (!cell || cell->width() < 4) return std::nullopt;
    const double w = cell->width(), h = cell->height();
    return zavo_ui::Rect{cell->x0 - col * w, cell->y0, cell->x0 - col * w + across * w, cell->y0 + down * h};
}

TEST(WindowSessions, VncClicksAndKeysReachTheServer) {
    if (auto why = window_test::unavailable(); !why.empty()) GTEST_SKIP() << why;
    for (const char* tool : {"Xtigervnc", "xsetroot", "xev"})
        if (!test_support::on_path(tool))
            GTEST_SKIP() << tool << " is not installed (scripts/install-deps installs it)";
    vnc_it::ServerOptions options;
    options.width = 640;
    options.height = 480;
    vnc_it::VncServer server(options);
    ASSERT_TRUE(server.ok()) << server.log();
    const std::string on_server = "DISPLAY=:" + std::to_string(server.display());
    server.on_display("xsetroot -solid '#00ff00'");
    // What the server's root window receives, as xev prints it.
    const std::string events = server.dir() + "/events.log";
    vnc_it::Process xev({"xev", "-root", "-event", "button", "-event", "keyboard"}, events, {on_server});

    RemoteWindow window({saved("Lab desktop", ConnectionKind::Vnc, "127.0.0.1", server.port(), "", AuthKind::Password)},
                        {"REMOTE_LIVE_SESSIONS="});
    ASSERT_TRUE(window.ok()) << test_support::read_text(window.log());
    window.open_selected();

    // The green desktop fills the picture.
    window_test::Capture shot;
    const auto picture = window.wait_for_picture("window-vnc-session", shot, [](const window_test::Capture& c) {
        auto box = c.box_of(0, 255, 0);
        return box && box->width() > 100 ? box : std::nullopt;
    });
    ASSERT_TRUE(picture) << test_support::read_text(window.log());

    // A click a quarter across and three quarters down lands there on the server.
    window.click(picture->x0 + 0.25 * picture->width(), picture->y0 + 0.75 * picture->height());
    int x = -1, y = -1;
    EXPECT_TRUE(eventually([&] {
        const std::string at = test_support::output_of(on_server + " xdotool getmouselocation 2>/dev/null");
        return std::sscanf(at.c_str(), "x:%d y:%d", &x, &y) == 2 && std::abs(x - 160) <= 2 && std::abs(y - 360) <= 2;
    })) << "the server's pointer is at "
        << x << "," << y;
    EXPECT_TRUE(eventually([&] { return window_test::log_has(events, "ButtonRelease event"); }));
    const std::string pressed = test_support::read_text(events);
    EXPECT_NE(pressed.find("ButtonPress event"), std::string::npos) << pressed;
    EXPECT_NE(pressed.find("button 1,"), std::string::npos) << pressed;

    window.key("q");
    EXPECT_TRUE(eventually([&] { return window_test::log_has(events, "(keysym 0x71, q)"); }))
        << test_support::read_text(events);
}

TEST(WindowSessions, DeviceShowsTypedKeysAndHeldButtonsInItsPicture) {
    if (auto why = window_test::unavailable(); !why.empty()) GTEST_SKIP() << why;
    const auto& device = zavo_ui::simulated_devices::SIMULATED_DEVICES[0];
    RemoteWindow window(
        {saved(std::string(device.name), ConnectionKind::Zavo, device.endpoint_id(), 0, "", AuthKind::DeviceIdentity)},
        {});
    ASSERT_TRUE(window.ok()) << test_support::read_text(window.log());
    window.open_selected();

    // The picture's colour bars: yellow is the second of eight across the top sixth.
    window_test::Capture shot;
    const auto picture = window.wait_for_picture("window-device-session", shot, [](const window_test::Capture& c) {
        return picture_box(c, 235, 235, 16, 1, 8, 6);
    });
    ASSERT_TRUE(picture) << test_support::read_text(window.log());

    window.key("a b");
    window.move_to(picture->x0 + 0.7 * picture->width(), picture->y0 + 0.8 * picture->height());
    window.xdo("mousedown 1");
    std::this_thread::sleep_for(1s);  // a few frames through the encoder and decoder
    shot = window.capture("window-device-session");
    window.xdo("mouseup 1");

    // The readout as the device draws it: the capture must be closer to the picture of keys 30
    // and 48 with the primary button held than to any near miss, where the two differ.
    using zavo_ui::device_relay::DeviceScreenState;
    auto render = [&](std::deque<std::uint32_t> keys, bool primary) {
        zavo_ui::device_relay::TestPicture picture(device.name, device.width, device.height);
        DeviceScreenState state;
        state.last_keys = std::move(keys);
        state.buttons[0] = primary;
        const auto pixels = picture.render(state);
        return std::vector<std::uint8_t>(pixels.begin(), pixels.end());
    };
    const auto expected = render({30, 48}, true);
    const double s = picture->width() / device.width;
    for (const auto& [what, other] : {std::pair{"no input", render({}, false)},
                                      {"key 49", render({30, 49}, true)},
                                      {"keys reversed", render({48, 30}, true)},
                                      {"no button", render({30, 48}, false)}}) {
        double off_expected = 0, off_other = 0;
        for (std::uint32_t wy = std::uint32_t(picture->y0); wy < std::min<double>(picture->y1, shot.height); ++wy) {
            for (std::uint32_t wx = std::uint32_t(picture->x0); wx < std::min<double>(picture->x1, shot.width); ++wx) {
                const auto px = std::uint32_t((wx + 0.5 - picture->x0) / s);
                const auto py = std::uint32_t((wy + 0.5 - picture->y0) / s);
                if (px >= device.width || py >= device.height) continue;
                const std::size_t i = (std::size_t(py) * device.width + px) * 4;
                if (std::equal(&expected[i], &expected[i] + 3, &other[i])) continue;
                for (int ch = 0; ch < 3; ++ch) {
                    off_expected += std::abs(shot.at(wx, wy)[ch] - expected[i + ch]);
                    off_other += std::abs(shot.at(wx, wy)[ch] - other[i + ch]);
                }
            }
        }
        EXPECT_LT(off_expected, 0.5 * off_other) << "the readout looks like " << what;
    }
}

}  // namespace

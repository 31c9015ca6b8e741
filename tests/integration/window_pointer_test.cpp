// Pointer input in the real window with a live session, clicked through X with xdotool and read
// back through the accessibility tree (session_pointer_check.py): the controls the person sees
// take their clicks, a VNC server (xev on its display) or a simulated device sees the pointer
// only over the session's picture, and Connect after an edit of the target asks again.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "doc/profile_document.hpp"
#include "support/env.hpp"
#include "support/files.hpp"
#include "support/saved_connection.hpp"
#include "support/temp_dir.hpp"
#include "support/wait.hpp"
#include "tests/integration/atspi_run.hpp"
#include "tests/integration/vnc_servers.hpp"
#include "zavo_ui/persist.hpp"
#include "zavo_ui/simulated_devices.hpp"

namespace {

using namespace remote;
using test_support::saved;

// Why these tests cannot run here, or empty.
std::string unavailable() {
    if (std::string why = atspi_test::unavailable(); !why.empty()) return why;
    for (const char* tool : {"xdotool", "xwd", "Xtigervnc", "xsetroot", "xev"})
        if (!test_support::on_path(tool))
            return std::string(tool) + " is not installed (scripts/install-deps installs it)";
    return {};
}

// Private folders for the program, holding `first` (a favourite: the list's first row) and
// enough SSH connections (never connected) for the list to scroll.
class Home {
public:
    explicit Home(SavedConnection first) {
        first.favorite = true;
        std::vector<SavedConnection> connections{std::move(first)};
        env_.set("REMOTE_LIVE_SESSIONS", "");
        env_.set("ZAVO_REMOTE_SAMPLE", nullptr);
        env_.set("XDG_DATA_HOME", (dir_.path() / "data").c_str());
        env_.set("XDG_STATE_HOME", (dir_.path() / "state").c_str());
        for (int i = 1; i <= 11; ++i)
            connections.push_back(saved((i < 10 ? "Shell 0" : "Shell ") + std::to_string(i), ConnectionKind::Ssh,
                                        "127.0.0.1", 9, "nobody", AuthKind::Password));
        auto document = zavo_ui::persist::open("dev.zavo.remote");
        EXPECT_TRUE(document) << document.error();
        if (!document) return;
        for (const auto& c : connections) store_connection((*document)->document(), c);
        EXPECT_TRUE((*document)->save_changes());
    }

private:
    test_support::TempDir dir_{"remote-pointer-"};
    test_support::EnvGuard env_;
};

std::string program() { return std::string(REMOTE_BINARY_DIR) + "/remote"; }

TEST(WindowPointer, AVncSessionGetsThePointerOnlyOverItsPictureAndAnEditedTargetIsAskedFor) {
    if (std::string why = unavailable(); !why.empty()) GTEST_SKIP() << why;
    vnc_it::ServerOptions options;
    options.width = 640;
    options.height = 480;
    vnc_it::VncServer first(options), second(options);
    ASSERT_TRUE(first.ok() && second.ok()) << first.log() << second.log();
    first.on_display("xsetroot -solid '#00ff00'");
    second.on_display("xsetroot -solid '#0000ff'");
    const std::string events = first.dir() + "/events.log";
    vnc_it::Process xev({"xev", "-root", "-event", "mouse", "-event", "button"}, events,
                        {"DISPLAY=:" + std::to_string(first.display())});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // xev selects the root's events
    Home home(saved("Lab desktop", ConnectionKind::Vnc, "127.0.0.1", first.port(), "", AuthKind::Password));

    const auto run = atspi_test::run_checker(
        "session_pointer_check.py",
        {program(), "vnc", ":" + std::to_string(first.display()), events, std::to_string(second.port())}, 150);
    EXPECT_TRUE(run.ok) << run.output << "\n--- desktop events\n" << test_support::read_text(events);
    for (const char* step : {"list ok", "banner ok", "last row ok", "picture ok", "header ok", "scrim ok", "reconnect ok"})
        EXPECT_NE(run.output.find(step), std::string::npos) << step << "\n" << run.output;
    EXPECT_NE(second.log().find("Connections: accepted"), std::string::npos) << second.log();
}

TEST(WindowPointer, WithADeviceSessionTheListTakesItsClicksAndLeadsBackToTheSession) {
    if (std::string why = unavailable(); !why.empty()) GTEST_SKIP() << why;
    const auto& device = zavo_ui::simulated_devices::SIMULATED_DEVICES[0];
    Home home(
        saved(std::string(device.name), ConnectionKind::Zavo, device.endpoint_id(), 0, "", AuthKind::DeviceIdentity));

    const auto run = atspi_test::run_checker("session_pointer_check.py", {program(), "device"}, 120);
    EXPECT_TRUE(run.ok) << run.output;
    for (const char* step : {"list ok", "typing ok", "form ok", "session ok", "disconnect ok"})
        EXPECT_NE(run.output.find(step), std::string::npos) << step << "\n" << run.output;
}

}  // namespace

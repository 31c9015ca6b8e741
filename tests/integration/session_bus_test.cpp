// The program in a window on X with no session bus address: the way libdbus and GLib find a bus
// would start one with dbus-launch; the program runs without one, says so once and leaves no
// bus behind.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/env.hpp"
#include "support/files.hpp"
#include "support/temp_dir.hpp"
#include "support/wait.hpp"
#include "tests/integration/remote_window.hpp"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The processes of this user whose environment holds `entry`.
std::vector<std::string> processes_with(const std::string& entry) {
    std::vector<std::string> found;
    for (const auto& proc : fs::directory_iterator("/proc")) {
        const std::string pid = proc.path().filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string nul(1, '\0');
        const std::string environ = nul + test_support::read_text(proc.path() / "environ");
        if (environ.find(nul + entry + nul) == std::string::npos) continue;
        std::string command = test_support::read_text(proc.path() / "cmdline");
        std::replace(command.begin(), command.end(), '\0', ' ');
        found.push_back(pid + " " + command);
    }
    return found;
}

TEST(SessionBus, WithoutAnAddressNoBusIsStartedAndTheClosedDoorIsSaidOnce) {
    if (auto why = window_test::unavailable(); !why.empty()) GTEST_SKIP() << why;
    test_support::TempDir home("remote-no-bus-home.");
    test_support::EnvGuard env;
    env.set("DBUS_SESSION_BUS_ADDRESS", nullptr);
    const std::string home_entry = "HOME=" + home.path().string();
    const std::string closed = "the action door is closed";
    window_test::RemoteWindow window({}, {home_entry});
    ASSERT_TRUE(window.ok()) << test_support::read_text(window.log());
    EXPECT_TRUE(test_support::eventually([&] { return window_test::log_has(window.log(), closed); }, 10s, 50ms));
    EXPECT_EQ(window.quit(), 0);
    // While the display is still there: a bus that dbus-launch started would outlive the program.
    const std::vector<std::string> left = processes_with(home_entry);
    EXPECT_EQ(left, std::vector<std::string>{}) << "a bus outlived the program";
    for (const std::string& p : left) ::kill(std::stoi(p), SIGTERM);
    EXPECT_FALSE(fs::exists(home.path() / ".dbus")) << "dbus-launch ran";
    const std::string err = test_support::read_text(window.log());
    EXPECT_NE(err.find("no D-Bus session bus (DBUS_SESSION_BUS_ADDRESS is not set"), std::string::npos) << err;
    EXPECT_EQ(err.find(closed), err.rfind(closed)) << "said more than once:\n" << err;
}

}  // namespace

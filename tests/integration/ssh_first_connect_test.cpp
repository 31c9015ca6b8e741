// First connections to a server whose key is not trusted yet, in the real window: however the
// worker's refusal falls between frames, the session screen shows it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "support/saved_connection.hpp"
#include "tests/integration/remote_window.hpp"
#include "tests/integration/ssh_fixture.hpp"

namespace {

using namespace remote;
using namespace std::chrono_literals;

TEST(SshFirstConnect, EveryRefusedKeyReachesTheScreen) {
    if (auto why = window_test::unavailable(); !why.empty()) GTEST_SKIP() << why;
    if (auto why = ssh_test::SshServer::unavailable(); !why.empty()) GTEST_SKIP() << why;
    ssh_test::SshServer server;  // its key is never trusted
    window_test::RemoteWindow window(
        {test_support::saved("Lab shell", ConnectionKind::Ssh, "127.0.0.1", server.port(), server.user(),
                             AuthKind::PublicKey)},
        {"REMOTE_LIVE_SESSIONS=", "REMOTE_SSH_KNOWN_HOSTS=" + server.store().string(),
         "REMOTE_SSH_KEY=" + server.client_key().string()});
    ASSERT_TRUE(window.ok()) << test_support::read_text(window.log());

    // The status card's ring and badge: red once the connection failed, amber while connecting.
    const zavo_ui::Rect ring{560, 200, 780, 440};
    std::chrono::steady_clock::duration slowest{};
    for (std::size_t run = 0; run < 50; ++run) {
        window.open_selected();
        ASSERT_TRUE(test_support::eventually([&] { return ssh_test::goodbyes(server) > run; }, 20s, 10ms))
            << "run " << run << "\n"
            << test_support::read_text(server.log());
        // The fault was a screen left at the attempt until the next input, however long: a
        // generous wait tells it apart from a slow frame on a loaded machine, and the slowest
        // frame is reported rather than judged.
        const auto goodbye = std::chrono::steady_clock::now();
        EXPECT_TRUE(test_support::eventually(
            [&] { return window.capture("ssh-first-connect").reddish_in(ring) > 100; }, 15s, 10ms))
            << "run " << run << ": the screen still shows the connection attempt";
        slowest = std::max(slowest, std::chrono::steady_clock::now() - goodbye);
        window.key("Escape");  // back to the list
    }
    std::printf("slowest failed card after the server's goodbye: %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(slowest).count()));
}

}  // namespace

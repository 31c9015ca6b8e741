// SSH servers that stall: in authentication (its key lookup hangs), or connected and no longer
// reading. An attempt gives up within its bound and says where it was; a dropped session's
// worker ends, and lets go of its socket, within two seconds whatever the server does.
#include <signal.h>

#include <fstream>

#include "support/stalled_peers.hpp"
#include "support/wait.hpp"
#include "tests/integration/ssh_fixture.hpp"

namespace {

using namespace ssh_test;
using remote::SessionStatus;
using remote::SshKeyCredentials;
using test_support::eventually;

class SshStallTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (auto why = SshServer::unavailable(); !why.empty()) GTEST_SKIP() << why;
    }

    static remote::SshSession start(const SshServer& server, std::chrono::milliseconds bound) {
        auto request = server.request(SshKeyCredentials{server.client_key(), std::nullopt});
        request.connect_timeout = bound;
        auto session = remote::start_ssh_session(std::move(request));
        EXPECT_TRUE(session) << session.error();
        return std::move(*session);
    }

    // Whether the program is back to the threads and sockets it had, within two seconds; how long
    // that took is kept as the test's property `name`.
    void back_within_two_seconds(const char* name, int threads, int sockets) {
        const auto dropped = std::chrono::steady_clock::now();
        EXPECT_TRUE(eventually(
            [&] { return test_support::thread_count() == threads && test_support::open_sockets() == sockets; }, 2s, 5ms))
            << name << ": " << test_support::thread_count() << " threads, " << test_support::open_sockets()
            << " sockets";
        RecordProperty(name, int(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - dropped)
                                     .count()));
    }
};

TEST_F(SshStallTest, StalledAuthenticationFailsNamingItsPhaseAndTime) {
    SshServer server(SshServer::KeyLookup::Stalls);
    server.trust();
    auto session = start(server, 1s);
    ASSERT_TRUE(wait_settled(session));
    EXPECT_EQ(session.status(), SessionStatus::failed("SSH connection timed out after 1 s during authentication"));
    EXPECT_FALSE(read_text(server.lookups()).empty()) << "the server stalled where it was meant to";
}

TEST_F(SshStallTest, ConnectedSessionIsNotBoundByTheAttemptTime) {
    SshServer server;
    server.trust();
    auto session = start(server, 1s);
    ASSERT_TRUE(wait_settled(session));
    ASSERT_EQ(session.status(), SessionStatus::connected()) << session.status().text;
    std::this_thread::sleep_for(1500ms);
    ASSERT_TRUE(session.send_text("echo still-$((6*7))\n"));
    EXPECT_TRUE(wait_until(session, [&] { return screen(session).find("still-42") != std::string::npos; }));
    EXPECT_EQ(session.status(), SessionStatus::connected());
}

TEST_F(SshStallTest, DroppedSessionEndsWithinTwoSeconds) {
    SshServer stalling(SshServer::KeyLookup::Stalls);
    stalling.trust();
    SshServer stopping;
    stopping.trust();
    const int threads = test_support::thread_count();
    const int sockets = test_support::open_sockets();

    {  // in authentication, with the server's key lookup hanging
        auto session = start(stalling, remote::kSshConnectTimeout);
        ASSERT_TRUE(eventually([&] { return !read_text(stalling.lookups()).empty(); }, 20s));
    }
    back_within_two_seconds("in_authentication_ms", threads, sockets);

    // The server's process that carries the session, let go on again whatever happens here.
    struct Stopped {
        int pid = -1;
        ~Stopped() {
            if (pid > 0) ::kill(pid, SIGCONT);
        }
    } stopped;
    {  // connected, with the server no longer reading and more input on its way than it can take
        auto session = start(stopping, remote::kSshConnectTimeout);
        ASSERT_TRUE(wait_settled(session));
        ASSERT_TRUE(session.send_text("echo ser''ver=$PPID; sleep 1; kill -STOP $PPID\n"));
        ASSERT_TRUE(wait_until(session, [&] {
            const auto s = screen(session);
            const auto at = s.find("server=");
            return at != std::string::npos && (stopped.pid = std::atoi(s.c_str() + at + 7)) > 0;
        })) << screen(session);
        ASSERT_TRUE(eventually([&] {
            std::string stat = read_text("/proc/" + std::to_string(stopped.pid) + "/stat");
            return stat.find(") T ") != std::string::npos;
        }, 20s));
        for (int i = 0; i < 64; ++i) (void)session.send_text(std::string(64 * 1024, 'x'));
        std::this_thread::sleep_for(200ms);
    }
    back_within_two_seconds("server_stopped_ms", threads, sockets);
}

}  // namespace

// SSH sessions against a real OpenSSH server started by the fixture.
#include <fstream>
#include <sstream>
#include <tuple>

#include "support/log.hpp"
#include "support/threads.hpp"
#include "support/wait.hpp"
#include "support/thread_allocations.hpp"
#include "tests/integration/ssh_fixture.hpp"

namespace {

using namespace ssh_test;
using remote::SessionStatus;
using remote::SshKeyCredentials;
using remote::SshPasswordCredentials;

class SshSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (auto why = SshServer::unavailable(); !why.empty()) GTEST_SKIP() << why;
        server_ = std::make_unique<SshServer>();
    }

    remote::SshSession start(remote::SshSessionRequest request) {
        auto session = remote::start_ssh_session(std::move(request));
        EXPECT_TRUE(session) << session.error();
        return std::move(*session);
    }
    remote::SshSession connected_session() {
        server_->trust();
        auto session = start(server_->request(SshKeyCredentials{server_->client_key(), std::nullopt}));
        EXPECT_TRUE(wait_settled(session));
        EXPECT_EQ(session.status(), SessionStatus::connected()) << session.status().text;
        return session;
    }

    std::unique_ptr<SshServer> server_;
};

void reset_store(const fs::path& store) { ASSERT_TRUE(remote::known_hosts::save(store, remote::KnownHosts{})); }

std::size_t open_descriptors() {
    return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
}

TEST_F(SshSessionTest, UnknownKeyIsRefusedUntilTrusted) {
    test_support::CapturedLog log;
    const std::size_t descriptors = open_descriptors();
    auto session = start(server_->request(SshKeyCredentials{server_->client_key(), std::nullopt}));
    ASSERT_TRUE(wait_settled(session));
    EXPECT_EQ(open_descriptors(), descriptors);  // the refused connection's socket is closed
    const auto identity = server_->identity();
    EXPECT_EQ(session.status(), SessionStatus::failed("SSH host key for 127.0.0.1:" + std::to_string(server_->port()) +
                                                      " needs explicit trust: ssh-ed25519 " + identity.fingerprint));
    EXPECT_EQ(session.host_key_problem(), remote::HostKeyProblem(remote::HostKeyUnknown{identity}));
    // Refused before any authentication was attempted.
    const std::string text = read_text(server_->log());
    EXPECT_EQ(text.find("userauth-request"), std::string::npos);

    ASSERT_TRUE(remote::known_hosts::trust(server_->store(), "127.0.0.1", server_->port(), identity));
    auto trusted = start(server_->request(SshKeyCredentials{server_->client_key(), std::nullopt}));
    ASSERT_TRUE(wait_settled(trusted));
    EXPECT_EQ(trusted.status(), SessionStatus::connected()) << trusted.status().text;
    EXPECT_EQ(trusted.host_key_problem(), std::nullopt);
    EXPECT_EQ(log.count("warning|"), 0u) << log.text();  // asking for trust is no fault
}

TEST_F(SshSessionTest, RegeneratedHostKeyIsChanged) {
    server_->trust();
    const auto stored = server_->identity();
    server_->regenerate_host_key();
    const auto presented = server_->identity();
    auto session = start(server_->request(SshKeyCredentials{server_->client_key(), std::nullopt}));
    ASSERT_TRUE(wait_settled(session));
    EXPECT_EQ(session.status().text, "SSH host key changed for 127.0.0.1:" + std::to_string(server_->port()) +
                                         ". Expected ssh-ed25519 " + stored.fingerprint + "; received ssh-ed25519 " +
                                         presented.fingerprint + ". Connection blocked.");
    EXPECT_EQ(session.host_key_problem(), remote::HostKeyProblem(remote::HostKeyChanged{stored, presented}));
}

TEST_F(SshSessionTest, PinnedKeyTypeIsAskedForFirst) {
    // Without a pin libssh prefers Ed25519; a pin of another of the server's keys must still match.
    const auto ecdsa = server_->identity(server_->add_host_key("ecdsa"), "ecdsa-sha2-nistp256");
    const auto rsa = server_->identity(server_->add_host_key("rsa"), "ssh-rsa");
    for (const auto& pinned : {ecdsa, rsa}) {
        reset_store(server_->store());
        ASSERT_TRUE(remote::known_hosts::trust(server_->store(), "127.0.0.1", server_->port(), pinned));
        auto session = start(server_->request(SshKeyCredentials{server_->client_key(), std::nullopt}));
        ASSERT_TRUE(wait_settled(session));
        EXPECT_EQ(session.status(), SessionStatus::connected()) << pinned.algorithm << ": " << session.status().text;
    }
    reset_store(server_->store());
    auto unpinned = start(server_->request(SshKeyCredentials{server_->client_key(), std::nullopt}));
    ASSERT_TRUE(wait_settled(unpinned));
    EXPECT_EQ(unpinned.host_key_problem(), remote::HostKeyProblem(remote::HostKeyUnknown{server_->identity()}));
}

TEST_F(SshSessionTest, StoreOpenToOthersRefusesTheConnection) {
    server_->trust();
    ::chmod(server_->store().c_str(), 0644);
    auto session = start(server_->request(SshKeyCredentials{server_->client_key(), std::nullopt}));
    ASSERT_TRUE(wait_settled(session));
    EXPECT_EQ(session.status(), SessionStatus::failed("SSH host-key store is unavailable: SSH host-key store must "
                                                      "not be accessible to group or other users"));
}

TEST_F(SshSessionTest, Authentication) {
    server_->trust();
    const std::string user = server_->make_user("right-password");
    const std::string locked = server_->locked_key().string();
    struct Case {
        const char* name;
        remote::SshSessionRequest request;
        SessionStatus expected;
    };
    Case cases[] = {
        {"right password", server_->request(SshPasswordCredentials{"right-password"}, user),
         SessionStatus::connected()},
        {"wrong password", server_->request(SshPasswordCredentials{"wrong"}, user),
         SessionStatus::failed("Authentication failed")},
        {"key with its passphrase", server_->request(SshKeyCredentials{locked, "correct horse"}),
         SessionStatus::connected()},
        {"key the server does not know", server_->request(SshKeyCredentials{server_->stranger_key(), std::nullopt}),
         SessionStatus::failed("Authentication failed")},
    };
    for (auto& c : cases) {
        auto session = start(std::move(c.request));
        ASSERT_TRUE(wait_settled(session)) << c.name;
        EXPECT_EQ(session.status(), c.expected) << c.name;
    }

    // Keys that cannot be loaded fail after the host-key check, with the loader's reason.
    const std::pair<remote::SshKeyCredentials, std::string> unloadable[] = {
        {{locked, "wrong horse"}, "load key " + locked + ": "},
        {{locked, std::nullopt}, "load key " + locked + ": "},
        {{server_->locked_key().string() + ".missing", std::nullopt}, "load key " + locked + ".missing: "},
        {{"", std::nullopt}, "load key : "},
    };
    for (const auto& [credentials, prefix] : unloadable) {
        auto session = start(server_->request(credentials));
        ASSERT_TRUE(wait_settled(session));
        auto status = session.status();
        EXPECT_EQ(status.kind, SessionStatus::Kind::Failed);
        EXPECT_TRUE(status.text.starts_with(prefix)) << status.text;
        EXPECT_GT(status.text.size(), prefix.size()) << status.text;
    }
}

TEST_F(SshSessionTest, OutputAndErrorsReachTheTerminalAndExitEnds) {
    const std::size_t descriptors = open_descriptors();
    auto session = connected_session();
    ASSERT_TRUE(session.send_text("echo out$((40+2)); echo err$((50+5)) >&2\n"));
    EXPECT_TRUE(wait_until(session, [&] {
        auto s = screen(session);
        return s.find("out42") != std::string::npos && s.find("err55") != std::string::npos;
    })) << screen(session);
    ASSERT_TRUE(session.send_text("exit\n"));
    EXPECT_TRUE(wait_until(session, [&] { return session.status() == SessionStatus::ended(); }))
        << session.status().text;
    // The worker lets go of its input queue right after.
    EXPECT_TRUE(wait_until(
        session, [&] { return session.send_text("x") == std::unexpected("SSH session input channel is closed"); }));
    EXPECT_EQ(open_descriptors(), descriptors);
}

TEST_F(SshSessionTest, OnlyFailuresWriteWarnings) {
    test_support::CapturedLog log;
    {
        auto dropped = connected_session();
        ASSERT_TRUE(dropped.send_text("echo a$((1+1))\n"));
        EXPECT_TRUE(wait_until(dropped, [&] { return screen(dropped).find("a2") != std::string::npos; }));
    }
    auto exited = connected_session();
    ASSERT_TRUE(exited.send_text("exit\n"));
    EXPECT_TRUE(wait_until(exited, [&] { return exited.status() == SessionStatus::ended(); }));
    ASSERT_TRUE(test_support::eventually([] { return test_support::threads_named("remote-ssh") == 0; }, 10s));
    EXPECT_EQ(log.count("warning|"), 0u) << log.text();

    auto refused = start(server_->request(SshKeyCredentials{server_->stranger_key(), std::nullopt}));
    ASSERT_TRUE(wait_settled(refused));
    ASSERT_TRUE(test_support::eventually([] { return test_support::threads_named("remote-ssh") == 0; }, 10s));
    EXPECT_EQ(log.count("warning|SSH session to 127.0.0.1:" + std::to_string(server_->port()) +
                        " failed: Authentication failed"),
              1u)
        << log.text();
}

TEST_F(SshSessionTest, AcknowledgementComesBeforeTheAnswer) {
    auto session = connected_session();
    auto reply = session.send_text_acknowledged("sleep 0.5; echo $((1000+337))\n");
    ASSERT_TRUE(reply);
    auto acked = reply->recv_for(10s);
    ASSERT_TRUE(acked.has_value());
    EXPECT_TRUE(acked->has_value());
    session.pump_output();
    EXPECT_EQ(screen(session).find("1337"), std::string::npos);
    EXPECT_TRUE(wait_until(session, [&] { return screen(session).find("1337") != std::string::npos; }));
}

TEST_F(SshSessionTest, EndingSaysGoodbyeLikeOpenSsh) {
    {
        auto dropped = connected_session();  // the UI lets go
    }
    EXPECT_TRUE(test_support::eventually([&] { return goodbyes(*server_) == 1; }, 10s)) << read_text(server_->log());
    auto exited = connected_session();
    ASSERT_TRUE(exited.send_text("exit\n"));
    EXPECT_TRUE(wait_until(exited, [&] { return exited.status() == SessionStatus::ended(); }));
    EXPECT_TRUE(test_support::eventually([&] { return goodbyes(*server_) == 2; }, 10s)) << read_text(server_->log());
}

TEST_F(SshSessionTest, EveryKeyEchoesWithoutAStall) {
    // Nothing libssh already holds may wait for the next turn of the worker's poll: type keys
    // one at a time into a raw terminal and count the echoes that take longer than 200 ms.
    auto session = connected_session();
    ASSERT_TRUE(session.send_text("stty raw; printf READY; exec cat >/dev/null\n"));
    ASSERT_TRUE(wait_until(session, [&] { return screen(session).find("READY") != std::string::npos; }))
        << screen(session);
    constexpr int kKeys = 5000;
    constexpr auto kStall = std::chrono::milliseconds(200);
    int outliers = 0;
    auto slowest = std::chrono::steady_clock::duration::zero();
    for (int i = 0; i < kKeys; ++i) {
        const auto& t = session.terminal;
        const std::tuple before{t.cursor_row(), t.cursor_col(), t.wrap_pending()};
        const auto sent = std::chrono::steady_clock::now();
        ASSERT_TRUE(session.send_text(std::string(1, char('a' + i % 26))));
        const auto echoed = [&] { return std::tuple{t.cursor_row(), t.cursor_col(), t.wrap_pending()} != before; };
        ASSERT_TRUE(wait_until(session, echoed, 10s, 100us)) << "key " << i << " never echoed";
        const auto took = std::chrono::steady_clock::now() - sent;
        slowest = std::max(slowest, took);
        if (took > kStall) ++outliers;
    }
    EXPECT_EQ(outliers, 0) << outliers << " of " << kKeys << " echoes took over 200 ms; the slowest "
                           << std::chrono::duration_cast<std::chrono::milliseconds>(slowest).count() << " ms";
    RecordProperty("slowest_echo_us", int(std::chrono::duration_cast<std::chrono::microseconds>(slowest).count()));
}

// A host that sends sequences costing much for their bytes: the terminal takes them a share a
// pump, as one frame would, and ends with the screen xterm shows. The longest pump is kept as
// the test's property.
TEST_F(SshSessionTest, CostlyFloodsDrainAShareAPumpToWhatXtermShows) {
    test_support::TempDir files("ssh-flood.", "/tmp");
    ::chmod(files.path().c_str(), 0755);
    std::string repeats, clears = "some text";
    // 160 KiB of a character each followed by 65,535 repeats of it; 4 MiB of screen erases.
    for (int i = 0; i < 18205; ++i) repeats += "x\x1b[65535b";
    for (int i = 0; i < (1 << 20); ++i) clears += "\x1b[2J";
    struct Case {
        const char* name;
        const std::string& bytes;
        std::vector<std::string> rows;  // the screen's first rows, trailing blanks trimmed
    } cases[] = {
        // 18,205 x 65,536 characters end on the last column: the marker starts a row.
        {"repeats", repeats, std::vector<std::string>(22, std::string(80, 'x'))},
        // The erases leave the cursor after the text.
        {"erases", clears, {"         done-erases", "$"}},
    };
    cases[0].rows.insert(cases[0].rows.end(), {"done-repeats", "$"});
    auto session = connected_session();
    const auto rows = [&] {
        std::vector<std::string> out;
        std::istringstream shown(screen(session));
        for (std::string row; std::getline(shown, row);) out.push_back(row.substr(0, row.find_last_not_of(' ') + 1));
        return out;
    };
    for (const auto& c : cases) {
        const fs::path file = files.path() / c.name;
        std::ofstream(file, std::ios::binary) << c.bytes;
        ::chmod(file.c_str(), 0644);
        // The command's echo must not read as its end: the marker is only in what it prints.
        const std::string marker = std::string("done-") + c.name;
        ASSERT_TRUE(session.send_text("printf '\\033[H\\033[2J'; cat " + file.string() + "; echo done-\"\"" +
                                      c.name + "\n"));
        std::chrono::steady_clock::duration longest{};
        int shares = 0;
        const auto deadline = std::chrono::steady_clock::now() + 120s;
        for (bool done = false; !done && std::chrono::steady_clock::now() < deadline;) {
            const auto t0 = std::chrono::steady_clock::now();
            session.pump_output();
            longest = std::max(longest, std::chrono::steady_clock::now() - t0);
            if (session.output_waiting()) ++shares;
            const auto shown = rows();
            // The marker, and the prompt after it.
            const auto at = std::ranges::find_if(shown, [&](const std::string& row) { return row.ends_with(marker); });
            done = !session.output_waiting() && at != shown.end() && at + 1 != shown.end() && at[1] == "$";
            if (!done) std::this_thread::sleep_for(1ms);
        }
        const auto shown = rows();
        EXPECT_GT(shares, 0) << c.name << ": every pump took all that had arrived";
        for (std::size_t r = 0; r < c.rows.size(); ++r) EXPECT_EQ(shown.at(r), c.rows[r]) << c.name << ", row " << r;
        RecordProperty(std::string(c.name) + "_longest_pump_us",
                       int(std::chrono::duration_cast<std::chrono::microseconds>(longest).count()));
    }
}

TEST_F(SshSessionTest, DroppingTheSessionWhileOutputWaitsEndsTheWorker) {
    const std::string marker = "flood" + random_word(10);
    {
        auto session = connected_session();
        ASSERT_TRUE(session.send_text("exec yes " + marker + "\n"));
        // Let the output channel fill without draining it.
        auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!process_running(marker) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(20ms);
        ASSERT_TRUE(process_running(marker));
        std::this_thread::sleep_for(500ms);
    }
    // The worker leaves its loop and disconnects, so the server ends the remote program.
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (process_running(marker) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(process_running(marker));
}

TEST_F(SshSessionTest, AllocationFailureInTheWorkerFailsItsSessionAndNothingElse) {
    auto session = connected_session();
    // The worker's next allocation is the chunk of output the command's echo arrives in.
    test_support::fail_next_allocation_on("remote-ssh");
    ASSERT_TRUE(session.send_text("echo $((6*7))\n"));
    EXPECT_TRUE(wait_until(session, [&] { return session.status() != SessionStatus::connected(); }));
    EXPECT_TRUE(test_support::allocation_failed());
    EXPECT_EQ(session.status(), SessionStatus::failed("std::bad_alloc"));
    EXPECT_TRUE(test_support::eventually([] { return test_support::threads_named("remote-ssh") == 0; }, 10s));
    EXPECT_EQ(session.send_text("x"), std::unexpected("SSH session input channel is closed"));

    // The program goes on, and so do other sessions.
    auto next = connected_session();
    ASSERT_TRUE(next.send_text("echo $((6*7))\n"));
    EXPECT_TRUE(wait_until(next, [&] { return screen(next).find("42") != std::string::npos; })) << screen(next);
}

}  // namespace

#include "ssh/ssh_session.hpp"
#include "support/env.hpp"
#include "support/loopback.hpp"
#include "support/name_lookups.hpp"
#include "support/stalled_peers.hpp"
#include "support/temp_dir.hpp"
#include "support/threads.hpp"
#include "support/wait.hpp"

#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include <sys/socket.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace remote;
using test_support::bound_loopback_socket;
using test_support::EnvGuard;
using test_support::threads_named;

namespace {

TEST(SshCredentials, DefaultKeyPaths) {
    EnvGuard env;
    env.set("HOME", "/home/someone");
    EXPECT_EQ(default_ssh_key_paths(),
              (std::vector<fs::path>{"/home/someone/.ssh/id_ed25519", "/home/someone/.ssh/id_ecdsa"}));
    env.set("HOME", nullptr);
    EXPECT_EQ(default_ssh_key_paths(), (std::vector<fs::path>{".ssh/id_ed25519", ".ssh/id_ecdsa"}));
}

TEST(SshCredentials, FromTheEnvironment) {
    test_support::TempDir dir("ssh_session_test.", "/tmp");
    const fs::path ed = dir.path() / "id_ed25519";
    const fs::path ecdsa = dir.path() / "id_ecdsa";
    std::ofstream(ecdsa) << "key";
    const std::vector<fs::path> candidates{ed, ecdsa};
    const std::vector<fs::path> none{dir.path() / "missing"};

    struct Case {
        const char* name;
        bool key_auth;
        const char* key;
        const char* passphrase;
        const char* password;
        const std::vector<fs::path>& candidates;
        std::expected<SshCredentials, std::string> expected;
    };
    const Case cases[] = {
        {"first existing candidate", true, nullptr, nullptr, nullptr, candidates,
         SshKeyCredentials{ecdsa, std::nullopt}},
        {"explicit key wins", true, "/elsewhere/key", "secret", nullptr, candidates,
         SshKeyCredentials{"/elsewhere/key", "secret"}},
        {"empty key path is kept", true, "", "", nullptr, none, SshKeyCredentials{"", ""}},
        {"no key", true, nullptr, nullptr, "pw", none,
         std::unexpected("no SSH key: set REMOTE_SSH_KEY or add ~/.ssh/id_ed25519")},
        {"not valid UTF-8 is unset", true, "\xff", nullptr, nullptr, none,
         std::unexpected("no SSH key: set REMOTE_SSH_KEY or add ~/.ssh/id_ed25519")},
        {"password", false, "/k", nullptr, "hunter2", candidates, SshPasswordCredentials{"hunter2"}},
        {"empty password", false, nullptr, nullptr, "", none, SshPasswordCredentials{""}},
        {"no password", false, "/k", nullptr, nullptr, candidates,
         std::unexpected("no SSH password: set REMOTE_SSH_PASSWORD")},
    };
    for (const auto& c : cases) {
        EnvGuard env;
        env.set("REMOTE_SSH_KEY", c.key);
        env.set("REMOTE_SSH_KEY_PASSPHRASE", c.passphrase);
        env.set("REMOTE_SSH_PASSWORD", c.password);
        EXPECT_EQ(load_ssh_credentials(c.key_auth, c.candidates), c.expected) << c.name;
    }
}

// A session handle whose worker side is held by the test.
struct Harness {
    Sender<SshChunk> output_tx;
    Receiver<SshInput> input_rx;
    SharedCellPtr<SessionStatus> status = make_shared_cell(SessionStatus::connecting());
    std::optional<SshSession> session;

    Harness() {
        auto [otx, orx] = make_bounded_channel<SshChunk>(kSshOutputCapacity);
        auto [itx, irx] = make_bounded_channel<SshInput>(kSshInputCapacity);
        output_tx = std::move(otx);
        input_rx = std::move(irx);
        session.emplace(Terminal(80, 24), status, std::move(orx), std::move(itx),
                        make_shared_cell<std::optional<HostKeyProblem>>(std::nullopt));
    }
};

TEST(SshSessionInput, ChecksInOrder) {
    Harness h;
    EXPECT_EQ(h.session->send_text(""), std::unexpected("SSH input cannot be empty"));
    EXPECT_EQ(h.session->send_text(std::string(65537, 'x')),
              std::unexpected("SSH input exceeds the 64 KiB per-operation limit"));
    // A multi-byte character counts by its bytes: 21,846 three-byte characters are 65,538 bytes.
    std::string euros;
    for (int i = 0; i < 21846; ++i) euros += "\xe2\x82\xac";
    EXPECT_FALSE(h.session->send_text(euros));
    EXPECT_TRUE(h.session->send_text(std::string(65536, 'x')));
    for (std::size_t i = 1; i < kSshInputCapacity; ++i) ASSERT_TRUE(h.session->send_text("k")) << i;
    EXPECT_EQ(h.session->send_text("k"), std::unexpected("SSH input is busy; wait for the remote session to catch up"));
    EXPECT_EQ(h.input_rx.try_recv()->text.size(), 65536u);

    // A refused acknowledged input drops its reply channel.
    h.input_rx = Receiver<SshInput>();
    EXPECT_EQ(h.session->send_text("k"), std::unexpected("SSH session input channel is closed"));
    EXPECT_EQ(h.session->send_text_acknowledged("k"), std::unexpected("SSH session input channel is closed"));
}

TEST(SshSessionInput, AcknowledgedInputCarriesItsReplyChannel) {
    Harness h;
    auto reply = h.session->send_text_acknowledged("ls\n");
    ASSERT_TRUE(reply);
    auto queued = h.input_rx.try_recv();
    ASSERT_TRUE(queued);
    EXPECT_EQ(queued->text, "ls\n");
    ASSERT_TRUE(queued->ack);
    EXPECT_EQ(reply->try_recv().error(), RecvError::Empty);
    ASSERT_TRUE(queued->ack->try_send(SshAck{}));
    EXPECT_TRUE(reply->try_recv().has_value());

    // A worker that drops the input unanswered closes the reply channel.
    auto second = h.session->send_text_acknowledged("x");
    ASSERT_TRUE(second);
    { auto dropped = h.input_rx.try_recv(); }
    EXPECT_EQ(second->try_recv().error(), RecvError::Closed);
}

TEST(SshSessionOutput, PumpFeedsEveryWaitingChunkInOrder) {
    Harness h;
    EXPECT_FALSE(h.session->pump_output());
    for (std::string_view part : {"he", "llo\x1b[", "31mX"})
        ASSERT_TRUE(h.output_tx.try_send(SshChunk(part.begin(), part.end())));
    EXPECT_TRUE(h.session->pump_output());
    EXPECT_FALSE(h.session->pump_output());
    const auto row = h.session->terminal.row(0);
    EXPECT_EQ(row[0].character, U'h');
    EXPECT_EQ(row[5].character, U'X');
    EXPECT_EQ(row[5].colour, TerminalColour::palette(1));

    // After the worker is gone the remaining chunks still arrive, then nothing, without failing.
    ASSERT_TRUE(h.output_tx.try_send(SshChunk{'!'}));
    h.output_tx.reset();
    EXPECT_TRUE(h.session->pump_output());
    EXPECT_FALSE(h.session->pump_output());
    EXPECT_EQ(h.session->terminal.row(0)[6].character, U'!');
}

// A host writing faster than the terminal reads: one pump feeds at most the queue it found.
TEST(SshSessionOutput, APumpEndsWhileTheWorkerKeepsWriting) {
    Harness h;
    // Large enough that the worker refills the queue while the pump reads it.
    const SshChunk page(64 * 1024, 'a');
    for (std::size_t i = 0; i < kSshOutputCapacity; ++i) ASSERT_TRUE(h.output_tx.try_send(page));
    std::atomic<bool> written{false};
    std::thread worker([&] {
        for (std::size_t i = 0; i < kSshOutputCapacity; ++i) EXPECT_TRUE(h.output_tx.send(SshChunk{'b'}));
        written = true;
    });
    const auto letters = [&] {
        std::string seen;
        for (std::size_t r = 0; r < 24; ++r)
            for (const auto& cell : h.session->terminal.row(r))
                if (cell.character == U'a' || cell.character == U'b') seen += static_cast<char>(cell.character);
        return seen;
    };
    EXPECT_TRUE(h.session->pump_output());
    EXPECT_EQ(std::ranges::count(letters(), 'b'), 0);
    while (!written) h.session->pump_output();
    worker.join();
    h.session->pump_output();
    const auto shown = letters();
    EXPECT_TRUE(shown.ends_with(std::string(kSshOutputCapacity, 'b'))) << shown;
    EXPECT_EQ(std::ranges::count(shown, 'b'), kSshOutputCapacity);
}

// Output that costs much for its bytes is taken a frame's share at a time, and ends where it
// would have all at once.
TEST(SshSessionOutput, CostlyOutputIsTakenAShareAPump) {
    // Each sequence writes at least a row of cells, or looks through a row of combining
    // characters: twice a pump's share, and more.
    const std::size_t count = 2 * kSshPumpBudget * kSshCellsPerByte / 80;
    std::string repeats, clears = "some text", marked_row = "\x1b[H";
    for (int c = 0; c < 80; ++c) marked_row += "e\xcc\x81";
    std::string marks = marked_row, overwrites = marked_row;
    for (std::size_t i = 0; i < count; ++i) {
        repeats += "x\x1b[65535b";
        clears += "\x1b[2J";
        marks += "\xcc\x81";
        overwrites += "\bx";
    }
    for (const std::string& flood : {repeats, clears, marks, overwrites}) {
        SCOPED_TRACE(flood.substr(0, 12));
        Harness h;
        const std::string end = "\r\nend of it";
        for (std::size_t at = 0; at < flood.size(); at += 32 * 1024) {
            const std::string_view part = std::string_view(flood).substr(at, 32 * 1024);
            ASSERT_TRUE(h.output_tx.try_send(SshChunk(part.begin(), part.end())));
        }
        ASSERT_TRUE(h.output_tx.try_send(SshChunk(end.begin(), end.end())));
        Terminal whole(80, 24);
        whole.feed(std::span(reinterpret_cast<const std::uint8_t*>(flood.data()), flood.size()));
        whole.feed(std::span(reinterpret_cast<const std::uint8_t*>(end.data()), end.size()));

        const auto at_end = [&] {
            for (std::size_t r = 0; r < 24; ++r)
                if (!std::ranges::equal(h.session->terminal.row(r), whole.row(r))) return false;
            return h.session->terminal.cursor_col() == whole.cursor_col();
        };
        ASSERT_TRUE(h.session->pump_output());
        EXPECT_FALSE(at_end()) << "one pump took it all";
        EXPECT_TRUE(h.session->output_waiting());
        for (int pumps = 1; h.session->output_waiting() && pumps < 100000; ++pumps) ASSERT_TRUE(h.session->pump_output());
        EXPECT_TRUE(at_end());
        EXPECT_FALSE(h.session->pump_output());
    }
}

TEST(SshSessionOutput, RepliesGoBackAsInput) {
    Harness h;
    for (std::string_view part : {"\x1b[6", "n\x1b[5n", "ok"})
        ASSERT_TRUE(h.output_tx.try_send(SshChunk(part.begin(), part.end())));
    EXPECT_TRUE(h.session->pump_output());
    auto reply = h.input_rx.try_recv();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->text, "\x1b[1;1R\x1b[0n");
    EXPECT_FALSE(reply->ack);
    EXPECT_EQ(h.input_rx.try_recv().error(), RecvError::Empty);
}

// No session worker and no lookup of one runs. Counted by name: a sanitizer's own thread may
// come and stay beside them.
bool no_worker_threads() { return threads_named("remote-ssh") == 0 && threads_named("remote-lookup") == 0; }

// Waits until no session worker of an earlier test is left; whether none is.
bool no_workers_left() {
    test_support::eventually(no_worker_threads, std::chrono::seconds(30), std::chrono::milliseconds(10));
    // A worker that has gone logged last under the logger's lock; taking that lock here orders
    // this thread after it (ThreadSanitizer cannot see the thread end through /proc).
    spdlog::default_logger()->flush();
    return no_worker_threads();
}

TEST(SshSessionStart, ConnectFailureBecomesFailedStatus) {
    test_support::TempDir dir("ssh_session_test.", "/tmp");
    fs::permissions(dir.path(), fs::perms::owner_all);
    // A port that nothing listens on: bound but not listening, and held until the end so
    // that no other program can take it in between.
    auto [fd, port] = bound_loopback_socket();
    ASSERT_GE(fd, 0);

    struct Case {
        std::string host;
        std::string expected_prefix;
    };
    const Case cases[] = {
        {"127.0.0.1", "connect: Connection refused"},
        {"no-such-host.invalid", "connect: "},
    };
    for (const auto& c : cases) {
        SshSessionRequest request{c.host, "user", dir.path() / "known-hosts.json", SshPasswordCredentials{"pw"}, port,
                                  80,     24};
        auto session = start_ssh_session(std::move(request));
        ASSERT_TRUE(session);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (session->status().is_connecting() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        auto status = session->status();
        EXPECT_EQ(status.kind, SessionStatus::Kind::Failed) << c.host;
        EXPECT_TRUE(status.text.starts_with(c.expected_prefix)) << status.text;
        EXPECT_EQ(session->host_key_problem(), std::nullopt);
        EXPECT_EQ(session->send_text("x"), std::unexpected("SSH session input channel is closed"));
    }
    ::close(fd);
    EXPECT_TRUE(no_workers_left());
}

// A request to host:port (127.0.0.1 unless told) that gives its attempt `bound` to reach Connected.
SshSessionRequest silent_request(const fs::path& dir, std::uint16_t port, std::chrono::milliseconds bound,
                                 std::string host = "127.0.0.1") {
    return SshSessionRequest{
        std::move(host), "u", dir / "known-hosts.json", SshPasswordCredentials{"pw"}, port, 80, 24, bound};
}

TEST(SshSessionStart, AnAttemptThatStallsFailsNamingItsPhaseAndTime) {
    test_support::TempDir dir("ssh_session_test.", "/tmp");
    fs::permissions(dir.path(), fs::perms::owner_all);
    test_support::FullBacklog unanswered;  // the TCP connect never completes
    test_support::SilentServer silent;     // accepts, then never sends its identification
    ASSERT_TRUE(unanswered.ok() && silent.ok());
    std::optional<test_support::StalledLookups> stalled(std::in_place);  // the name servers never answer
    const struct {
        std::string host;
        std::uint16_t port;
        std::chrono::milliseconds bound;
        std::string expected;
    } cases[] = {
        {"box.stalls.test", 22, std::chrono::milliseconds(300), "SSH connection timed out after 300 ms during connect"},
        {"127.0.0.1", unanswered.port(), std::chrono::milliseconds(300),
         "SSH connection timed out after 300 ms during connect"},
        {"127.0.0.1", silent.port(), std::chrono::seconds(1), "SSH connection timed out after 1 s during key exchange"},
    };
    for (const auto& c : cases) {
        auto session = start_ssh_session(silent_request(dir.path(), c.port, c.bound, c.host));
        ASSERT_TRUE(session);
        EXPECT_TRUE(test_support::eventually([&] { return !session->status().is_connecting(); }, std::chrono::seconds(20)));
        EXPECT_EQ(session->status(), SessionStatus::failed(c.expected));
    }
    EXPECT_TRUE(test_support::eventually([&] { return stalled->hanging() == 1; }));  // given up on, it hangs on
    stalled.reset();
    EXPECT_TRUE(no_workers_left());
}

TEST(SshSessionStart, DroppingTheHandleEndsTheWorkerWhateverTheServerDoes) {
    test_support::TempDir dir("ssh_session_test.", "/tmp");
    fs::permissions(dir.path(), fs::perms::owner_all);
    test_support::FullBacklog unanswered;
    test_support::SilentServer silent;
    ASSERT_TRUE(unanswered.ok() && silent.ok());
    ASSERT_TRUE(no_workers_left());
    const int sockets = test_support::open_sockets();
    const auto ended = [&] { return no_worker_threads() && test_support::open_sockets() == sockets; };

    // Still connecting over TCP.
    {
        auto session = start_ssh_session(silent_request(dir.path(), unanswered.port(), kSshConnectTimeout));
        ASSERT_TRUE(session);
        EXPECT_EQ(threads_named("remote-ssh"), 1);
    }
    EXPECT_TRUE(test_support::eventually(ended, std::chrono::seconds(2)))
        << threads_named("remote-ssh") << " workers, " << test_support::open_sockets() << " sockets";

    // Waiting for the server's first words: the server sees the client leave.
    int peer = -1;
    {
        auto session = start_ssh_session(silent_request(dir.path(), silent.port(), kSshConnectTimeout));
        ASSERT_TRUE(session);
        peer = silent.accept_talking_client();
        ASSERT_GE(peer, 0);
    }
    EXPECT_TRUE(test_support::closed_by_client(peer, std::chrono::seconds(2)));
    EXPECT_TRUE(test_support::eventually(no_worker_threads, std::chrono::seconds(2)));
}

}  // namespace

// Quitting a program through the framework's own exit path while it holds an SSH session:
// connected, still connecting, or flooding output. Every quit must end with status 0, and a
// connected session says goodbye on its way out while the wait for its worker lasts.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <random>

#include "support/saved_connection.hpp"
#include "support/wait.hpp"
#include "tests/integration/remote_window.hpp"
#include "tests/integration/ssh_fixture.hpp"

namespace {

using namespace ssh_test;
using test_support::eventually;

constexpr int kRuns = 30;
// A worker still connecting is left behind after the grace, so each of these quits takes it.
constexpr int kConnectingRuns = 10;

class SshQuitTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (auto why = SshServer::unavailable(); !why.empty()) GTEST_SKIP() << why;
        server_ = std::make_unique<SshServer>();
        server_->trust();
        fs::create_directory(dir_.path() / "runtime");
        fs::permissions(dir_.path() / "runtime", fs::perms::owner_all);
    }

    // Starts the probe against `port`; it types `text` once connected.
    pid_t start(std::uint16_t port, const std::string& text) {
        return spawn("ssh_quit_probe", {"QT_QPA_PLATFORM=offscreen",
                                        "XDG_RUNTIME_DIR=" + (dir_.path() / "runtime").string(),
                                        "PROBE_PORT=" + std::to_string(port), "PROBE_TYPE=" + text,
                                        "PROBE_PAINTED=" + painted().string(), "PROBE_READY=" + ready().string()});
    }

    // Starts the program of the build folder named `name` with the server's user, key and store
    // and the variables given, its output going to out() and err().
    pid_t spawn(const std::string& name, std::vector<std::string> env) {
        env.insert(env.end(), {"PROBE_USER=" + server_->user(), "REMOTE_SSH_KEY=" + server_->client_key().string(),
                               "REMOTE_SSH_KNOWN_HOSTS=" + server_->store().string()});
        for (char** e = environ; *e; ++e) env.emplace_back(*e);
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        const std::string program = std::string(REMOTE_BINARY_DIR) + "/" + name;
        char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, err().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        fs::remove(painted());
        fs::remove(ready());
        pid_t pid = -1;
        if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data()) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }

    // Quits the probe as the desktop does and checks how it ended.
    void quit(pid_t pid, int run) {
        ASSERT_EQ(::kill(pid, SIGTERM), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status)) << "run " << run << ": killed by signal " << WTERMSIG(status) << "\n"
                                       << read_text(err());
        EXPECT_EQ(WEXITSTATUS(status), 0) << "run " << run << "\n" << read_text(err());
        EXPECT_EQ(read_text(out()), "") << "run " << run << ": the program wrote to standard output";
    }

    bool painted_once() const {
        return eventually([&] { return fs::exists(painted()); }, 20s, 5ms);
    }
    bool connected() const {
        return eventually([&] { return fs::exists(ready()); }, 20s, 5ms);
    }

    fs::path painted() const { return dir_.path() / "painted"; }
    fs::path ready() const { return dir_.path() / "ready"; }
    fs::path out() const { return dir_.path() / "stdout"; }
    fs::path err() const { return dir_.path() / "stderr"; }

    test_support::TempDir dir_{"remote-ssh-quit-"};
    std::unique_ptr<SshServer> server_;
};

TEST_F(SshQuitTest, ConnectedSessionSaysGoodbyeAndTheProgramExitsCleanly) {
    for (int run = 0; run < kRuns; ++run) {
        const pid_t pid = start(server_->port(), "");
        ASSERT_GT(pid, 0);
        ASSERT_TRUE(connected()) << "run " << run << "\n" << read_text(err());
        quit(pid, run);
    }
    // The goodbyes were sent before the programs left. The wait for workers is bounded, so on a
    // loaded machine a worker may still be saying goodbye when its program leaves; the session
    // tests check the goodbye itself every time.
    EXPECT_TRUE(eventually([&] { return goodbyes(*server_) >= kRuns - 3; }, 10s))
        << goodbyes(*server_) << " goodbyes from " << kRuns << " programs";
}

// Without the framework's quit path: main returns right after letting go of a connected
// session, while its worker is still closing, or with the session still held.
TEST_F(SshQuitTest, ReturningFromMainWithAWorkerRunningExitsCleanly) {
    const struct {
        const char* name;
        std::vector<std::string> env;
        int runs;
        int status;
    } cases[] = {
        {"session let go", {}, kRuns, 0},
        {"session kept", {"PROBE_KEEP=1"}, 2, 3},
    };
    for (const auto& c : cases) {
        for (int run = 0; run < c.runs; ++run) {
            auto env = c.env;
            env.push_back("PROBE_PORT=" + std::to_string(server_->port()));
            const pid_t pid = spawn("ssh_return_probe", env);
            ASSERT_GT(pid, 0);
            int status = 0;
            ASSERT_EQ(::waitpid(pid, &status, 0), pid);
            ASSERT_TRUE(WIFEXITED(status)) << c.name << ", run " << run << ": killed by signal " << WTERMSIG(status)
                                           << "\n"
                                           << read_text(err());
            EXPECT_EQ(WEXITSTATUS(status), c.status) << c.name << ", run " << run << "\n" << read_text(err());
        }
    }
}

TEST_F(SshQuitTest, FloodingSessionEndsAndTheProgramExitsCleanly) {
    std::mt19937 rng{std::random_device{}()};
    for (int run = 0; run < kRuns; ++run) {
        const pid_t pid = start(server_->port(), "exec yes flood\n");
        ASSERT_GT(pid, 0);
        ASSERT_TRUE(connected()) << "run " << run << "\n" << read_text(err());
        // Quit at some moment of the flood.
        std::this_thread::sleep_for(std::chrono::milliseconds(50 + rng() % 250));
        quit(pid, run);
    }
}

TEST_F(SshQuitTest, SessionStillConnectingDoesNotHoldUpTheExit) {
    // A server that accepts and never says a word keeps the worker connecting.
    auto [listener, port] = test_support::bound_loopback_socket();
    ASSERT_GE(listener, 0);
    ASSERT_EQ(::listen(listener, kConnectingRuns), 0);
    for (int run = 0; run < kConnectingRuns; ++run) {
        const pid_t pid = start(port, "");
        ASSERT_GT(pid, 0);
        const int peer = ::accept(listener, nullptr, nullptr);
        ASSERT_GE(peer, 0);
        ASSERT_TRUE(painted_once()) << "run " << run << "\n" << read_text(err());
        quit(pid, run);
        ::close(peer);
    }
    ::close(listener);
}

// The same with the program itself in its window, opened and quit as a person does.
class SshQuitWindowTest : public SshQuitTest {
protected:
    void SetUp() override {
        if (auto why = window_test::unavailable(); !why.empty()) GTEST_SKIP() << why;
        SshQuitTest::SetUp();
    }

    // Opens the one saved connection, to `port`, in a new window `runs` times, and leaves `busy`
    // to do what run number `run` needs before the quit; every run must end with status 0.
    void open_and_quit(std::uint16_t port, int runs,
                       const std::function<bool(window_test::RemoteWindow&, int run)>& busy) {
        const auto c = test_support::saved("Lab shell", remote::ConnectionKind::Ssh, "127.0.0.1", port, server_->user(),
                                           remote::AuthKind::PublicKey);
        for (int run = 0; run < runs; ++run) {
            window_test::RemoteWindow window(
                {c}, {"REMOTE_LIVE_SESSIONS=", "REMOTE_SSH_KNOWN_HOSTS=" + server_->store().string(),
                      "REMOTE_SSH_KEY=" + server_->client_key().string()});
            ASSERT_TRUE(window.ok()) << read_text(window.log());
            window.open_selected();
            ASSERT_TRUE(busy(window, run)) << "run " << run << "\n" << read_text(window.log());
            const int status = window.quit();
            ASSERT_TRUE(WIFEXITED(status)) << "run " << run << ": killed by signal " << WTERMSIG(status) << "\n"
                                           << read_text(window.log());
            EXPECT_EQ(WEXITSTATUS(status), 0) << "run " << run << "\n" << read_text(window.log());
        }
    }

    // Whether the server started the shell of run number `run`.
    bool shell_started(int run) const {
        return eventually(
            [&] { return count(read_text(server_->log()), "Starting session: shell") > std::size_t(run); }, 20s, 20ms);
    }

    static std::size_t count(const std::string& text, const std::string& what) {
        std::size_t n = 0;
        for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    }
};

TEST_F(SshQuitWindowTest, ConnectedSession) {
    open_and_quit(server_->port(), kRuns, [&](window_test::RemoteWindow&, int run) { return shell_started(run); });
}

TEST_F(SshQuitWindowTest, FloodingSession) {
    open_and_quit(server_->port(), kRuns, [&](window_test::RemoteWindow& window, int run) {
        if (!shell_started(run)) return false;
        // Typed again should the first keys come before the window shows the session.
        const std::string marker = "flood" + random_word(8);
        for (int attempt = 0; attempt < 3 && !process_running(marker); ++attempt) {
            window.type("exec yes " + marker);
            window.key("Return");
            eventually([&] { return process_running(marker); }, 5s, 20ms);
        }
        std::this_thread::sleep_for(300ms);
        return process_running(marker);
    });
}

TEST_F(SshQuitWindowTest, SessionStillConnecting) {
    auto [listener, port] = test_support::bound_loopback_socket();
    ASSERT_GE(listener, 0);
    ASSERT_EQ(::listen(listener, kConnectingRuns), 0);
    std::vector<int> peers;  // held open: the workers still wait for the server's first words
    open_and_quit(port, kConnectingRuns, [&, listener = listener](window_test::RemoteWindow&, int) {
        peers.push_back(::accept(listener, nullptr, nullptr));
        return peers.back() >= 0;
    });
    for (int peer : peers) ::close(peer);
    ::close(listener);
}

}  // namespace

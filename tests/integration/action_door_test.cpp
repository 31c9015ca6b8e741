// The action executor from outside the process: the program (offscreen) on a private D-Bus
// session bus, the private sshd, and gdbus as the only client.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "doc/profile_document.hpp"
#include "known_hosts/known_hosts.hpp"
#include "support/files.hpp"
#include "support/process.hpp"
#include "support/saved_connection.hpp"
#include "support/temp_dir.hpp"
#include "support/wait.hpp"
#include "tests/integration/ssh_fixture.hpp"
#include "tests/integration/ssh_server.hpp"
#include "zavo_ui/persist.hpp"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using nlohmann::json;
using test_support::read_text;

constexpr const char* kService = "dev.zavo.remote";
constexpr const char* kPath = "/dev/zavo/remote";
constexpr const char* kInterface = "dev.zavo.remote.Actions";

// The environment with `changes` applied (an empty value removes the variable).
std::vector<std::string> environment(const std::map<std::string, std::string>& changes) {
    std::vector<std::string> out;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (!changes.contains(entry.substr(0, entry.find('=')))) out.push_back(entry);
    }
    for (const auto& [name, value] : changes)
        if (!value.empty()) out.push_back(name + "=" + value);
    return out;
}

// Starts a program with its standard output and error going to files.
pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& env, const fs::path& out,
            const fs::path& err, int in_fd = -1) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (in_fd >= 0) posix_spawn_file_actions_adddup2(&actions, in_fd, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0].c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// A private session bus: dbus-run-session around a shell that prints the bus address and waits
// for its standard input to close.
class PrivateBus {
public:
    explicit PrivateBus(const fs::path& dir) : address_file_(dir / "bus-address") {
        fs::create_directories(dir);
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        keep_alive_ = fds[1];
        pid_ = spawn({"dbus-run-session", "--", "sh", "-c", "echo \"$DBUS_SESSION_BUS_ADDRESS\"; exec cat >/dev/null"},
                     environment({}), address_file_, dir / "bus-log", fds[0]);
        ::close(fds[0]);
        if (pid_ < 0) throw std::runtime_error("cannot start dbus-run-session");
        if (!test_support::eventually([&] { return read_text(address_file_).find('\n') != std::string::npos; }, 10s))
            throw std::runtime_error("no bus address: " + read_text(dir / "bus-log"));
        address_ = read_text(address_file_);
        address_.pop_back();
    }
    ~PrivateBus() {
        ::close(keep_alive_);
        int status;
        if (!test_support::eventually([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, 5s)) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
    }
    const std::string& address() const { return address_; }

private:
    fs::path address_file_;
    int keep_alive_ = -1;
    pid_t pid_ = -1;
    std::string address_;
};

// A GVariant text string literal.
std::string gvariant_string(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'' || c == '\\') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out + "'";
}

// The strings of a tuple as gdbus prints it: ('a', "b's", ...).
std::vector<std::string> gvariant_strings(std::string_view text) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char quote = text[i];
        if (quote != '\'' && quote != '"') continue;
        std::string s;
        for (++i; i < text.size() && text[i] != quote; ++i) {
            if (text[i] != '\\') {
                s += text[i];
                continue;
            }
            const char e = text[++i];
            if (e == 'n')
                s += '\n';
            else if (e == 't')
                s += '\t';
            else if (e == 'u' || e == 'U') {
                const int digits = e == 'u' ? 4 : 8;
                const auto code = static_cast<char32_t>(
                    std::stoul(std::string(text.substr(i + 1, digits)), nullptr, 16));
                i += digits;
                if (code < 0x80)
                    s += char(code);
                else
                    s += "?";  // not in the texts checked here
            } else
                s += e;
        }
        out.push_back(std::move(s));
    }
    return out;
}

struct Reply {
    bool ok = false;
    std::vector<std::string> values;
    std::string error;    // the D-Bus error name
    std::string message;  // its text
};

// gdbus on the bus, as a user would run it.
class Gdbus {
public:
    Gdbus(std::string address, fs::path dir) : address_(std::move(address)), dir_(std::move(dir)) {}

    Reply call(const std::string& method, const std::vector<std::string>& args = {}) const {
        std::vector<std::string> argv = {"gdbus",  "call",     "--session",
                                         "--dest", kService,   "--object-path",
                                         kPath,    "--method", std::string(kInterface) + "." + method};
        argv.insert(argv.end(), args.begin(), args.end());
        const fs::path out = dir_ / "gdbus-out";
        const fs::path err = dir_ / "gdbus-err";
        const pid_t pid = spawn(argv, environment({{"DBUS_SESSION_BUS_ADDRESS", address_}}), out, err);
        int status = 0;
        ::waitpid(pid, &status, 0);
        Reply reply;
        reply.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (reply.ok) {
            reply.values = gvariant_strings(read_text(out));
            return reply;
        }
        // Error: GDBus.Error:NAME: MESSAGE
        const std::string text = read_text(err);
        const std::string marker = "GDBus.Error:";
        const auto at = text.find(marker);
        if (at == std::string::npos) {
            reply.message = text;
            return reply;
        }
        const auto name_end = text.find(": ", at);
        reply.error = text.substr(at + marker.size(), name_end - at - marker.size());
        reply.message = text.substr(name_end + 2, text.find('\n', name_end) - name_end - 2);
        return reply;
    }

    json resources() const {
        const Reply r = call("ListResources");
        EXPECT_TRUE(r.ok) << r.error << ": " << r.message;
        return r.ok ? json::parse(r.values.at(0)) : json::array();
    }
    Reply invoke(const std::string& resource, const std::string& action,
                 const std::map<std::string, std::string>& args = {}) const {
        std::string dict = "{";
        for (const auto& [name, value] : args)
            dict += (dict.size() > 1 ? ", " : "") + gvariant_string(name) + ": " + gvariant_string(value);
        dict += "}";
        return call("Invoke", {gvariant_string(resource), gvariant_string(action), dict});
    }
    // Polls until the operation is no longer pending; its final reply.
    Reply poll_until_done(const std::string& operation) const {
        Reply r;
        test_support::eventually(
            [&] {
                r = call("Poll", {gvariant_string(operation)});
                return !r.ok || r.values.at(0) != "pending";
            },
            30s, 50ms);
        return r;
    }

private:
    std::string address_;
    fs::path dir_;
};

const json* find(const json& tree, const std::string& id) {
    for (const auto& r : tree) {
        if (r["id"] == id) return &r;
        if (const json* child = find(r["children"], id)) return child;
    }
    return nullptr;
}

const json* find_action(const json& tree, const std::string& resource, const std::string& action) {
    const json* r = find(tree, resource);
    if (r == nullptr) return nullptr;
    for (const auto& a : (*r)["actions"])
        if (a["id"] == action) return &a;
    return nullptr;
}

// The program on one bus, with its own device state and the shared data folder.
class Program {
public:
    Program(const fs::path& dir, const std::string& name, const std::string& bus_address,
            std::map<std::string, std::string> env)
        : dir_(dir / name) {
        fs::create_directories(dir_ / "runtime");
        fs::permissions(dir_ / "runtime", fs::perms::owner_all);
        env["DBUS_SESSION_BUS_ADDRESS"] = bus_address;
        env["QT_QPA_PLATFORM"] = "offscreen";
        env["XDG_RUNTIME_DIR"] = (dir_ / "runtime").string();
        env["XDG_STATE_HOME"] = (dir_ / "state").string();
        env["DISPLAY"] = "";
        env["WAYLAND_DISPLAY"] = "";
        env["ZAVO_REMOTE_SAMPLE"] = "";
        pid_ = spawn({std::string(REMOTE_BINARY_DIR) + "/remote"}, environment(env), dir_ / "stdout", dir_ / "stderr");
    }
    ~Program() { stop(); }

    // SIGTERM, like closing the window; the exit status.
    int stop() {
        if (pid_ <= 0) return status_;
        ::kill(pid_, SIGTERM);
        int status = 0;
        if (!test_support::eventually([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, 10s)) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
        pid_ = -1;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return status_;
    }
    bool running() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }
    std::string stderr_text() const { return read_text(dir_ / "stderr"); }

private:
    fs::path dir_;
    pid_t pid_ = -1;
    int status_ = -1;
};

class ActionDoor : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"dbus-run-session", "gdbus"})
            if (!test_support::on_path(tool))
                GTEST_SKIP() << tool << " is not installed (scripts/install-deps installs it)";
        if (const std::string why = ssh_test::SshServer::unavailable(); !why.empty()) GTEST_SKIP() << why;
        server_ = std::make_unique<ssh_test::SshServer>();
        // A throwaway account with a plain shell: root's login shell runs whatever its profile says.
        user_ = server_->make_user(ssh_test::random_word(12));
        ::chmod(dir_.c_str(), 0755);
        fs::create_directory(drop_);
        ::chmod(drop_.c_str(), 0777);
        bus_ = std::make_unique<PrivateBus>(dir_);
        client_ = std::make_unique<Gdbus>(bus_->address(), dir_);
    }

    // Saves connections into the shared folder, as another device would have.
    void seed(const std::vector<remote::SavedConnection>& connections) {
        auto store = zavo_ui::persist::open_at({data_ / "zavo" / "remote", dir_ / "seed" / "document"});
        ASSERT_TRUE(store) << store.error();
        for (const auto& c : connections) remote::store_connection((*store)->document(), c);
        ASSERT_TRUE((*store)->save_changes());
    }

    remote::SavedConnection ssh_connection(std::string name) const {
        return test_support::saved(std::move(name), remote::ConnectionKind::Ssh, "127.0.0.1", server_->port(), user_,
                                   remote::AuthKind::PublicKey);
    }

    std::unique_ptr<Program> start(const std::string& name, const std::string& bus_address) {
        auto program = std::make_unique<Program>(dir_, name, bus_address,
                                                 std::map<std::string, std::string>{
                                                     {"XDG_DATA_HOME", data_.string()},
                                                     {"REMOTE_LIVE_SESSIONS", "1"},
                                                     {"REMOTE_SSH_KEY", server_->client_key().string()},
                                                     {"REMOTE_SSH_KNOWN_HOSTS", server_->store().string()},
                                                 });
        return program;
    }

    // The tree once the program answers on the bus.
    json wait_for_door(const Gdbus& client, const Program& program) {
        Reply r;
        const bool up = test_support::eventually([&] { return (r = client.call("ListResources")).ok; }, 15s, 50ms);
        EXPECT_TRUE(up) << r.error << ": " << r.message << "\n" << program.stderr_text();
        return up ? json::parse(r.values.at(0)) : json::array();
    }

    test_support::TempDir tmp_{"remote-action-door.", "/tmp"};
    fs::path dir_ = tmp_.path();
    fs::path data_ = dir_ / "data";
    fs::path drop_ = dir_ / "drop";  // where the remote shell may write
    std::unique_ptr<ssh_test::SshServer> server_;
    std::string user_;
    std::unique_ptr<PrivateBus> bus_;
    std::unique_ptr<Gdbus> client_;
};

TEST_F(ActionDoor, ConnectSendTextRenameAndDisconnectFromOutside) {
    server_->trust();
    const auto box = ssh_connection("Build Box");
    remote::SavedConnection rdp = ssh_connection("Win");
    rdp.kind = remote::ConnectionKind::Rdp;
    seed({box, rdp});
    auto program = start("first", bus_->address());
    const std::string connection = "remote.connection:" + box.id.to_string();
    const std::string session = "remote.session:" + box.id.to_string();

    json tree = wait_for_door(*client_, *program);
    ASSERT_NE(find(tree, connection), nullptr) << tree.dump(2);
    EXPECT_EQ((*find(tree, connection))["title"], "Build Box");
    EXPECT_EQ((*find_action(tree, connection, "connect"))["available"], true);
    EXPECT_EQ(find(tree, session), nullptr);

    // Connect: started, then polled until it completes.
    Reply started = client_->invoke(connection, "connect");
    ASSERT_TRUE(started.ok) << started.error << ": " << started.message;
    ASSERT_EQ(started.values.size(), 2u);
    EXPECT_EQ(started.values[0], "pending");
    Reply done = client_->poll_until_done(started.values[1]);
    ASSERT_TRUE(done.ok) << done.error << ": " << done.message;
    EXPECT_EQ(done.values, (std::vector<std::string>{"completed", "", ""}));
    // A finished operation is forgotten.
    EXPECT_EQ(client_->call("Poll", {gvariant_string(started.values[1])}).error,
              "dev.zavo.remote.Error.UnknownOperation");

    tree = client_->resources();
    ASSERT_NE(find(tree, session), nullptr);
    EXPECT_EQ((*find_action(tree, session, "send-text"))["available"], true);

    // Send text: the command runs on the server.
    const fs::path file = drop_ / "from-the-door";
    Reply sent = client_->invoke(session, "send-text", {{"text", "echo ok > " + file.string() + "\n"}});
    ASSERT_TRUE(sent.ok) << sent.error << ": " << sent.message;
    EXPECT_EQ(sent.values.at(0), "pending");
    EXPECT_EQ(client_->poll_until_done(sent.values.at(1)).values.at(0), "completed");
    EXPECT_TRUE(test_support::eventually([&] { return read_text(file) == "ok\n"; }, 10s)) << read_text(file);

    // Bad requests are refused by name and change nothing.
    struct Bad {
        const char* what;
        Reply reply;
        std::string error;
        std::string message;
    } bad[] = {
        {"unknown resource", client_->invoke("remote.connection:nope", "connect"),
         "dev.zavo.remote.Error.UnknownResource", "no resource \"remote.connection:nope\""},
        {"unknown action", client_->invoke(connection, "reboot"), "dev.zavo.remote.Error.UnknownAction",
         "resource \"" + connection +
             "\" has no action \"reboot\" (its actions: open, connect, rename, favorite, delete)"},
        {"unavailable", client_->invoke("remote.connection:" + rdp.id.to_string(), "connect"),
         "dev.zavo.remote.Error.Unavailable",
         "transport_backend_unavailable: RDP profiles are preserved, but this Zavo build has no RDP client backend."},
        {"unknown argument", client_->invoke(session, "send-text", {{"txt", "ls\n"}}),
         "org.freedesktop.DBus.Error.InvalidArgs",
         "action \"send-text\" takes no argument \"txt\" (its arguments: text)"},
        // The application's own limits and checks are what the caller hears.
        {"input over 64 KiB", client_->invoke(session, "send-text", {{"text", std::string(65537, 'x')}}),
         "dev.zavo.remote.Error.Refused", "SSH input exceeds the 64 KiB per-operation limit"},
        {"no text", client_->invoke(session, "send-text"), "dev.zavo.remote.Error.Refused",
         "SSH input cannot be empty"},
        {"malformed arguments", client_->call("Invoke", {gvariant_string(connection), gvariant_string("connect")}),
         "org.freedesktop.DBus.Error.InvalidArgs", "Invoke takes (ssa{ss}), not (ss)"},
        {"unknown operation", client_->call("Poll", {"'00112233445566778899aabbccddeeff'"}),
         "dev.zavo.remote.Error.UnknownOperation",
         "no started operation \"00112233445566778899aabbccddeeff\" (it finished, or was never started here)"},
        {"refused by the application", client_->invoke(session, "send-text", {{"text", ""}}),
         "dev.zavo.remote.Error.Refused", "SSH input cannot be empty"},
    };
    for (const auto& b : bad) {
        EXPECT_FALSE(b.reply.ok) << b.what;
        EXPECT_EQ(b.reply.error, b.error) << b.what << ": " << b.reply.message;
        EXPECT_EQ(b.reply.message, b.message) << b.what;
    }
    EXPECT_EQ(client_->resources(), tree);

    // Rename: without a value the name is empty and the host stands in for it; then saved, and
    // seen by a second program opening the same folder.
    Reply emptied = client_->invoke(connection, "rename");
    ASSERT_TRUE(emptied.ok) << emptied.error << ": " << emptied.message;
    EXPECT_EQ((*find(client_->resources(), connection))["title"], "127.0.0.1");
    Reply renamed = client_->invoke(connection, "rename", {{"value", "Lab Box"}});
    ASSERT_TRUE(renamed.ok) << renamed.error << ": " << renamed.message;
    EXPECT_EQ(renamed.values, (std::vector<std::string>{"applied", ""}));
    EXPECT_EQ((*find(client_->resources(), connection))["title"], "Lab Box");
    {
        PrivateBus second_bus(dir_ / "second");
        auto second = start("second", second_bus.address());
        const Gdbus second_client(second_bus.address(), dir_ / "second");
        const json seen = wait_for_door(second_client, *second);
        ASSERT_NE(find(seen, connection), nullptr);
        EXPECT_EQ((*find(seen, connection))["title"], "Lab Box");
        EXPECT_EQ(second->stop(), 0);
    }

    // Disconnect: the session ends and its resource goes.
    Reply ended = client_->invoke(session, "disconnect");
    ASSERT_TRUE(ended.ok) << ended.error << ": " << ended.message;
    EXPECT_EQ(ended.values.at(0), "completed");
    EXPECT_EQ(find(client_->resources(), session), nullptr);
    EXPECT_EQ(program->stop(), 0) << program->stderr_text();
}

TEST_F(ActionDoor, AnUnknownHostKeyIsTrustedThroughTheDoor) {
    const auto box = ssh_connection("Build Box");
    seed({box});
    auto program = start("first", bus_->address());
    const std::string session = "remote.session:" + box.id.to_string();
    wait_for_door(*client_, *program);

    Reply started = client_->invoke("remote.connection:" + box.id.to_string(), "connect");
    ASSERT_TRUE(started.ok) << started.error << ": " << started.message;
    Reply refused = client_->poll_until_done(started.values.at(1));
    ASSERT_TRUE(refused.ok);
    EXPECT_EQ(refused.values.at(0), "failed");
    EXPECT_EQ(refused.values.at(1), "remote.connect_failed");

    const remote::HostKeyIdentity key = server_->identity();
    const json tree = client_->resources();
    const json* trust = find_action(tree, session, "trust-host-key");
    ASSERT_NE(trust, nullptr) << tree.dump(2);
    EXPECT_EQ((*trust)["description"], "Explicitly trust " + key.algorithm + " " + key.fingerprint +
                                           " for this device only after out-of-band verification.");
    EXPECT_EQ((*find_action(tree, session, "send-text"))["available"], false);

    Reply trusted = client_->invoke(session, "trust-host-key");
    ASSERT_TRUE(trusted.ok) << trusted.error << ": " << trusted.message;
    EXPECT_EQ(trusted.values.at(0), "completed");
    auto pins = remote::known_hosts::load(server_->store());
    ASSERT_TRUE(pins);
    ASSERT_EQ(pins->entries.size(), 1u);
    EXPECT_EQ(pins->entries[0].identity, key);
    // The new session connects: its terminal takes text.
    EXPECT_TRUE(test_support::eventually(
        [&] {
            const json now = client_->resources();
            const json* send = find_action(now, session, "send-text");
            return send != nullptr && (*send)["available"] == true;
        },
        20s, 100ms))
        << client_->resources().dump(2);
    EXPECT_EQ(find_action(client_->resources(), session, "trust-host-key"), nullptr);
}

TEST_F(ActionDoor, AClosedDoorIsSaidOnceAndTheProgramRunsOn) {
    seed({ssh_connection("Build Box")});
    const std::string closed = "the action door is closed";
    struct Case {
        const char* what;
        std::string bus;
        std::string why;
    } cases[] = {
        {"no-bus", "unix:path=" + (dir_ / "no-bus").string(), "no D-Bus session bus"},
        // The first copy keeps the name; the second runs without a door.
        {"second-copy", bus_->address(), "the name dev.zavo.remote is taken on the session bus"},
    };
    auto first = start("first", bus_->address());
    wait_for_door(*client_, *first);
    for (const auto& c : cases) {
        auto program = start(c.what, c.bus);
        ASSERT_TRUE(
            test_support::eventually([&] { return program->stderr_text().find(closed) != std::string::npos; }, 10s))
            << c.what << ": " << program->stderr_text();
        std::this_thread::sleep_for(300ms);
        EXPECT_TRUE(program->running()) << c.what;
        const std::string err = program->stderr_text();
        EXPECT_NE(err.find(c.why), std::string::npos) << c.what << ": " << err;
        EXPECT_EQ(err.find(closed), err.rfind(closed)) << c.what << ": said more than once:\n" << err;
        EXPECT_EQ(program->stop(), 0) << c.what << ": " << err;
    }
    EXPECT_TRUE(client_->call("ListResources").ok);
}

// How long a call took, in milliseconds, kept as the test's property `name`.
template <typename Call>
auto timed(const char* name, Call&& call) {
    const auto t0 = std::chrono::steady_clock::now();
    auto result = call();
    ::testing::Test::RecordProperty(
        name, int(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count()));
    return result;
}

// A host repeating a flood of sequences that cost much for their bytes: the door answers as
// it does with a quiet session.
TEST_F(ActionDoor, AnswersWhileAHostFloodsTheTerminal) {
    server_->trust();
    const auto box = ssh_connection("Flood Box");
    seed({box});
    const fs::path flood = drop_ / "flood";
    {
        std::ofstream out(flood, std::ios::binary);
        for (int i = 0; i < 18205; ++i) out << "x\x1b[65535b";
    }
    ::chmod(flood.c_str(), 0644);
    auto program = start("first", bus_->address());
    wait_for_door(*client_, *program);
    const std::string session = "remote.session:" + box.id.to_string();
    Reply started = client_->invoke("remote.connection:" + box.id.to_string(), "connect");
    ASSERT_TRUE(started.ok) << started.error << ": " << started.message;
    ASSERT_EQ(client_->poll_until_done(started.values.at(1)).values.at(0), "completed");
    Reply sent = client_->invoke(session, "send-text", {{"text", "while :; do cat " + flood.string() + "; done\n"}});
    ASSERT_TRUE(sent.ok) << sent.error << ": " << sent.message;
    ASSERT_TRUE(test_support::eventually([&] { return ssh_test::process_running(flood.string()); }, 10s));

    for (const char* name : {"first_answer_ms", "second_answer_ms", "third_answer_ms"}) {
        const Reply r = timed(name, [&] { return client_->call("ListResources"); });
        ASSERT_TRUE(r.ok) << name << ": " << r.error << ": " << r.message;
        EXPECT_NE(find(json::parse(r.values.at(0)), session), nullptr) << name;
    }
    Reply ended = client_->invoke(session, "disconnect");
    ASSERT_TRUE(ended.ok) << ended.error << ": " << ended.message;
    EXPECT_EQ(ended.values.at(0), "completed");
    EXPECT_EQ(program->stop(), 0) << program->stderr_text();
}

}  // namespace

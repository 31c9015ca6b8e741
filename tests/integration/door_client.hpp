#pragma once
// The action door from outside the process: the program (offscreen) on a private D-Bus session
// bus, with gdbus and dbus-send as its clients.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "doc/profile_document.hpp"
#include "support/files.hpp"
#include "support/process.hpp"
#include "support/saved_connection.hpp"
#include "support/wait.hpp"
#include "zavo_ui/persist.hpp"

extern char** environ;

namespace door_test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using nlohmann::json;
using test_support::read_text;

inline constexpr const char* kService = "dev.zavo.remote";
inline constexpr const char* kPath = "/dev/zavo/remote";
inline constexpr const char* kInterface = "dev.zavo.remote.Actions";

// Why the program cannot be reached through its door here (a client or the program missing);
// empty when it can.
inline std::string unavailable(const std::vector<std::string>& clients = {"gdbus"}) {
    std::vector<std::string> tools = {"dbus-run-session"};
    tools.insert(tools.end(), clients.begin(), clients.end());
    for (const auto& tool : tools)
        if (!test_support::on_path(tool)) return tool + " is not installed (scripts/install-deps installs it)";
    if (!fs::exists(std::string(REMOTE_BINARY_DIR) + "/remote")) return "the program is not built";
    return {};
}

// Saves the connections into the shared folder of the data folder `data`, as another device
// (its own state in `device`) would have.
inline void seed(const fs::path& data, const fs::path& device,
                 const std::vector<remote::SavedConnection>& connections) {
    auto store = zavo_ui::persist::open_at({data / "zavo" / "remote", device / "document"});
    ASSERT_TRUE(store) << store.error();
    for (const auto& c : connections) remote::store_connection((*store)->document(), c);
    ASSERT_TRUE((*store)->save_changes());
}

// SSH connections "Machine 1" to "Machine {count}".
inline std::vector<remote::SavedConnection> machines(int count) {
    std::vector<remote::SavedConnection> out;
    for (int i = 1; i <= count; ++i)
        out.push_back(test_support::saved("Machine " + std::to_string(i), remote::ConnectionKind::Ssh, "127.0.0.1", 22,
                                          "me", remote::AuthKind::Password));
    return out;
}

// The environment with `changes` applied (an empty value removes the variable).
inline std::vector<std::string> environment(const std::map<std::string, std::string>& changes) {
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
inline pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& env, const fs::path& out,
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
// for its standard input to close. `config`, when given, is the bus's configuration file instead
// of the session bus's own.
class PrivateBus {
public:
    explicit PrivateBus(const fs::path& dir, const fs::path& config = {}) : address_file_(dir / "bus-address") {
        fs::create_directories(dir);
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        keep_alive_ = fds[1];
        std::vector<std::string> args = {"dbus-run-session"};
        if (!config.empty()) args.push_back("--config-file=" + config.string());
        args.insert(args.end(), {"--", "sh", "-c", "echo \"$DBUS_SESSION_BUS_ADDRESS\"; exec cat >/dev/null"});
        pid_ = spawn(args, environment({}), address_file_, dir / "bus-log", fds[0]);
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
inline std::string gvariant_string(std::string_view text) {
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
inline std::vector<std::string> gvariant_strings(std::string_view text) {
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

// gdbus on the bus, as a user would run it; `as` goes before the command (a program that runs it
// as another user).
class Gdbus {
public:
    Gdbus(std::string address, fs::path dir, std::vector<std::string> as = {})
        : address_(std::move(address)), dir_(std::move(dir)), as_(std::move(as)) {}

    Reply call(const std::string& method, const std::vector<std::string>& args = {}) const {
        std::vector<std::string> argv = as_;
        argv.insert(argv.end(), {"gdbus", "call", "--session", "--dest", kService, "--object-path", kPath, "--method",
                                 std::string(kInterface) + "." + method});
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
    // Invoke through dbus-send without waiting for the answer: the call is sent and the client
    // leaves at once. Whether it could be sent.
    bool invoke_one_way(const std::string& resource, const std::string& action,
                        const std::map<std::string, std::string>& args = {}) const {
        std::string dict = "dict:string:string:";
        for (const auto& [name, value] : args)
            dict += (dict.back() == ':' ? "" : ",") + name + "," + value;  // no commas in the texts sent here
        std::vector<std::string> argv = as_;
        argv.insert(argv.end(),
                    {"dbus-send", "--session", std::string("--dest=") + kService, "--type=method_call", kPath,
                     std::string(kInterface) + ".Invoke", "string:" + resource, "string:" + action, dict});
        const pid_t pid = spawn(argv, environment({{"DBUS_SESSION_BUS_ADDRESS", address_}}), dir_ / "dbus-send-out",
                                dir_ / "dbus-send-err");
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
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
    std::vector<std::string> as_;
};

inline const json* find(const json& tree, const std::string& id) {
    for (const auto& r : tree) {
        if (r["id"] == id) return &r;
        if (const json* child = find(r["children"], id)) return child;
    }
    return nullptr;
}

inline const json* find_action(const json& tree, const std::string& resource, const std::string& action) {
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
        env.try_emplace("XDG_STATE_HOME", (dir_ / "state").string());
        env["DISPLAY"] = "";
        env["WAYLAND_DISPLAY"] = "";
        env.try_emplace("ZAVO_REMOTE_SAMPLE", "");
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
    // SIGKILL: the program has no chance to save anything more.
    void kill_hard() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
        status_ = 128 + SIGKILL;
    }
    bool running() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }
    std::string stderr_text() const { return read_text(dir_ / "stderr"); }
    // The most memory the process has held so far, in KiB.
    long peak_memory_kb() const {
        const std::string status = read_text("/proc/" + std::to_string(pid_) + "/status");
        const auto at = status.find("VmHWM:");
        return at == std::string::npos ? -1 : std::stol(status.substr(at + 6));
    }

private:
    fs::path dir_;
    pid_t pid_ = -1;
    int status_ = -1;
};

}  // namespace door_test

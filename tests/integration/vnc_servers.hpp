#pragma once
// Real VNC servers for the integration tests, started on 127.0.0.1 with free ports and
// displays, each in a private temp folder, and stopped (SIGTERM to their own pid) on destruction.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/files.hpp"
#include "support/loopback.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

extern char** environ;

namespace vnc_it {

using test_support::on_path;

// A child process with stdout and stderr in files; killed with SIGTERM and reaped on destruction.
class Process {
public:
    Process() = default;
    Process(const std::vector<std::string>& argv, const std::string& out_path, std::vector<std::string> env = {},
            int keep_fd = -1) {
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        for (char** e = environ; *e; ++e) env.emplace_back(*e);
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // also stopped when the test program dies
            ::dup2(out, 1);
            ::dup2(out, 2);
            int devnull = ::open("/dev/null", O_RDONLY);
            ::dup2(devnull, 0);
            if (keep_fd >= 0) ::fcntl(keep_fd, F_SETFD, 0);
            ::execvpe(args[0], args.data(), envp.data());
            ::_exit(127);
        }
        ::close(out);
    }
    Process(Process&& o) noexcept : pid_(std::exchange(o.pid_, -1)) {}
    Process& operator=(Process&& o) noexcept {
        stop();
        pid_ = std::exchange(o.pid_, -1);
        return *this;
    }
    ~Process() { stop(); }

    bool running() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }
    // SIGTERM, and SIGKILL after `grace`; the wait status, or -1 when there was no process.
    int stop(std::chrono::milliseconds grace = std::chrono::seconds(2)) {
        if (pid_ <= 0) return -1;
        ::kill(pid_, SIGTERM);
        int status = -1;
        pid_t done = 0;
        for (auto waited = std::chrono::milliseconds(0);
             waited < grace && (done = ::waitpid(pid_, &status, WNOHANG)) == 0; waited += std::chrono::milliseconds(10))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (done == 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
        pid_ = -1;
        return status;
    }

private:
    pid_t pid_ = -1;
};

// Reads the display number an X server writes to its -displayfd.
inline std::optional<int> read_display(int fd, std::chrono::milliseconds timeout) {
    std::string text;
    auto end = std::chrono::steady_clock::now() + timeout;
    while (text.find('\n') == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
        char buf[32];
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) return std::nullopt;
        text.append(buf, static_cast<std::size_t>(n));
    }
    return std::stoi(text);
}

// Starts the X server `program` into `x` with `args` and -displayfd, its output in `log`; the
// display it takes, or none when it names none in time (it is then stopped).
inline std::optional<int> start_x_server(Process& x, const std::string& program, std::vector<std::string> args,
                                         const std::string& log) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
    args.insert(args.begin(), {program, "-displayfd", std::to_string(fds[1])});
    x = Process(args, log, {}, fds[1]);
    ::close(fds[1]);
    auto display = read_display(fds[0], std::chrono::seconds(10));
    ::close(fds[0]);
    if (!display) x.stop();
    return display;
}

inline int run(const std::string& command) { return std::system(command.c_str()); }

struct ServerOptions {
    enum class Kind { TigerVnc, X11vncOnXvfb } kind = Kind::TigerVnc;
    bool protocol33 = false;              // TigerVNC: greet with 3.3
    std::optional<std::string> password;  // VNC Authentication with this password, else None
    int width = 320;
    int height = 240;
};

// One VNC server on its own X display.
class VncServer {
public:
    explicit VncServer(const ServerOptions& o) {
        for (int attempt = 0; attempt < 5 && port_ == 0; ++attempt) start(o);
    }
    ~VncServer() {
        vnc_.stop();
        x_.stop();
    }

    bool ok() const { return port_ != 0; }
    std::uint16_t port() const { return port_; }
    int display() const { return display_; }
    const std::string& dir() const { return dir_; }
    std::string log() const { return test_support::read_text(dir_ + "/server.log"); }
    // Runs a shell command with DISPLAY set to this server's display.
    int on_display(const std::string& command) const {
        return run("DISPLAY=:" + std::to_string(display_) + " " + command + " 2>>" + dir_ + "/tools.log");
    }

private:
    void start(const ServerOptions& o) {
        std::uint16_t port = test_support::free_port();
        const std::string geometry = std::to_string(o.width) + "x" + std::to_string(o.height);
        const std::string log = dir_ + "/server.log";
        if (o.kind == ServerOptions::Kind::TigerVnc) {
            std::vector<std::string> argv = {"-rfbport",   std::to_string(port),
                                             "-interface", "127.0.0.1",
                                             "-UseIPv6=0", "-UseBlacklist=0",
                                             "-geometry",  geometry,
                                             "-depth",     "24",
                                             "-nolisten",  "tcp"};
            if (o.password) {
                const std::string file = dir_ + "/passwd";
                if (run("printf '%s\\n' '" + *o.password + "' | tigervncpasswd -f > " + file) != 0) return;
                argv.insert(argv.end(), {"-SecurityTypes", "VncAuth", "-PasswordFile", file});
            } else {
                argv.insert(argv.end(), {"-SecurityTypes", "None"});
            }
            if (o.protocol33) argv.push_back("-Protocol3.3");
            if (!start_x("Xtigervnc", std::move(argv), log)) return;
        } else {
            if (!start_x("Xvfb", {"-noreset", "-nolisten", "tcp", "-screen", "0", geometry + "x24"},
                         dir_ + "/xvfb.log"))
                return;
            // clang-format off
            std::vector<std::string> argv = {"x11vnc", "-display", ":" + std::to_string(display_), "-rfbport",
                                             std::to_string(port), "-rfbversion", "3.7", "-listen", "127.0.0.1",
                                             "-noipv6", "-forever", "-shared", "-nocursor"};
            // clang-format on
            if (o.password) {
                const std::string file = dir_ + "/passwd";
                if (run("x11vnc -storepasswd '" + *o.password + "' " + file + " >/dev/null 2>&1") != 0) return;
                argv.insert(argv.end(), {"-rfbauth", file});
            } else {
                argv.push_back("-nopw");
            }
            vnc_ = Process(argv, log);
        }
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < end) {
            Process& server = o.kind == ServerOptions::Kind::TigerVnc ? x_ : vnc_;
            if (!server.running()) break;
            if (test_support::accepts(port)) {
                port_ = port;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        vnc_.stop();
        x_.stop();
    }

    // Starts the X server and takes its display; false when it names none in time.
    bool start_x(const std::string& program, std::vector<std::string> args, const std::string& log) {
        auto display = start_x_server(x_, program, std::move(args), log);
        if (!display) return false;
        display_ = *display;
        return true;
    }

    test_support::TempDir tmp_{"remote-vnc-it-", "/tmp"};
    std::string dir_ = tmp_.path().string();
    Process x_;
    Process vnc_;
    int display_ = -1;
    std::uint16_t port_ = 0;
};

}  // namespace vnc_it

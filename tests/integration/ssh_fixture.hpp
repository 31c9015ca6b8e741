#pragma once
// Helpers for the SSH session tests on top of the private server.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>

#include <ostream>

#include "tests/integration/ssh_server.hpp"

namespace remote {
inline void PrintTo(const SessionStatus& s, std::ostream* os) {
    static constexpr const char* kNames[] = {"Connecting", "Connected", "Ended", "Unavailable", "Failed"};
    *os << kNames[static_cast<int>(s.kind)] << "(" << s.text << ")";
}
}  // namespace remote

namespace ssh_test {

// Everything the session's terminal shows, row after row.
inline std::string screen(const remote::SshSession& session) {
    std::string s;
    for (std::size_t r = 0; r < session.terminal.rows(); ++r) {
        for (const auto& c : session.terminal.row(r)) s += c.character < 0x80 ? char(c.character) : '?';
        s += '\n';
    }
    return s;
}

// Pumps output every `step` until the condition holds or the time is up.
inline bool wait_until(remote::SshSession& session, const std::function<bool()>& done,
                       std::chrono::milliseconds timeout = 20s, std::chrono::microseconds step = 5ms) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        session.pump_output();
        if (done()) return true;
        std::this_thread::sleep_for(step);
    }
    session.pump_output();
    return done();
}

// How many times the server logged a client's goodbye: a disconnect "by application" (11).
inline std::size_t goodbyes(const SshServer& server) {
    const std::string log = read_text(server.log());
    std::size_t n = 0;
    for (auto at = log.find("Received disconnect from 127.0.0.1"); at != std::string::npos;
         at = log.find("Received disconnect from 127.0.0.1", at + 1))
        if (log.substr(at, log.find('\n', at) - at).find(":11:") != std::string::npos) ++n;
    return n;
}

// Whether a process whose command line holds the marker runs.
inline bool process_running(const std::string& marker) {
    DIR* proc = ::opendir("/proc");
    bool found = false;
    while (auto* e = proc ? ::readdir(proc) : nullptr) {
        // Processes come and go while we look: read with plain calls that just fail.
        int fd = ::open((std::string("/proc/") + e->d_name + "/cmdline").c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        char buf[4096];
        ssize_t n = ::read(fd, buf, sizeof buf);
        ::close(fd);
        if (n > 0 && std::string_view(buf, std::size_t(n)).find(marker) != std::string_view::npos) found = true;
    }
    if (proc) ::closedir(proc);
    return found;
}

inline bool wait_settled(remote::SshSession& session) {
    return wait_until(session, [&] { return !session.status().is_connecting(); });
}

}  // namespace ssh_test

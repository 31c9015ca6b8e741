#pragma once
// Loopback peers that never answer, for the tests of connection attempts that stall: one whose
// connect never completes, and one that accepts and then says nothing.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/loopback.hpp"

namespace test_support {

// A listener whose queue of connections is full and never taken: a connect to it neither
// succeeds nor fails.
class FullBacklog {
public:
    FullBacklog() {
        auto [fd, port] = bound_loopback_socket();
        listener_ = fd;
        port_ = port;
        if (listener_ < 0 || ::listen(listener_, 0) != 0) return;
        filler_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in addr = loopback_address(port_);
        ok_ = filler_ >= 0 && ::connect(filler_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~FullBacklog() {
        if (filler_ >= 0) ::close(filler_);
        if (listener_ >= 0) ::close(listener_);
    }
    FullBacklog(const FullBacklog&) = delete;
    FullBacklog& operator=(const FullBacklog&) = delete;

    bool ok() const { return ok_; }
    std::uint16_t port() const { return port_; }

private:
    int listener_ = -1;
    int filler_ = -1;
    std::uint16_t port_ = 0;
    bool ok_ = false;
};

// A server that accepts and then stays silent, reading what the client sends.
class SilentServer {
public:
    SilentServer() {
        auto [fd, port] = bound_loopback_socket();
        listener_ = fd;
        port_ = port;
        ok_ = listener_ >= 0 && ::listen(listener_, 4) == 0;
    }
    ~SilentServer() {
        for (int peer : peers_) ::close(peer);
        if (listener_ >= 0) ::close(listener_);
    }
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;

    bool ok() const { return ok_; }
    std::uint16_t port() const { return port_; }

    // Takes the next client; its socket here, or -1 when none came within `timeout`.
    int accept_client(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) != 1) return -1;
        const int peer = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (peer >= 0) peers_.push_back(peer);
        return peer;
    }

    // The same once the client's first bytes have come (an SSH client's identification line).
    int accept_talking_client(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        const int peer = accept_client(timeout);
        pollfd q{peer, POLLIN, 0};
        return peer >= 0 && ::poll(&q, 1, static_cast<int>(timeout.count())) == 1 ? peer : -1;
    }

private:
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::vector<int> peers_;
    bool ok_ = false;
};

// How many of this process's descriptors are sockets.
inline int open_sockets() {
    int n = 0;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        n += std::filesystem::read_symlink(fd.path(), ec).string().starts_with("socket:");
    }
    return n;
}

// How many threads this process runs.
inline int thread_count() {
    return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                          std::filesystem::directory_iterator()));
}

}  // namespace test_support

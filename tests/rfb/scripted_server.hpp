#pragma once
// A loopback TCP server that plays a script against one client, on its own thread.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>
#include <tuple>
#include <vector>

#include "support/loopback.hpp"
#include "support/wait.hpp"
#include "tests/rfb/wire.hpp"

namespace rfb_test {

// The server's end of the connection.
class Peer {
public:
    explicit Peer(int fd) : fd_(fd) {}
    void send(const Wire& w) const { send(w.bytes); }
    void send(const std::vector<std::uint8_t>& b) const {
        std::size_t done = 0;
        while (done < b.size()) {
            ssize_t n = ::send(fd_, b.data() + done, b.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return;
            done += static_cast<std::size_t>(n);
        }
    }
    // Exactly n bytes from the client, or fewer when it closes or stays silent for `timeout`.
    std::vector<std::uint8_t> read(std::size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const {
        std::vector<std::uint8_t> out(n);
        std::size_t done = 0;
        while (done < n) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) break;
            ssize_t got = ::recv(fd_, out.data() + done, n - done, 0);
            if (got <= 0) break;
            done += static_cast<std::size_t>(got);
        }
        out.resize(done);
        return out;
    }
    // True when the client closes within `timeout`.
    bool closed_within(std::chrono::milliseconds timeout) const { return test_support::closed_by_client(fd_, timeout); }

private:
    int fd_;
};

class ScriptedServer {
public:
    explicit ScriptedServer(std::function<void(Peer&)> script) {
        std::tie(listener_, port_) = test_support::bound_loopback_socket();
        ::listen(listener_, 1);
        thread_ = std::thread([this, script = std::move(script)] {
            pollfd p{listener_, POLLIN, 0};
            if (::poll(&p, 1, 10000) <= 0) return;
            int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) return;
            Peer peer(fd);
            script(peer);
            ::close(fd);
        });
    }
    ~ScriptedServer() {
        if (thread_.joinable()) thread_.join();
        ::close(listener_);
    }
    std::uint16_t port() const { return port_; }
    void join() {
        if (thread_.joinable()) thread_.join();
    }

private:
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
};

using test_support::eventually;

}  // namespace rfb_test

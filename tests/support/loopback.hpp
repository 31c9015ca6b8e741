#pragma once
// TCP on 127.0.0.1 for tests and benchmarks: ports the system picks, and whether one accepts.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <utility>

namespace test_support {

inline sockaddr_in loopback_address(std::uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    return addr;
}

// A TCP socket (close-on-exec) bound to a free loopback port but not listening, and that port;
// the caller closes it. {-1, 0} when no port could be bound.
inline std::pair<int, std::uint16_t> bound_loopback_socket() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return {-1, 0};
    sockaddr_in addr = loopback_address(0);
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        return {-1, 0};
    }
    return {fd, ntohs(addr.sin_port)};
}

// A loopback port that was free a moment ago (bound once, then released).
inline std::uint16_t free_port() {
    auto [fd, port] = bound_loopback_socket();
    if (fd >= 0) ::close(fd);
    return port;
}

// Whether something accepts TCP connections on the loopback port.
inline bool accepts(std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in addr = loopback_address(port);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

// Whether the client on the other end of the server's socket `peer` closes it within `timeout`;
// everything it sends meanwhile is read and dropped.
inline bool closed_by_client(int peer, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    char buf[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd q{peer, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&q, 1, static_cast<int>(left.count())) != 1) return false;
        if (::recv(peer, buf, sizeof buf, 0) <= 0) return true;
    }
}

}  // namespace test_support

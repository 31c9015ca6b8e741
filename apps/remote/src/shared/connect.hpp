#pragma once
// A TCP connection to host:port, as the session workers open theirs.
#include <cstdint>
#include <expected>
#include <functional>
#include <string>
#include <string_view>

#include "posix_fd/unique_fd.hpp"

namespace remote {

struct TcpOptions {
    // Waits until `fd` is ready for `events`; false gives the attempt up.
    using Wait = std::function<bool(int fd, short events)>;

    bool no_delay = false;  // Nagle off, so that small messages leave at once
    // When set, nothing blocks: a name is looked up on a thread of its own ("remote-lookup"), each
    // address is connected to without blocking, and every wait is this one. An attempt given up
    // fails with ECANCELED; the socket is left non-blocking.
    Wait wait = {};
};

struct TcpConnection {
    posix_fd::UniqueFd fd;  // blocking unless `wait` was given; closed on exec
    std::string address;    // the numeric address that accepted; empty when it cannot be told
};

// Why no connection was made: the resolver's code, or the errno of the last address tried.
struct ConnectError {
    int resolver = 0;  // a getaddrinfo code other than EAI_SYSTEM; 0 when the name resolved
    int os = 0;        // 0 when the name resolved to no address at all
    // The resolver's or the system's text; `no_address` when there was nothing to try.
    std::string text(std::string_view no_address) const;
};

// Resolves host:port and connects to each address in turn until one accepts; the last
// failure is the error. A literal address is used as it is; a name gives only the address
// families this machine has configured, so that none is tried that cannot be reached. There
// is no time-out of our own beyond what `wait` decides, and a connect that a signal interrupts
// goes on. A failure to turn Nagle off is ignored.
std::expected<TcpConnection, ConnectError> connect_tcp(const std::string& host, std::uint16_t port,
                                                       TcpOptions options = {});

}  // namespace remote

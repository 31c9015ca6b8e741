#include "shared/connect.hpp"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>

#include "shared/wake_up.hpp"
#include "worker_threads/worker_threads.hpp"

namespace remote {

namespace {

// The outcome of a connect that went on in the background, once the socket is writable: 0 when
// connected; -1 with errno set otherwise.
int connect_outcome(int fd) {
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return -1;
    if (err == 0) return 0;
    errno = err;
    return -1;
}

// connect(2) on a blocking socket that survives a signal: an interrupted connect goes on in the
// background, so wait for it and read its outcome instead of calling connect again.
int connect_blocking(int fd, const sockaddr* address, socklen_t length) {
    int r = ::connect(fd, address, length);
    if (r == 0 || errno != EINTR) return r;
    pollfd p{fd, POLLOUT, 0};
    while ((r = ::poll(&p, 1, -1)) < 0 && errno == EINTR) {
    }
    return r < 0 ? -1 : connect_outcome(fd);
}

// connect(2) on a non-blocking socket, waiting for the outcome through `wait`.
int connect_waiting(int fd, const sockaddr* address, socklen_t length, const TcpOptions::Wait& wait) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return -1;
    if (::connect(fd, address, length) == 0) return 0;
    if (errno != EINPROGRESS && errno != EINTR) return -1;
    if (!wait(fd, POLLOUT)) {
        errno = ECANCELED;
        return -1;
    }
    return connect_outcome(fd);
}

using AddressList = std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)>;
using Addresses = std::expected<AddressList, ConnectError>;

// getaddrinfo for host:port with `flags`.
Addresses look_up(const std::string& host, std::uint16_t port, int flags) {
    const std::string service = std::to_string(port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (rc == EAI_SYSTEM) return std::unexpected(ConnectError{0, errno});
    if (rc != 0) return std::unexpected(ConnectError{rc, 0});
    return AddressList(found, ::freeaddrinfo);
}

// A name's lookup, which may take as long as its name servers do, on a thread of its own and
// waited for with `wait`. A lookup cannot be interrupted: one given up finishes there.
Addresses look_up_waiting(const std::string& host, std::uint16_t port, const TcpOptions::Wait& wait) {
    struct Lookup {
        WakeUp done;
        std::mutex mutex;
        std::optional<Addresses> result;

        void finish(Addresses found) {
            {
                std::lock_guard lock(mutex);
                result = std::move(found);
            }
            done.notify();
        }
    };
    auto lookup = std::make_shared<Lookup>();
    if (!lookup->done.fd) return std::unexpected(ConnectError{0, errno});
    try {
        worker_threads::spawn(
            "remote-lookup", [lookup, host, port] { lookup->finish(look_up(host, port, AI_ADDRCONFIG)); },
            [lookup](std::string_view) {
                lookup->finish(std::unexpected(ConnectError{0, ENOMEM}));
            });
    } catch (const std::system_error& e) {
        return std::unexpected(ConnectError{0, e.code().value()});
    }
    for (;;) {
        if (!wait(lookup->done.fd.get(), POLLIN)) return std::unexpected(ConnectError{0, ECANCELED});
        std::lock_guard lock(lookup->mutex);
        if (lookup->result) return std::move(*lookup->result);
    }
}

// The addresses of host:port: a literal one as it is, else the name's in the configured families.
Addresses resolve(const std::string& host, std::uint16_t port, const TcpOptions::Wait& wait) {
    auto literal = look_up(host, port, AI_NUMERICHOST);
    if (literal || literal.error().resolver != EAI_NONAME) return literal;
    return wait ? look_up_waiting(host, port, wait) : look_up(host, port, AI_ADDRCONFIG);
}

}  // namespace

std::string ConnectError::text(std::string_view no_address) const {
    if (resolver != 0) return ::gai_strerror(resolver);
    if (os != 0) return std::error_code(os, std::system_category()).message();
    return std::string(no_address);
}

std::expected<TcpConnection, ConnectError> connect_tcp(const std::string& host, std::uint16_t port,
                                                       TcpOptions options) {
    auto list = resolve(host, port, options.wait);
    if (!list) return std::unexpected(list.error());
    ConnectError last;
    for (const addrinfo* ai = list->get(); ai; ai = ai->ai_next) {
        posix_fd::UniqueFd fd(::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol));
        const int r = !fd            ? -1
                      : options.wait ? connect_waiting(fd.get(), ai->ai_addr, ai->ai_addrlen, options.wait)
                                     : connect_blocking(fd.get(), ai->ai_addr, ai->ai_addrlen);
        if (r != 0) {
            last.os = errno;
            if (errno == ECANCELED) break;
            continue;
        }
        if (options.no_delay) {
            const int one = 1;
            ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        }
        TcpConnection connection{std::move(fd), {}};
        char name[NI_MAXHOST];
        if (::getnameinfo(ai->ai_addr, ai->ai_addrlen, name, sizeof name, nullptr, 0, NI_NUMERICHOST) == 0)
            connection.address = name;
        return connection;
    }
    return std::unexpected(last);
}

}  // namespace remote

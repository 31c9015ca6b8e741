#include "shared/connect.hpp"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <fcntl.h>
#include <sys/socket.h>

#include <cerrno>
#include <memory>
#include <system_error>

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

// connect(2) on a non-blocking socket, waiting for the outcome through `wait_writable`.
int connect_waiting(int fd, const sockaddr* address, socklen_t length,
                    const std::function<bool(int)>& wait_writable) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return -1;
    if (::connect(fd, address, length) == 0) return 0;
    if (errno != EINPROGRESS && errno != EINTR) return -1;
    if (!wait_writable(fd)) {
        errno = ECANCELED;
        return -1;
    }
    return connect_outcome(fd);
}

using AddressList = std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)>;

// The addresses of host:port: a literal one as it is, else the name's in the configured families.
std::expected<AddressList, ConnectError> resolve(const std::string& host, std::uint16_t port) {
    const std::string service = std::to_string(port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    hints.ai_flags = AI_NUMERICHOST;
    int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (rc == EAI_NONAME) {
        hints.ai_flags = AI_ADDRCONFIG;
        rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    }
    if (rc == EAI_SYSTEM) return std::unexpected(ConnectError{0, errno});
    if (rc != 0) return std::unexpected(ConnectError{rc, 0});
    return AddressList(found, ::freeaddrinfo);
}

}  // namespace

std::string ConnectError::text(std::string_view no_address) const {
    if (resolver != 0) return ::gai_strerror(resolver);
    if (os != 0) return std::error_code(os, std::system_category()).message();
    return std::string(no_address);
}

std::expected<TcpConnection, ConnectError> connect_tcp(const std::string& host, std::uint16_t port,
                                                       TcpOptions options) {
    auto list = resolve(host, port);
    if (!list) return std::unexpected(list.error());
    ConnectError last;
    for (const addrinfo* ai = list->get(); ai; ai = ai->ai_next) {
        posix_fd::UniqueFd fd(::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol));
        const int r = !fd                     ? -1
                      : options.wait_writable ? connect_waiting(fd.get(), ai->ai_addr, ai->ai_addrlen, options.wait_writable)
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

#include "rfb/stream.hpp"

#include "rfb/big_endian.hpp"

#include "shared/connect.hpp"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace remote::rfb {

namespace {

constexpr std::size_t SOCKET_BUFFER_BYTES = 64 * 1024;

StreamError given_up() { return {ErrorKind::GivenUp, "the session was let go"}; }

}  // namespace

StreamError os_error(int err) {
    switch (err) {
        case ECONNREFUSED: return {ErrorKind::ConnectionRefused, std::strerror(err)};
        case EAGAIN:
        case ETIMEDOUT: return {ErrorKind::TimedOut, std::strerror(ETIMEDOUT)};
        default: return {ErrorKind::Other, std::strerror(err)};
    }
}

Result<void> read_exact(Stream& stream, std::span<std::uint8_t> out) {
    std::size_t done = 0;
    while (done < out.size()) {
        auto buf = stream.fill_buf();
        if (!buf) return std::unexpected(std::move(buf.error()));
        if (buf->empty()) return fail(ErrorKind::UnexpectedEof, "failed to fill whole buffer");
        std::size_t n = std::min(buf->size(), out.size() - done);
        std::memcpy(out.data() + done, buf->data(), n);
        stream.consume(n);
        done += n;
    }
    return {};
}

Result<void> skip_exact(Stream& stream, std::uint64_t n) {
    while (n > 0) {
        auto buf = stream.fill_buf();
        if (!buf) return std::unexpected(std::move(buf.error()));
        if (buf->empty()) return fail(ErrorKind::UnexpectedEof, "failed to fill whole buffer");
        std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(buf->size(), n));
        stream.consume(take);
        n -= take;
    }
    return {};
}

Result<void> write_all(Stream& stream, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        auto n = stream.write_some(bytes);
        if (!n) return std::unexpected(std::move(n.error()));
        if (*n == 0) return fail(ErrorKind::WriteZero, "failed to write whole buffer");
        bytes = bytes.subspan(*n);
    }
    return {};
}

Result<std::uint8_t> read_u8(Stream& stream) {
    std::uint8_t b[1];
    if (auto r = read_exact(stream, b); !r) return std::unexpected(std::move(r.error()));
    return b[0];
}

Result<std::uint16_t> read_u16(Stream& stream) {
    std::uint8_t b[2];
    if (auto r = read_exact(stream, b); !r) return std::unexpected(std::move(r.error()));
    return get_u16(b);
}

Result<std::uint32_t> read_u32(Stream& stream) {
    std::uint8_t b[4];
    if (auto r = read_exact(stream, b); !r) return std::unexpected(std::move(r.error()));
    return get_u32(b);
}

SocketStream::SocketStream(posix_fd::UniqueFd fd, GiveUp give_up)
    : fd_(std::move(fd)), give_up_(std::move(give_up)), buf_(SOCKET_BUFFER_BYTES) {}

Result<void> SocketStream::wait(short events, std::chrono::milliseconds timeout) {
    std::optional<std::chrono::steady_clock::time_point> deadline;
    if (timeout.count() > 0) deadline = std::chrono::steady_clock::now() + timeout;
    switch (wait_for_socket(fd_.get(), events, deadline, give_up_)) {
        case Waited::Ready: return {};
        case Waited::TimedOut: return std::unexpected(os_error(ETIMEDOUT));
        case Waited::GivenUp: return std::unexpected(given_up());
        case Waited::Failed: break;
    }
    return std::unexpected(os_error(errno));
}

Result<std::size_t> SocketStream::receive() {
    for (;;) {
        if (auto ready = wait(POLLIN, read_timeout_); !ready) return std::unexpected(std::move(ready.error()));
        ssize_t n = ::recv(fd_.get(), buf_.data() + end_, buf_.size() - end_, MSG_DONTWAIT);
        if (n >= 0) {
            end_ += static_cast<std::size_t>(n);
            return static_cast<std::size_t>(n);
        }
        if (errno != EINTR && errno != EAGAIN) return std::unexpected(os_error(errno));
    }
}

Result<std::span<const std::uint8_t>> SocketStream::fill_buf() {
    if (begin_ == end_) {
        begin_ = end_ = 0;
        if (auto r = receive(); !r) return std::unexpected(std::move(r.error()));
    }
    return std::span<const std::uint8_t>(buf_.data() + begin_, end_ - begin_);
}

Result<std::span<const std::uint8_t>> SocketStream::peek(std::size_t n) {
    n = std::min(n, buf_.size());
    if (buf_.size() - begin_ < n) {  // move what is left to the front to make room
        std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    while (end_ - begin_ < n) {
        auto got = receive();
        if (!got) return std::unexpected(std::move(got.error()));
        if (*got == 0) break;  // the stream has ended
    }
    return std::span<const std::uint8_t>(buf_.data() + begin_, end_ - begin_);
}

void SocketStream::consume(std::size_t n) { begin_ += std::min(n, end_ - begin_); }

Result<std::size_t> SocketStream::write_some(std::span<const std::uint8_t> bytes) {
    for (;;) {
        if (auto ready = wait(POLLOUT, write_timeout_); !ready) return std::unexpected(std::move(ready.error()));
        ssize_t n = ::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR && errno != EAGAIN) return std::unexpected(os_error(errno));
    }
}

Result<posix_fd::UniqueFd> connect_tcp(const std::string& host, std::uint16_t port, const GiveUp& give_up) {
    bool gave_up = false;
    TcpOptions options{.no_delay = true};
    options.wait = [&](int fd, short events) {
        const Waited waited = wait_for_socket(fd, events, std::nullopt, give_up);
        gave_up = waited == Waited::GivenUp;
        return waited == Waited::Ready;
    };
    auto connection = remote::connect_tcp(host, port, options);
    if (connection) return std::move(connection->fd);
    if (gave_up) return std::unexpected(given_up());
    if (connection.error().os != 0) return std::unexpected(os_error(connection.error().os));
    return fail(ErrorKind::Other, connection.error().text("could not resolve to any addresses"));
}

}  // namespace remote::rfb

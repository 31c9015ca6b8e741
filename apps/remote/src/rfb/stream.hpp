#pragma once
// The byte stream the RFB client reads and writes, and the error every stream operation returns.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

#include "posix_fd/unique_fd.hpp"
#include "shared/wake_up.hpp"

namespace remote::rfb {

enum class ErrorKind : std::uint8_t {
    InvalidData,        // protocol violation or breached limit
    Unsupported,        // no usable security type
    PermissionDenied,   // the server refused us
    UnexpectedEof,      // the stream ended inside a read
    WriteZero,          // the stream took no bytes of a write
    TimedOut,           // a read or write with a time-out made no progress
    GivenUp,            // a wait was given up (the session was let go)
    ConnectionRefused,  // the host refused the connection
    Other,              // any other socket or resolver failure
};

struct StreamError {
    ErrorKind kind = ErrorKind::Other;
    std::string message;

    friend bool operator==(const StreamError&, const StreamError&) = default;
};

template <typename T>
using Result = std::expected<T, StreamError>;

inline std::unexpected<StreamError> fail(ErrorKind kind, std::string message) {
    return std::unexpected(StreamError{kind, std::move(message)});
}
inline std::unexpected<StreamError> invalid_data(std::string message) {
    return fail(ErrorKind::InvalidData, std::move(message));
}

// A buffered byte stream: reads look at what has arrived (fill_buf) and take it (consume),
// so decoders can work on received bytes in place.
class Stream {
public:
    virtual ~Stream() = default;
    // The bytes received and not yet consumed; waits for more only when none are left.
    // An empty span means the stream has ended.
    virtual Result<std::span<const std::uint8_t>> fill_buf() = 0;
    virtual void consume(std::size_t n) = 0;
    // At least the next `n` bytes, not taken, received as needed; fewer only when the stream
    // ends first. `n` is at most lookahead().
    virtual Result<std::span<const std::uint8_t>> peek(std::size_t n) = 0;
    // How many bytes ahead peek can hold.
    virtual std::size_t lookahead() const = 0;
    // Writes some of the bytes; 0 means the stream took none.
    virtual Result<std::size_t> write_some(std::span<const std::uint8_t> bytes) = 0;
};

// Reads exactly out.size() bytes; "failed to fill whole buffer" when the stream ends first.
Result<void> read_exact(Stream& stream, std::span<std::uint8_t> out);
// Reads and drops n bytes.
Result<void> skip_exact(Stream& stream, std::uint64_t n);
// Writes every byte; "failed to write whole buffer" when the stream takes none.
Result<void> write_all(Stream& stream, std::span<const std::uint8_t> bytes);

Result<std::uint8_t> read_u8(Stream& stream);
Result<std::uint16_t> read_u16(Stream& stream);
Result<std::uint32_t> read_u32(Stream& stream);

// Reads from memory; written bytes are kept in `written`. For tests, fuzzing and benchmarks.
// Everything is at hand, but a test may make it look ahead less far, as a socket does.
class MemoryStream final : public Stream {
public:
    explicit MemoryStream(std::span<const std::uint8_t> data, std::size_t lookahead = SIZE_MAX)
        : data_(data), lookahead_(lookahead) {}
    Result<std::span<const std::uint8_t>> fill_buf() override { return data_.subspan(pos_); }
    void consume(std::size_t n) override { pos_ += std::min(n, data_.size() - pos_); }
    Result<std::span<const std::uint8_t>> peek(std::size_t n) override {
        return data_.subspan(pos_, std::min(data_.size() - pos_, std::max(n, lookahead_)));
    }
    std::size_t lookahead() const override { return lookahead_; }
    Result<std::size_t> write_some(std::span<const std::uint8_t> bytes) override {
        written.insert(written.end(), bytes.begin(), bytes.end());
        return bytes.size();
    }
    std::size_t remaining() const { return data_.size() - pos_; }
    void rewind() { pos_ = 0; }

    std::vector<std::uint8_t> written;

private:
    std::span<const std::uint8_t> data_;
    std::size_t lookahead_;
    std::size_t pos_ = 0;
};

// A connected socket, owned and closed on destruction. Reads and writes wait in poll: a time-out
// that passes without progress is a TimedOut error, and a wait found given up (`give_up`) while
// the socket is not ready a GivenUp one.
class SocketStream final : public Stream {
public:
    explicit SocketStream(posix_fd::UniqueFd fd, GiveUp give_up = {});

    Result<std::span<const std::uint8_t>> fill_buf() override;
    void consume(std::size_t n) override;
    // As far ahead as its buffer holds (64 KiB).
    Result<std::span<const std::uint8_t>> peek(std::size_t n) override;
    std::size_t lookahead() const override { return buf_.size(); }
    Result<std::size_t> write_some(std::span<const std::uint8_t> bytes) override;

    // Read and write time-outs (a zero duration waits without limit).
    void set_read_timeout(std::chrono::milliseconds timeout) { read_timeout_ = timeout; }
    void set_write_timeout(std::chrono::milliseconds timeout) { write_timeout_ = timeout; }
    bool has_buffered() const { return begin_ < end_; }
    int fd() const { return fd_.get(); }

private:
    // Receives into the free end of the buffer; 0 bytes when the stream has ended.
    Result<std::size_t> receive();
    Result<void> wait(short events, std::chrono::milliseconds timeout);

    posix_fd::UniqueFd fd_;
    GiveUp give_up_;
    std::vector<std::uint8_t> buf_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::chrono::milliseconds read_timeout_{0};
    std::chrono::milliseconds write_timeout_{0};
};

// The error of a failed system call, by errno.
StreamError os_error(int err);

// Connects to host:port with no-delay (remote::connect_tcp); the last attempt's error when no
// address accepts, or GivenUp.
Result<posix_fd::UniqueFd> connect_tcp(const std::string& host, std::uint16_t port, const GiveUp& give_up = {});

}  // namespace remote::rfb

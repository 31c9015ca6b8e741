#pragma once
// The owner of one file descriptor: it closes the descriptor when it goes, unless the
// descriptor was released first. Closing keeps errno as it was, so that an error read after a
// failed call is still that call's.
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace posix_fd {

class UniqueFd {
public:
    UniqueFd() = default;
    // Takes `fd` over; a negative value holds nothing.
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }

    // Gives the descriptor up without closing it.
    int release() noexcept { return std::exchange(fd_, -1); }
    // Closes the descriptor held, if any, and takes `fd` over.
    void reset(int fd = -1) noexcept {
        const int old = std::exchange(fd_, fd);
        if (old >= 0 && old != fd) {
            const int saved = errno;
            ::close(old);
            errno = saved;
        }
    }
    // Closes the descriptor now and says how that went, for files whose close can report a
    // failed write: 0, or -1 with errno set.
    int close() noexcept { return ::close(release()); }

private:
    int fd_ = -1;
};

}  // namespace posix_fd

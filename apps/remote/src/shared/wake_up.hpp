#pragma once
// How a session worker waits on its socket while the UI can wake it: an eventfd that other
// threads write to when the worker should look again (input arrived, the session was let go),
// and one wait on both.
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

#include "posix_fd/unique_fd.hpp"

namespace remote {

// Shared by the worker and whoever wakes it, so that a late wake-up never writes to a closed
// descriptor.
struct WakeUp {
    posix_fd::UniqueFd fd{::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)};
    void notify() const {
        std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(fd.get(), &one, sizeof one);
    }
    void drain() const {
        std::uint64_t count;
        [[maybe_unused]] auto n = ::read(fd.get(), &count, sizeof count);
    }
};

// What ends a worker's waits early: `given_up`, asked as a wait begins and each time `wake` fires.
struct GiveUp {
    const WakeUp* wake = nullptr;
    std::function<bool()> given_up;
};

enum class Waited { Ready, TimedOut, GivenUp, Failed };

// The milliseconds from now until `deadline`, rounded up and kept within 0 to `cap`: a time-out
// for poll().
int poll_timeout(std::chrono::steady_clock::time_point deadline, int cap);

// Waits until `fd` is ready for `events` (or has an error), until `deadline` (none: no limit), or
// until it is found given up while the socket is not ready. Failed leaves errno set.
Waited wait_for_socket(int fd, short events, std::optional<std::chrono::steady_clock::time_point> deadline,
                       const GiveUp& give_up);

}  // namespace remote

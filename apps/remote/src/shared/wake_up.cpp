#include "shared/wake_up.hpp"

#include <poll.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace remote {

int poll_timeout(std::chrono::steady_clock::time_point deadline, int cap) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, cap));
}

Waited wait_for_socket(int fd, short events, std::optional<std::chrono::steady_clock::time_point> deadline,
                       const GiveUp& give_up) {
    const int wake_fd = give_up.wake ? give_up.wake->fd.get() : -1;
    const auto given_up = [&] { return give_up.given_up && give_up.given_up(); };
    // Asked first too: the wait may have been given up before its wake-up was set to fire.
    bool ask = true;
    for (;;) {
        if (ask && given_up()) {
            // A socket that is ready is used even once the wait is given up.
            pollfd now{fd, events, 0};
            return ::poll(&now, 1, 0) == 1 ? Waited::Ready : Waited::GivenUp;
        }
        const int timeout = deadline ? poll_timeout(*deadline, 60000) : -1;
        std::array<pollfd, 2> fds{{{fd, events, 0}, {wake_fd, POLLIN, 0}}};
        const int r = ::poll(fds.data(), wake_fd >= 0 ? 2 : 1, timeout);
        if (r < 0) {
            if (errno == EINTR) continue;
            return Waited::Failed;
        }
        if (fds[0].revents != 0) return Waited::Ready;
        ask = fds[1].revents & POLLIN;
        if (ask) give_up.wake->drain();
        if (deadline && std::chrono::steady_clock::now() >= *deadline) return Waited::TimedOut;
    }
}

}  // namespace remote

#pragma once
// Detached worker threads that the program can wait for when it quits. A worker runs on its
// own and nobody joins it; it is counted from its start until its body has returned, so that
// quitting can give the running ones a bounded time to finish.
#include <pthread.h>

#include <chrono>
#include <thread>
#include <utility>

namespace worker_threads {

namespace detail {
void enter();
void leave();

// Counts one worker for as long as it lives.
class Counted {
public:
    Counted() { enter(); }
    Counted(Counted&& other) noexcept : active_(std::exchange(other.active_, false)) {}
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;
    Counted& operator=(Counted&&) = delete;
    ~Counted() {
        if (active_) leave();
    }

private:
    bool active_ = true;
};
}  // namespace detail

// Runs `body` on a detached thread named `name` (at most 15 bytes). Throws std::system_error
// when the thread cannot be started.
template <typename F>
void spawn(const char* name, F body) {
    std::thread thread([counted = detail::Counted(), body = std::move(body)]() mutable {
        {
            // The body and what it captured are gone before the count is released.
            F run = std::move(body);
            run();
        }
    });
    ::pthread_setname_np(thread.native_handle(), name);
    thread.detach();
}

// Waits until no worker runs, at most `limit`; true when none is left.
bool wait_for_all(std::chrono::milliseconds limit);

}  // namespace worker_threads

#pragma once
// Detached worker threads that the program can wait for when it quits. A worker runs on its
// own and nobody joins it; it is counted from its start until its body has returned, so that
// quitting can give the running ones a bounded time to finish. A program that leaves through
// exit() (or returns from main) while workers run does the same (`wait_or_leave`). Every worker
// fails the same way: its owner hears of the failure, and the program goes on.
#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <string_view>
#include <thread>
#include <utility>

namespace worker_threads {

namespace detail {
void enter();
void leave();
// Logs that the worker `name` failed with `what`.
void log_failure(const char* name, const char* what) noexcept;

template <typename Failed>
void report_failure(const char* name, const char* what, Failed& failed) noexcept {
    log_failure(name, what);
    try {
        failed(std::string_view(what));
    } catch (...) {
    }
}

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

// Runs `body` on a detached thread named `name` (its first 15 bytes, all the system keeps). An
// exception that escapes `body`, such as an allocation the system refused, ends that worker and
// not the program: it is logged, and `failed` is called with its text on the worker's thread
// once the body and what it captured are gone (so that channels the body held are closed before
// the owner hears of the failure). A `failed` that throws in turn is given up on. Throws
// std::system_error when the thread cannot be started.
template <typename F, typename Failed>
void spawn(const char* name, F body, Failed failed) {
    std::thread thread(
        [counted = detail::Counted(), name, body = std::move(body), failed = std::move(failed)]() mutable {
            // Both go before the count is released.
            Failed on_failure = std::move(failed);
            try {
                F run = std::move(body);
                run();
            } catch (const std::exception& e) {
                detail::report_failure(name, e.what(), on_failure);
            } catch (...) {
                detail::report_failure(name, "unknown exception", on_failure);
            }
        });
    // A name the system cannot keep whole is refused, not cut: cut it here.
    char kept[16] = {};
    std::memcpy(kept, name, std::min(std::strlen(name), sizeof kept - 1));
    ::pthread_setname_np(thread.native_handle(), kept);
    thread.detach();
}

// Waits until no worker runs, at most `limit`; true when none is left.
bool wait_for_all(std::chrono::milliseconds limit);

// How long a program that leaves waits for its running workers, whichever way it leaves.
inline constexpr auto kLeaveGrace = std::chrono::milliseconds(1500);

// Gives the running workers kLeaveGrace to finish and returns once none is left; when some still
// run then, flushes the logs and standard streams and leaves at once with `status`, without the
// exit-time clean-up of libraries and static objects that they may still use.
void wait_or_leave(int status);

}  // namespace worker_threads

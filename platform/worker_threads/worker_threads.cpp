#include "worker_threads/worker_threads.hpp"

#include <stdlib.h>

#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <mutex>

#include <spdlog/spdlog.h>

namespace worker_threads {
namespace {

struct State {
    std::mutex mutex;
    std::condition_variable idle;
    std::size_t running = 0;
};

// Never destroyed: a worker may still leave while the process runs its exit-time clean-up.
State& state() {
    static State* s = new State;
    return *s;
}

// Run by exit() before everything registered earlier: static objects' destructors, the clean-up
// handlers libraries register at their first use, and the libraries' own tear-down, which comes
// last. A worker still running would have them pulled from under it.
void on_exit_with_workers(int status, void*) { wait_or_leave(status); }

// Once, before the first worker starts. The logger registry the workers log through is made
// first, so that its destructor is registered earlier and runs after the handler.
void guard_exit() {
    static std::once_flag once;
    std::call_once(once, [] {
        spdlog::default_logger_raw();
        ::on_exit(on_exit_with_workers, nullptr);
    });
}

}  // namespace

namespace detail {

void enter() {
    guard_exit();
    std::lock_guard lock(state().mutex);
    ++state().running;
}

void log_failure(const char* name, const char* what) noexcept {
    try {
        spdlog::error("{}: stopped by an error: {}", name, what);
    } catch (...) {
    }
}

void leave() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (--s.running == 0) s.idle.notify_all();
}

}  // namespace detail

bool wait_for_all(std::chrono::milliseconds limit) {
    State& s = state();
    std::unique_lock lock(s.mutex);
    return s.idle.wait_for(lock, limit, [&] { return s.running == 0; });
}

void wait_or_leave(int status) {
    if (wait_for_all(kLeaveGrace)) return;
    try {
        spdlog::apply_all([](const std::shared_ptr<spdlog::logger>& logger) { logger->flush(); });
    } catch (...) {
    }
    std::fflush(nullptr);
    std::_Exit(status);
}

}  // namespace worker_threads

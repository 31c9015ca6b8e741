#include "worker_threads/worker_threads.hpp"

#include <condition_variable>
#include <cstddef>
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

}  // namespace

namespace detail {

void enter() {
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

}  // namespace worker_threads

#pragma once
// The definitions behind thread_allocations.hpp and the program's replacement of operator new:
// include in exactly one source file of a test program.
#include <sys/prctl.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "support/thread_allocations.hpp"

namespace test_support::allocations {

// A thread name, written before its flag is armed and read only once it is.
struct Armed {
    std::atomic<bool> on{false};
    char thread[16] = {};

    void arm(const char* name) {
        std::strncpy(thread, name, sizeof thread - 1);
        on.store(true, std::memory_order_release);
    }
    bool here() const {
        if (!on.load(std::memory_order_acquire)) return false;
        char name[16] = {};
        ::prctl(PR_GET_NAME, name);
        return std::strncmp(name, thread, sizeof name) == 0;
    }
};

inline Armed failing, watching;
inline std::atomic<bool> failed{false};
inline std::atomic<std::size_t> largest{0}, total{0};

inline void* allocate(std::size_t n) {
    if (failing.here() && failing.on.exchange(false)) {
        failed = true;
        throw std::bad_alloc();
    }
    if (watching.here()) {
        total += n;
        for (std::size_t seen = largest; n > seen && !largest.compare_exchange_weak(seen, n);) {
        }
    }
    for (;;) {
        if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
        std::new_handler handler = std::get_new_handler();
        if (!handler) throw std::bad_alloc();
        handler();
    }
}

inline void* allocate_nothrow(std::size_t n) noexcept {
    try {
        return allocate(n);
    } catch (...) {
        return nullptr;
    }
}

}  // namespace test_support::allocations

namespace test_support {

void fail_next_allocation_on(const char* thread_name) {
    allocations::failed = false;
    allocations::failing.arm(thread_name);
}
bool allocation_failed() { return allocations::failed; }

void watch_allocations_of(const char* thread_name) {
    allocations::largest = 0;
    allocations::total = 0;
    allocations::watching.arm(thread_name);
}
void stop_watching_allocations() { allocations::watching.on = false; }
std::size_t largest_allocation() { return allocations::largest; }
std::size_t allocated_bytes() { return allocations::total; }

}  // namespace test_support

// Every plain and array form, so that what is allocated here is always freed here (the
// sanitizers' own forms would call that a mismatch).
void* operator new(std::size_t n) { return test_support::allocations::allocate(n); }
void* operator new[](std::size_t n) { return test_support::allocations::allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    return test_support::allocations::allocate_nothrow(n);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    return test_support::allocations::allocate_nothrow(n);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

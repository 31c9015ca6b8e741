#include "tests/integration/failing_allocation.hpp"

#include <sys/prctl.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

std::atomic<bool> g_armed{false};
std::atomic<bool> g_failed{false};
char g_thread[16];  // written before arming, read only once armed

bool on_armed_thread() {
    char name[16] = {};
    ::prctl(PR_GET_NAME, name);
    return std::strncmp(name, g_thread, sizeof name) == 0;
}

void* allocate(std::size_t n) {
    if (g_armed.load(std::memory_order_acquire) && on_armed_thread() && g_armed.exchange(false)) {
        g_failed = true;
        throw std::bad_alloc();
    }
    for (;;) {
        if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
        std::new_handler handler = std::get_new_handler();
        if (!handler) throw std::bad_alloc();
        handler();
    }
}

void* allocate_nothrow(std::size_t n) noexcept {
    try {
        return allocate(n);
    } catch (...) {
        return nullptr;
    }
}

}  // namespace

namespace test_support {

void fail_next_allocation_on(const char* thread_name) {
    std::strncpy(g_thread, thread_name, sizeof g_thread - 1);
    g_failed = false;
    g_armed.store(true, std::memory_order_release);
}

bool allocation_failed() { return g_failed; }

}  // namespace test_support

// Every plain and array form, so that what is allocated here is always freed here (the
// sanitizers' own forms would call that a mismatch).
void* operator new(std::size_t n) { return allocate(n); }
void* operator new[](std::size_t n) { return allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return allocate_nothrow(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return allocate_nothrow(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

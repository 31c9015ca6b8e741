#pragma once
// What one named thread allocates, watched or made to fail, through the test program's own
// operator new: a program that uses these compiles thread_allocations_new.hpp into one source.
#include <cstddef>

namespace test_support {

// The next allocation a thread of this name makes once armed throws std::bad_alloc, as a system
// out of memory would.
void fail_next_allocation_on(const char* thread_name);
// Whether the allocation armed for has failed.
bool allocation_failed();

// Counts the allocations of threads of this name from now on.
void watch_allocations_of(const char* thread_name);
void stop_watching_allocations();
// Since the watch began: the largest single allocation, and all bytes allocated.
std::size_t largest_allocation();
std::size_t allocated_bytes();

}  // namespace test_support

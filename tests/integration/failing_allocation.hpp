#pragma once
// One allocation made to fail on purpose, as a system out of memory would: this test program's
// operator new (failing_allocation.cpp) throws std::bad_alloc for the next allocation that a
// thread of the given name makes once armed.
namespace test_support {

void fail_next_allocation_on(const char* thread_name);
// Whether the allocation armed for has failed.
bool allocation_failed();

}  // namespace test_support

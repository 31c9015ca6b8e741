// This program's operator new, for the tests that watch or fail a worker's allocations.
#include "support/thread_allocations_new.hpp"

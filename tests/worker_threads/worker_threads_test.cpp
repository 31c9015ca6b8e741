#include "worker_threads/worker_threads.hpp"

#include <gtest/gtest.h>

#include <future>
#include <memory>

#include "support/threads.hpp"

namespace {

using namespace std::chrono_literals;

TEST(WorkerThreads, QuittingWaitsForRunningWorkersOnlyAsLongAsAllowed) {
    ASSERT_TRUE(worker_threads::wait_for_all(5s));
    std::promise<void> release;
    auto released = release.get_future().share();
    // What the body captured still counts: it goes before the worker is done.
    auto captured = std::make_shared<int>(1);
    std::weak_ptr<int> watch = captured;
    worker_threads::spawn("test-worker", [released, captured = std::move(captured)] { released.wait(); });
    EXPECT_EQ(test_support::threads_named("test-worker"), 1);
    EXPECT_FALSE(worker_threads::wait_for_all(50ms));
    release.set_value();
    EXPECT_TRUE(worker_threads::wait_for_all(5s));
    EXPECT_TRUE(watch.expired());
}

}  // namespace

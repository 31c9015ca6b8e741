#include "worker_threads/worker_threads.hpp"

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

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
    worker_threads::spawn(
        "test-worker", [released, captured = std::move(captured)] { released.wait(); }, [](std::string_view) {});
    EXPECT_EQ(test_support::threads_named("test-worker"), 1);
    EXPECT_FALSE(worker_threads::wait_for_all(50ms));
    release.set_value();
    EXPECT_TRUE(worker_threads::wait_for_all(5s));
    EXPECT_TRUE(watch.expired());
}

TEST(WorkerThreads, ANameTooLongForTheSystemIsCut) {
    std::promise<void> release;
    auto released = release.get_future().share();
    worker_threads::spawn("test-a-long-worker-name", [released] { released.wait(); }, [](std::string_view) {});
    EXPECT_EQ(test_support::threads_named("test-a-long-wor"), 1);
    release.set_value();
    EXPECT_TRUE(worker_threads::wait_for_all(5s));
}

TEST(WorkerThreads, AFailingBodyEndsItsWorkerAndTellsItsOwnerAfterLettingGo) {
    ASSERT_TRUE(worker_threads::wait_for_all(5s));
    auto captured = std::make_shared<int>(1);
    std::weak_ptr<int> watch = captured;
    std::promise<std::pair<std::string, bool>> told;  // the text, and whether the capture was gone
    worker_threads::spawn(
        "test-failing",
        [captured = std::move(captured)] {
            if (*captured) throw std::bad_alloc();
        },
        [&told, watch](std::string_view what) {
            told.set_value({std::string(what), watch.expired()});
        });
    auto [what, let_go] = told.get_future().get();
    EXPECT_EQ(what, "std::bad_alloc");
    EXPECT_TRUE(let_go);
    EXPECT_TRUE(worker_threads::wait_for_all(5s));

    // A failure that fails to be told ends the worker all the same.
    worker_threads::spawn(
        "test-failing", [] { throw std::runtime_error("body"); },
        [](std::string_view) { throw std::runtime_error("owner"); });
    EXPECT_TRUE(worker_threads::wait_for_all(5s));
}

}  // namespace

#include "shared/bounded_channel.hpp"
#include "shared/shared_cell.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace remote;

TEST(BoundedChannel, RefusesWhenFullAndClosesWithTheLastSender) {
    auto [tx, rx] = make_bounded_channel<int>(2);
    EXPECT_TRUE(tx.try_send(1));
    auto copy = tx;
    EXPECT_TRUE(copy.try_send(2));
    EXPECT_EQ(tx.try_send(3).error(), SendError::Full);
    EXPECT_EQ(rx.try_recv().value(), 1);
    tx.reset();
    EXPECT_FALSE(rx.is_closed());
    copy.reset();
    // What was queued is still delivered, then the channel reads as closed.
    EXPECT_EQ(rx.try_recv().value(), 2);
    EXPECT_EQ(rx.try_recv().error(), RecvError::Closed);
    EXPECT_EQ(rx.recv(), std::nullopt);
}

TEST(BoundedChannel, ABlockedSenderWakesWhenTheReceiverGoes) {
    auto [tx, rx] = make_bounded_channel<int>(1);
    ASSERT_TRUE(tx.send(1));
    std::atomic<bool> done = false;
    std::thread worker([&, tx = std::move(tx)]() mutable {
        EXPECT_EQ(tx.send(2).error(), SendError::Closed);
        done = true;
    });
    rx.close();
    worker.join();
    EXPECT_TRUE(done);
}

TEST(BoundedChannel, BlockingSendAndReceiveAcrossThreadsKeepOrder) {
    auto [tx, rx] = make_bounded_channel<int>(4);
    std::thread producer([tx = std::move(tx)]() mutable {
        for (int i = 0; i < 1000; ++i) ASSERT_TRUE(tx.send(i));
    });
    for (int i = 0; i < 1000; ++i) EXPECT_EQ(rx.recv(), i);
    producer.join();
    EXPECT_EQ(rx.recv(), std::nullopt);
}

TEST(BoundedChannel, ListenerRunsForEveryMessageAndForClose) {
    auto [tx, rx] = make_bounded_channel<int>(8);
    std::atomic<int> calls = 0;
    rx.set_listener([&] { ++calls; });
    ASSERT_TRUE(tx.try_send(1));
    ASSERT_TRUE(tx.try_send(2));
    tx.reset();
    EXPECT_EQ(calls, 3);
}

TEST(SharedCell, CopiesReplacesAndTakes) {
    auto cell = make_shared_cell<std::string>("a");
    EXPECT_EQ(cell->get(), "a");
    cell->set("b");
    EXPECT_EQ(cell->take(), "b");
    EXPECT_EQ(cell->get(), "");
    EXPECT_EQ(cell->with([](std::string& s) {
        s = "c";
        return s.size();
    }),
              1u);
}

#pragma once
// Waiting in tests for something another thread or process does.
#include <chrono>
#include <thread>

namespace test_support {

// Whether pred() holds within `timeout`, asked every `poll`.
template <typename Pred>
bool eventually(Pred pred, std::chrono::milliseconds timeout = std::chrono::seconds(5),
                std::chrono::milliseconds poll = std::chrono::milliseconds(2)) {
    auto end = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(poll);
    }
    return true;
}

}  // namespace test_support

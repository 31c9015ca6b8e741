#pragma once
// A value shared between the UI thread and a worker: reference-counted, behind its own mutex,
// locked only to copy, replace or take the value.
#include <memory>
#include <mutex>
#include <utility>

namespace remote {

// C++ mutexes are not poisoned by a failing holder, so this is a plain lock; it keeps the
// name under which every shared cell is locked.
inline std::unique_lock<std::mutex> lock_ignoring_poison(std::mutex& mutex) {
    return std::unique_lock<std::mutex>(mutex);
}

template <typename T>
class SharedCell {
public:
    explicit SharedCell(T initial = T{}) : value_(std::move(initial)) {}

    T get() const {
        auto lock = lock_ignoring_poison(mutex_);
        return value_;
    }
    void set(T value) {
        auto lock = lock_ignoring_poison(mutex_);
        value_ = std::move(value);
    }
    // Moves the value out, leaving a default one behind.
    T take() {
        auto lock = lock_ignoring_poison(mutex_);
        return std::exchange(value_, T{});
    }
    // Runs f on the value under the lock; keep f short and free of I/O.
    template <typename F>
    decltype(auto) with(F&& f) {
        auto lock = lock_ignoring_poison(mutex_);
        return std::forward<F>(f)(value_);
    }

private:
    mutable std::mutex mutex_;
    T value_;
};

template <typename T>
using SharedCellPtr = std::shared_ptr<SharedCell<T>>;

template <typename T>
SharedCellPtr<T> make_shared_cell(T initial = T{}) {
    return std::make_shared<SharedCell<T>>(std::move(initial));
}

}  // namespace remote

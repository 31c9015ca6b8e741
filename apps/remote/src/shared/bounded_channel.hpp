#pragma once
// A bounded multi-producer, single-consumer channel between the UI thread and a session worker.
// The channel closes for the receiver when the last Sender is destroyed, and for the senders
// when the Receiver is destroyed; nothing sent is lost before that.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <expected>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace remote {

enum class SendError { Full, Closed };
enum class RecvError { Empty, Closed };

namespace detail {

template <typename T>
struct ChannelState {
    explicit ChannelState(std::size_t cap) : capacity(cap) {}
    std::mutex mutex;
    std::condition_variable not_empty;
    std::condition_variable not_full;
    std::deque<T> queue;
    std::size_t capacity;
    std::size_t senders = 1;
    bool receiver_alive = true;
    // Called without the lock after each message and when the senders are gone.
    std::function<void()> listener;

    void notify_listener() {
        std::function<void()> l;
        {
            std::lock_guard lock(mutex);
            l = listener;
        }
        if (l) l();
    }
};

}  // namespace detail

template <typename T>
class Receiver;

template <typename T>
class Sender {
public:
    Sender() = default;
    Sender(const Sender& other) : state_(other.state_) {
        if (state_) {
            std::lock_guard lock(state_->mutex);
            ++state_->senders;
        }
    }
    Sender(Sender&& other) noexcept : state_(std::move(other.state_)) {}
    Sender& operator=(Sender other) noexcept {
        std::swap(state_, other.state_);
        return *this;
    }
    ~Sender() { reset(); }

    // Queues the value unless the channel is full or closed; never waits.
    std::expected<void, SendError> try_send(T value) {
        if (!state_) return std::unexpected(SendError::Closed);
        {
            std::lock_guard lock(state_->mutex);
            if (!state_->receiver_alive) return std::unexpected(SendError::Closed);
            if (state_->queue.size() >= state_->capacity) return std::unexpected(SendError::Full);
            state_->queue.push_back(std::move(value));
        }
        state_->not_empty.notify_one();
        state_->notify_listener();
        return {};
    }

    // Waits while the channel is full; fails only when the receiver is gone.
    std::expected<void, SendError> send(T value) {
        if (!state_) return std::unexpected(SendError::Closed);
        {
            std::unique_lock lock(state_->mutex);
            state_->not_full.wait(lock,
                                  [&] { return !state_->receiver_alive || state_->queue.size() < state_->capacity; });
            if (!state_->receiver_alive) return std::unexpected(SendError::Closed);
            state_->queue.push_back(std::move(value));
        }
        state_->not_empty.notify_one();
        state_->notify_listener();
        return {};
    }

    bool is_closed() const {
        if (!state_) return true;
        std::lock_guard lock(state_->mutex);
        return !state_->receiver_alive;
    }

    // Drops this handle early; the channel closes when the last sender does.
    void reset() {
        if (!state_) return;
        bool last;
        {
            std::lock_guard lock(state_->mutex);
            last = --state_->senders == 0;
        }
        if (last) {
            state_->not_empty.notify_all();
            state_->notify_listener();
        }
        state_.reset();
    }

private:
    template <typename U>
    friend std::pair<Sender<U>, Receiver<U>> make_bounded_channel(std::size_t capacity);
    explicit Sender(std::shared_ptr<detail::ChannelState<T>> s) : state_(std::move(s)) {}
    std::shared_ptr<detail::ChannelState<T>> state_;
};

template <typename T>
class Receiver {
public:
    Receiver() = default;
    Receiver(Receiver&&) noexcept = default;
    Receiver& operator=(Receiver&& other) noexcept {
        if (this != &other) {
            close();
            state_ = std::move(other.state_);
        }
        return *this;
    }
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;
    ~Receiver() { close(); }

    // The next message without waiting; Closed once the senders are gone and the queue is empty.
    std::expected<T, RecvError> try_recv() {
        if (!state_) return std::unexpected(RecvError::Closed);
        std::unique_lock lock(state_->mutex);
        if (state_->queue.empty()) return std::unexpected(state_->senders == 0 ? RecvError::Closed : RecvError::Empty);
        return pop(lock);
    }

    // Waits for the next message; none once the senders are gone and the queue is empty.
    std::optional<T> recv() {
        if (!state_) return std::nullopt;
        std::unique_lock lock(state_->mutex);
        state_->not_empty.wait(lock, [&] { return !state_->queue.empty() || state_->senders == 0; });
        if (state_->queue.empty()) return std::nullopt;
        return pop(lock);
    }

    // Waits at most `timeout` for the next message.
    std::expected<T, RecvError> recv_for(std::chrono::nanoseconds timeout) {
        if (!state_) return std::unexpected(RecvError::Closed);
        std::unique_lock lock(state_->mutex);
        state_->not_empty.wait_for(lock, timeout, [&] { return !state_->queue.empty() || state_->senders == 0; });
        if (state_->queue.empty()) return std::unexpected(state_->senders == 0 ? RecvError::Closed : RecvError::Empty);
        return pop(lock);
    }

    std::size_t len() const {
        if (!state_) return 0;
        std::lock_guard lock(state_->mutex);
        return state_->queue.size();
    }

    bool is_closed() const {
        if (!state_) return true;
        std::lock_guard lock(state_->mutex);
        return state_->senders == 0;
    }

    // A callback run (on the sending thread, without the lock) after each message and when
    // the last sender goes; for waking a poll loop through an eventfd, for example.
    void set_listener(std::function<void()> listener) {
        if (!state_) return;
        std::lock_guard lock(state_->mutex);
        state_->listener = std::move(listener);
    }

    // Refuses further messages and drops what is queued; senders see Closed.
    void close() {
        if (!state_) return;
        std::deque<T> dropped;
        {
            std::lock_guard lock(state_->mutex);
            state_->receiver_alive = false;
            state_->listener = nullptr;
            dropped.swap(state_->queue);
        }
        state_->not_full.notify_all();
        state_.reset();
    }

private:
    template <typename U>
    friend std::pair<Sender<U>, Receiver<U>> make_bounded_channel(std::size_t capacity);
    explicit Receiver(std::shared_ptr<detail::ChannelState<T>> s) : state_(std::move(s)) {}

    T pop(std::unique_lock<std::mutex>& lock) {
        T value = std::move(state_->queue.front());
        state_->queue.pop_front();
        lock.unlock();
        state_->not_full.notify_one();
        return value;
    }

    std::shared_ptr<detail::ChannelState<T>> state_;
};

template <typename T>
std::pair<Sender<T>, Receiver<T>> make_bounded_channel(std::size_t capacity) {
    auto state = std::make_shared<detail::ChannelState<T>>(capacity);
    return {Sender<T>(state), Receiver<T>(state)};
}

}  // namespace remote

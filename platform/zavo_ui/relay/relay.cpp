#include "zavo_ui/relay/relay.hpp"

#include <pthread.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "zavo_ui/relay/simulation.hpp"

namespace zavo_ui::device_relay {

struct DeviceRelay::Impl {
    explicit Impl(RelayOptions options) : simulation(options) {}

    // Guards the fields up to `stop`.
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<DeviceRequest> inbox;
    std::vector<std::uint64_t> delivered_frames;
    std::deque<DeviceEvent> outbox;
    bool stop = false;

    // Held while the callback runs, so that replacing it waits for a running call.
    std::mutex wake_mutex;
    std::function<void()> wake;

    // Touched by the relay thread only.
    RelaySimulation simulation;
    std::thread thread;

    void run() {
        std::unique_lock lock(mutex);
        while (!stop) {
            auto requests = std::move(inbox);
            inbox.clear();
            auto delivered = std::move(delivered_frames);
            delivered_frames.clear();
            lock.unlock();

            const auto now = RelayClock::now();
            for (const auto& r : requests) simulation.submit(r, now);
            for (auto id : delivered) simulation.frame_delivered(id);
            auto events = simulation.advance(now);
            const auto next = simulation.next_due();

            lock.lock();
            if (!events.empty()) {
                for (auto& e : events) outbox.push_back(std::move(e));
                lock.unlock();
                {
                    std::lock_guard wake_lock(wake_mutex);
                    if (wake) wake();
                }
                lock.lock();
            }
            auto ready = [&] { return stop || !inbox.empty() || !delivered_frames.empty(); };
            if (next)
                changed.wait_until(lock, *next, ready);
            else
                changed.wait(lock, ready);
        }
    }
};

DeviceRelay::DeviceRelay(RelayOptions options) : impl_(std::make_unique<Impl>(options)) {
    impl_->thread = std::thread([impl = impl_.get()] {
        pthread_setname_np(pthread_self(), "zavo-relay");
        impl->run();
    });
}

DeviceRelay::~DeviceRelay() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stop = true;
    }
    impl_->changed.notify_all();
    impl_->thread.join();
}

void DeviceRelay::set_wake(std::function<void()> wake) {
    std::lock_guard wake_lock(impl_->wake_mutex);
    impl_->wake = std::move(wake);
}

void DeviceRelay::exchange(DeviceSessionSink& sink) {
    auto requests = sink.take_device_requests();
    std::deque<DeviceEvent> events;
    {
        std::lock_guard lock(impl_->mutex);
        for (auto& r : requests) impl_->inbox.push_back(std::move(r));
        events.swap(impl_->outbox);
    }
    if (!requests.empty()) impl_->changed.notify_all();
    if (events.empty()) return;

    std::vector<std::uint64_t> frames;
    for (const auto& e : events) {
        if (std::holds_alternative<DeviceEvent::Frame>(e.value)) frames.push_back(e.session_id);
        sink.handle_device_event(e);
    }
    if (frames.empty()) return;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->delivered_frames.insert(impl_->delivered_frames.end(), frames.begin(), frames.end());
    }
    impl_->changed.notify_all();
}

}  // namespace zavo_ui::device_relay

#include "zavo_callstream/picture_pool.hpp"

#include <utility>

namespace zavo_callstream::decoder {

PicturePool::PicturePool(std::size_t max_idle) : state_(std::make_shared<State>()) { state_->max_idle = max_idle; }

PicturePool::Buffer PicturePool::take(std::size_t size) {
    Buffer buffer;
    {
        std::lock_guard lock(state_->mutex);
        auto& idle = state_->idle;
        auto pick = std::find_if(idle.begin(), idle.end(), [size](const Buffer& b) { return b->size() == size; });
        if (pick == idle.end() && !idle.empty()) pick = idle.begin();
        if (pick != idle.end()) {
            buffer = std::move(*pick);
            idle.erase(pick);
        }
    }
    if (!buffer) return std::make_unique<std::vector<std::uint8_t>>(size);
    buffer->resize(size);
    return buffer;
}

PictureBytes PicturePool::share(Buffer buffer) {
    std::weak_ptr<State> pool = state_;
    return PictureBytes(SharedBytes(buffer.release(), [pool](const std::vector<std::uint8_t>* bytes) {
        // Declared first, so that a buffer the pool does not keep is freed after the lock is let go.
        Buffer owned(const_cast<std::vector<std::uint8_t>*>(bytes));
        auto state = pool.lock();
        if (!state) return;
        std::lock_guard lock(state->mutex);
        if (state->idle.size() < state->max_idle) state->idle.push_back(std::move(owned));
    }));
}

std::size_t PicturePool::idle() const {
    std::lock_guard lock(state_->mutex);
    return state_->idle.size();
}

}  // namespace zavo_callstream::decoder

#pragma once
// Byte buffers for decoded pictures, recycled: a picture's buffer goes back to its pool when the
// last holder lets go, and a later picture is written into it without clearing it first.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace zavo_callstream::decoder {

using SharedBytes = std::shared_ptr<const std::vector<std::uint8_t>>;

// The bytes of one picture: shared, and never written while anyone holds them.
class PictureBytes {
public:
    PictureBytes() = default;
    explicit PictureBytes(SharedBytes bytes) : bytes_(std::move(bytes)) {}
    // Bytes of a picture made elsewhere, taken over (moved, not copied) and in no pool.
    PictureBytes(std::vector<std::uint8_t>&& bytes)
        : bytes_(std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes))) {}

    std::size_t size() const { return bytes_ ? bytes_->size() : 0; }
    bool empty() const { return size() == 0; }
    const std::uint8_t* data() const { return bytes_ ? bytes_->data() : nullptr; }
    const std::uint8_t& operator[](std::size_t i) const { return (*bytes_)[i]; }
    const std::uint8_t* begin() const { return data(); }
    const std::uint8_t* end() const { return data() + size(); }

    // The buffer itself, for an image over it (no copy). Moving it out leaves this empty.
    const SharedBytes& shared() const& { return bytes_; }
    SharedBytes shared() && { return std::move(bytes_); }

    friend bool operator==(const PictureBytes& a, const PictureBytes& b) {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
    }

private:
    SharedBytes bytes_;
};

// Keeps at most `max_idle` buffers that nobody holds; others are freed when let go. Buffers
// handed out may outlive the pool.
class PicturePool {
public:
    using Buffer = std::unique_ptr<std::vector<std::uint8_t>>;

    explicit PicturePool(std::size_t max_idle = 2);

    // A buffer of `size` bytes: an idle one when there is one (one of that size first), with
    // whatever bytes it held; else a new one.
    Buffer take(std::size_t size);
    // Hands the buffer out; it is idle again once the last holder lets go.
    PictureBytes share(Buffer buffer);
    std::size_t idle() const;

private:
    struct State {
        std::mutex mutex;
        std::vector<Buffer> idle;
        std::size_t max_idle = 0;
    };
    std::shared_ptr<State> state_;
};

}  // namespace zavo_callstream::decoder

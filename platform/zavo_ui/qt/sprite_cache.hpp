#pragma once
// Small images of rasterised shapes and text lines, kept between frames: what a frame draws
// again (the cards, pills and labels of list rows) is copied instead of rasterised again.
// A key holds everything the pixels depend on. The cache keeps what the current frame uses,
// and at most `budget` bytes in all once a frame has ended: the entries used longest ago go
// first. With a budget of 0 nothing is drawn from sprites.
#include <QImage>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

namespace zavo_ui::qt {

class SpriteCache {
public:
    static constexpr std::size_t kDefaultBudget = std::size_t(4) << 20;

    explicit SpriteCache(std::size_t budget = kDefaultBudget) : budget_(budget) {}

    // The sprite kept under `key`, or null.
    const QImage* find(const std::string& key);
    // Whether a sprite is worth making for `key`, one not kept: true when it was asked for
    // before (in this frame or an earlier one). What is drawn only once, such as a screen of new
    // terminal output, is drawn directly.
    bool asked_before(const std::string& key);
    const QImage& insert(const std::string& key, QImage sprite);
    void end_frame();

    std::size_t budget() const { return budget_; }
    std::size_t bytes() const { return bytes_; }
    std::size_t size() const { return entries_.size(); }

private:
    struct Entry {
        QImage sprite;
        std::uint64_t used = 0;  // the frame that last drew it
    };
    static std::size_t cost(const std::string& key, const QImage& sprite);

    std::unordered_map<std::string, Entry> entries_;
    // Hashes of keys asked for, one a slot by the hash's low bits; a newer key takes the slot.
    std::array<std::size_t, 4096> asked_{};
    std::size_t bytes_ = 0;
    std::size_t budget_;
    std::uint64_t frame_ = 1;
};

}  // namespace zavo_ui::qt

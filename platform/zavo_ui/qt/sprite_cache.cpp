#include "zavo_ui/qt/sprite_cache.hpp"

#include <algorithm>
#include <functional>
#include <vector>

namespace zavo_ui::qt {

std::size_t SpriteCache::cost(const std::string& key, const QImage& sprite) {
    // The map node and the image's header come on top of the pixels and the key.
    return std::size_t(sprite.sizeInBytes()) + key.size() + 128;
}

const QImage* SpriteCache::find(const std::string& key) {
    const auto it = entries_.find(key);
    if (it == entries_.end()) return nullptr;
    it->second.used = frame_;
    return &it->second.sprite;
}

bool SpriteCache::asked_before(const std::string& key) {
    const std::size_t hash = std::hash<std::string>{}(key);
    std::size_t& slot = asked_[hash % asked_.size()];
    if (slot == hash) return true;
    slot = hash;
    return false;
}

const QImage& SpriteCache::insert(const std::string& key, QImage sprite) {
    auto [it, added] = entries_.try_emplace(key);
    if (!added) bytes_ -= cost(key, it->second.sprite);
    bytes_ += cost(key, sprite);
    it->second = Entry{std::move(sprite), frame_};
    return it->second.sprite;
}

void SpriteCache::end_frame() {
    if (bytes_ > budget_) {
        // Down to three quarters of the budget, so that the next frames add without sorting again.
        std::vector<std::pair<std::uint64_t, const std::string*>> old;
        for (const auto& [key, entry] : entries_)
            if (entry.used < frame_) old.emplace_back(entry.used, &key);
        std::sort(old.begin(), old.end());
        const std::size_t goal = budget_ / 4 * 3;
        for (const auto& [used, key] : old) {
            if (bytes_ <= goal) break;
            const auto it = entries_.find(*key);
            bytes_ -= cost(it->first, it->second.sprite);
            entries_.erase(it);
        }
    }
    ++frame_;
}

}  // namespace zavo_ui::qt

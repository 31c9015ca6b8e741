#include "zavo_ui/qt/sprite_cache.hpp"

#include <gtest/gtest.h>

#include <string>

namespace zavo_ui::qt {
namespace {

QImage sprite(int side) { return QImage(side, side, QImage::Format_ARGB32_Premultiplied); }

// Over budget after a frame, the sprites drawn longest ago go first, down to three quarters
// of the budget; what the ended frame drew stays even when it alone is over budget.
TEST(SpriteCache, DropsWhatWasDrawnLongestAgoOnceOverBudget) {
    const std::size_t one = std::size_t(sprite(32).sizeInBytes());
    SpriteCache cache(5 * one);
    for (const char* key : {"a", "b", "c", "d"}) cache.insert(key, sprite(32));
    cache.end_frame();
    ASSERT_NE(cache.find("a"), nullptr);  // drawn again in the second frame
    cache.insert("e", sprite(32));
    cache.insert("f", sprite(32));
    cache.end_frame();
    EXPECT_LE(cache.bytes(), 5 * one * 3 / 4 + 256);
    EXPECT_NE(cache.find("a"), nullptr);
    EXPECT_NE(cache.find("e"), nullptr);
    EXPECT_NE(cache.find("f"), nullptr);
    EXPECT_EQ(cache.find("b"), nullptr);
    EXPECT_EQ(cache.find("c"), nullptr);
    cache.end_frame();

    for (int i = 0; i < 10; ++i) cache.insert("big" + std::to_string(i), sprite(32));
    cache.end_frame();
    EXPECT_EQ(cache.size(), 10u) << "the frame's own sprites were dropped";
    cache.end_frame();
    EXPECT_LE(cache.bytes(), 5 * one);
}

TEST(SpriteCache, SpritesAreWorthMakingForWhatWasAskedForBefore) {
    SpriteCache cache;
    EXPECT_FALSE(cache.asked_before("label"));
    EXPECT_TRUE(cache.asked_before("label")) << "asked again in the frame";
    EXPECT_FALSE(cache.asked_before("other"));
    cache.end_frame();
    EXPECT_TRUE(cache.asked_before("other")) << "asked again in the next frame";
}

TEST(SpriteCache, CountsWhatItHolds) {
    SpriteCache cache;
    cache.insert("a", sprite(10));
    cache.insert("a", sprite(20));  // made again: replaces
    EXPECT_EQ(cache.size(), 1u);
    EXPECT_GE(cache.bytes(), std::size_t(sprite(20).sizeInBytes()));
    EXPECT_LT(cache.bytes(), std::size_t(sprite(20).sizeInBytes() + sprite(10).sizeInBytes()));
    EXPECT_EQ(cache.find("a")->width(), 20);
}

}  // namespace
}  // namespace zavo_ui::qt

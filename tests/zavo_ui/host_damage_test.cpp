// Where a frame's scene differs from the one shown, with the fake renderer's fixed text metrics.
#include "zavo_ui/host/damage.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

namespace zavo_ui::host {
namespace {

constexpr Color kGrey = Color::from_hex(0x202020);
constexpr Color kRed = Color::from_hex(0xFF0000);

// A window's ground, a card clipped to a viewport with a text on it, a frame around it all, and
// what comes after.
struct Look {
    Color card = kRed;
    Rect viewport{0, 50, 400, 300};
    const char* text = "Hello";  // 40 x 20 with the fake metrics
    double frame_width = 2;
    std::vector<Rect> after;
};

Scene scene_of(const Look& look) {
    const text_render::FakeTextRenderer text;
    Scene s;
    s.fill_color(Affine::identity(), kGrey, Rect{0, 0, 400, 300});
    s.push_clip(Affine::identity(), look.viewport);
    s.fill_color(Affine::identity(), look.card, Rect{20, 40, 200, 100});
    text.draw_text(s, Affine::translate(30, 60), look.text, 16, kGrey);
    s.pop_layer();
    s.stroke_color(Affine::identity(), Stroke::of_width(look.frame_width), kRed, Rect{10, 10, 390, 290});
    for (const Rect& r : look.after) s.fill_color(Affine::identity(), kRed, r);
    return s;
}

TEST(SceneDamage, CoversWhatChangedAndNothingElse) {
    const text_render::FakeTextRenderer text;
    const double r2 = std::sqrt(2.0);  // a stroke's square caps reach half its width times this
    const Rect tip{300, 200, 340, 220};
    const Rect dot{0, 0, 1, 1};
    using Edit = std::function<void(Look&)>;
    const Edit same = [](Look&) {};
    struct Case {
        const char* what;
        Edit shown, next;
        std::vector<Rect> expected;
    } cases[] = {
        {"the same scene", same, same, {}},
        {"a fill of another colour, cut by its clip", same, [](Look& l) { l.card = kGrey; }, {{19, 49, 201, 101}}},
        {"an item added at the end, as a tooltip is", same, [&](Look& l) { l.after = {tip}; }, {{299, 199, 341, 221}}},
        {"an item taken out in the middle, as a hover outline is", [&](Look& l) { l.after = {tip, dot}; },
         [&](Look& l) { l.after = {dot}; }, {{299, 199, 341, 221}}},
        {"a text changed: its measured box and margin", same, [](Look& l) { l.text = "Hellx"; }, {{23, 53, 77, 87}}},
        {"a stroke's width: the reach of its edges", same, [](Look& l) { l.frame_width = 4; },
         {{9 - 2 * r2, 9 - 2 * r2, 391 + 2 * r2, 291 + 2 * r2}}},
        {"a clip that moves: what it let through before and after", same,
         [](Look& l) { l.viewport = {0, 60, 400, 300}; }, {{-1, 49, 401, 301}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Look shown, next;
        c.shown(shown);
        c.next(next);
        EXPECT_EQ(scene_damage(scene_of(shown), scene_of(next), text), c.expected);
    }
}

TEST(SceneDamage, AnEqualItemUnderOtherLayersIsRepainted) {
    const text_render::FakeTextRenderer text;
    const Rect big{0, 0, 100, 100};
    Scene shown, next;
    shown.push_clip(Affine::identity(), Rect{0, 0, 50, 50});
    shown.fill_color(Affine::identity(), kRed, big);
    shown.pop_layer();
    next.fill_color(Affine::identity(), kGrey, Rect{200, 200, 210, 210});
    next.fill_color(Affine::identity(), kRed, big);
    next.fill_color(Affine::identity(), kGrey, Rect{300, 300, 310, 310});
    const auto damage = scene_damage(shown, next, text);
    EXPECT_NE(std::find(damage.begin(), damage.end(), Rect{-1, -1, 101, 101}), damage.end());
}

TEST(MergeRects, JoinsOverlapsThenTheClosestUntilFewEnough) {
    EXPECT_EQ(merge_rects({{0, 0, 10, 10}, {5, 5, 20, 20}, {}}, 4), (std::vector<Rect>{{0, 0, 20, 20}}));
    const std::vector<Rect> apart{{0, 0, 10, 10}, {100, 0, 110, 10}, {200, 0, 210, 10}, {0, 200, 10, 210},
                                  {110 + 2, 0, 120, 10}};
    const auto merged = merge_rects(apart, 4);
    ASSERT_EQ(merged.size(), 4u);
    EXPECT_NE(std::find(merged.begin(), merged.end(), Rect{100, 0, 120, 10}), merged.end())
        << "the two nearest became one";
    for (const Rect& r : apart) {
        EXPECT_TRUE(std::any_of(merged.begin(), merged.end(), [&](const Rect& m) { return m.intersect(r) == r; }))
            << "a rectangle was left uncovered";
    }
}

}  // namespace
}  // namespace zavo_ui::host

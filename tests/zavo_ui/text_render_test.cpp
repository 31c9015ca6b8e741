#include "zavo_ui/text_render.hpp"

#include <gtest/gtest.h>

using namespace zavo_ui;
using text_render::FakeTextRenderer;
using text_render::TextMetrics;

TEST(FakeTextRenderer, FixedMetrics) {
    FakeTextRenderer r;
    EXPECT_EQ(r.measure("Hg", 16), (TextMetrics{16, 20}));
    EXPECT_EQ(r.measure_weighted("Connect", 13, 2), (TextMetrics{45.5, 16.25}));
    EXPECT_EQ(r.measure("", 12), (TextMetrics{0, 15}));
    EXPECT_EQ(r.measure("é…", 10).width, 10.0);  // code points, not bytes
    EXPECT_EQ(r.measure_styled("ab", TextStyle{14, 0, std::nullopt, FontFamily::Mono}).width, 14 * 0.6 * 2);
    EXPECT_EQ(r.measure("ab\ncdef", 10), (TextMetrics{20, 25}));
}

TEST(FakeTextRenderer, TextScaleAppliesToMeasureAndDraw) {
    FakeTextRenderer r(1.5f);
    EXPECT_EQ(r.measure("Hg", 16), (TextMetrics{24, 30}));
    Scene scene;
    r.draw_text(scene, {}, "x", 10, colors::WHITE);
    auto& item = std::get<scene_item::TextItem>(scene.items()[0]);
    EXPECT_EQ(item.style.size, 10.0f);
    EXPECT_EQ(item.pixel_size, 15.0f);
}

TEST(FakeTextRenderer, WrapsGreedilyAtSpaces) {
    FakeTextRenderer r;  // 10 px text: 5 px per character, 12.5 px per line
    struct Case {
        const char* text;
        double wrap;
        TextMetrics expect;
    } cases[] = {
        {"aaa bbb ccc", 35, {35, 25}},      // "aaa bbb" fits exactly, "ccc" wraps
        {"aaa bbb ccc", 34.9, {15, 37.5}},  // one word per line
        {"aaaaaaaa bb", 20, {40, 25}},      // a word wider than the width overflows on its own line
        {"aaa bbb", 1000, {35, 12.5}},     {"", 10, {0, 12.5}},
        {"aa\nbb cc", 25, {25, 25}},  // explicit line breaks are kept
    };
    for (const auto& c : cases) {
        EXPECT_EQ(r.measure(c.text, 10, c.wrap), c.expect) << c.text << " @ " << c.wrap;
    }
}

TEST(TextRenderer, DefaultCaretOffsetsMeasurePrefixes) {
    // A renderer that only measures: the base class derives the caret offsets.
    struct Measuring : text_render::TextRenderer {
        TextMetrics measure_styled(std::string_view t, const TextStyle& s) const override {
            return {double(t.size()) * s.size, s.size};  // bytes, so multi-byte characters are visible
        }
        float text_scale() const override { return 1.0f; }
    } m;
    auto offsets = m.caret_offsets("aé", TextStyle::of_size(1.0f));
    ASSERT_EQ(offsets.size(), 3u);  // before a, between, after é
    EXPECT_EQ(offsets[1], 1.0);
    EXPECT_EQ(offsets[2], 3.0);

    FakeTextRenderer fake;
    EXPECT_EQ(fake.caret_offsets("aé", TextStyle::of_size(10.0f)), (std::vector<double>{0, 5, 10}));
    EXPECT_EQ(fake.caret_offsets("", TextStyle::of_size(10.0f)), (std::vector<double>{0}));
}

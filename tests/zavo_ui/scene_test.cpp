#include "zavo_ui/recording_backend.hpp"
#include "zavo_ui/scene.hpp"
#include "zavo_ui/text_render.hpp"

#include <gtest/gtest.h>

#include <set>
#include <thread>

using namespace zavo_ui;
using text_render::FakeTextRenderer;

TEST(Affine, ComposesRightToLeft) {
    Affine base = Affine::scale(2.0);
    Affine t = base * Affine::translate(10, 5);  // translate first, then scale
    EXPECT_EQ(t.apply({1, 1}), (Point{22, 12}));
    EXPECT_EQ(base.pre_translate(10, 5), t);
    EXPECT_EQ(base.then_translate(10, 5).apply({1, 1}), (Point{12, 7}));
}

TEST(RoundedRect, RadiusClampedToHalfShorterSideAndCornersOrdered) {
    auto r = RoundedRect::from_rect({100, 50, 0, 40}, 12);
    EXPECT_EQ(r.rect, (Rect{0, 40, 100, 50}));
    EXPECT_EQ(r.radii[0], 5.0);
    EXPECT_TRUE(r.uniform());
    EXPECT_EQ(RoundedRect::from_rect({0, 0, 100, 100}, 8).radii[2], 8.0);
}

TEST(Rect, ContainsIsHalfOpen) {
    Rect r{0, 0, 10, 10};
    EXPECT_TRUE(r.contains({0, 0}));
    EXPECT_TRUE(r.contains({9.999, 9.999}));
    EXPECT_FALSE(r.contains({10, 5}));
    EXPECT_FALSE(r.contains({5, 10}));
}

TEST(Scene, RecordsWhatWasDrawnWhereUnderClips) {
    Scene scene;
    FakeTextRenderer text;
    Affine base = Affine::translate(100, 0);
    scene.fill_color(base, Color::from_hex(0x112233), Rect{0, 0, 50, 20});
    scene.push_clip(base, Rect{0, 0, 40, 40});
    scene.stroke_color(base, Stroke::of_width(2.0), colors::WHITE, Circle{{10, 10}, 5});
    scene.push_clip(Affine::identity(), Rect{120, 0, 200, 200});
    text.draw_text_weighted(scene, base.pre_translate(4, 6), "Hi", 16, 2, colors::WHITE);
    scene.pop_layer();
    scene.pop_layer();
    scene.pop_layer();  // unbalanced: ignored

    auto rec = RecordingBackend::of(scene, &text);
    ASSERT_EQ(rec.records().size(), 3u);
    const auto& fill = rec.records()[0];
    EXPECT_EQ(fill.kind, DrawRecord::Kind::Fill);
    EXPECT_EQ(fill.bounds, (Rect{100, 0, 150, 20}));
    EXPECT_EQ(fill.color, Color::from_hex(0x112233));
    EXPECT_FALSE(fill.clip);

    const auto& stroke = rec.records()[1];
    EXPECT_EQ(stroke.bounds, (Rect{105, 5, 115, 15}));
    EXPECT_EQ(stroke.stroke_width, 2.0);
    EXPECT_EQ(stroke.clip, (Rect{100, 0, 140, 40}));

    const DrawRecord* hi = rec.find_text("Hi");
    ASSERT_NE(hi, nullptr);
    EXPECT_EQ(hi->bounds, (Rect{104, 6, 120, 26}));  // 2 x 8 px wide, 20 high
    EXPECT_EQ(hi->style.weight, 2);
    EXPECT_EQ(hi->clip, (Rect{120, 0, 140, 40}));
    EXPECT_EQ(hi->layer_depth, 2);
    EXPECT_EQ(rec.max_depth(), 2);
    EXPECT_EQ(scene.open_layers(), 0);
}

TEST(Scene, ReplayClosesLayersLeftOpen) {
    struct Counter : RecordingBackend {
        int pops = 0;
        void pop_layer() override {
            ++pops;
            RecordingBackend::pop_layer();
        }
    } counter;
    Scene scene;
    scene.push_clip({}, Rect{0, 0, 1, 1});
    scene.push_clip({}, Rect{0, 0, 1, 1});
    scene.pop_layer();
    replay(scene, counter);
    EXPECT_EQ(counter.pops, 2);
}

TEST(Image, SharesPixelsAndTakesFreshIds) {
    auto pixels = std::make_shared<const std::vector<std::uint8_t>>(4 * 2 * 2, 255);
    Image a = Image::from_shared(pixels, 2, 2);
    Image b = Image::from_shared(pixels, 2, 2);
    EXPECT_EQ(a.data.get(), pixels.get());
    EXPECT_NE(a.blob_id, b.blob_id);
    EXPECT_NE(a.blob_id, 0u);
    EXPECT_TRUE(a.is_valid());
    EXPECT_FALSE(Image::from_shared(pixels, 3, 2).is_valid());

    std::vector<std::uint8_t> moved(16, 1);
    const std::uint8_t* raw = moved.data();
    Image m = Image::from_vector(std::move(moved), 2, 2);
    EXPECT_EQ(m.data->data(), raw);  // moved into the blob, not copied

    Scene scene;
    scene.fill(Fill::NonZero, {}, ImageBrush{a}, Affine::scale(2), Rect{0, 0, 4, 4});
    auto rec = RecordingBackend::of(scene);
    EXPECT_EQ(rec.records()[0].kind, DrawRecord::Kind::Image);
    EXPECT_EQ(rec.records()[0].image_blob_id, a.blob_id);
    EXPECT_EQ(pixels.use_count(), 4);  // ours, a, b and the scene's brush; records keep only the id
}

TEST(Image, BlobIdsUniqueAcrossThreads) {
    std::vector<std::uint64_t> ids(4000);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 1000; ++i) ids[t * 1000 + i] = next_blob_id();
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(std::set<std::uint64_t>(ids.begin(), ids.end()).size(), ids.size());
}

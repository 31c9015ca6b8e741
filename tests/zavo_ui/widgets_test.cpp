#include <gtest/gtest.h>

#include "zavo_ui/button.hpp"
#include "zavo_ui/nav_split.hpp"
#include "zavo_ui/recording_backend.hpp"
#include "zavo_ui/toggle_group.hpp"
#include "zavo_ui/tooltip.hpp"

namespace {

using namespace zavo_ui;
using namespace std::chrono_literals;
using text_render::FakeTextRenderer;
using widget::button::Button;
using widget::nav_split::FlapState;
using widget::toggle_group::ToggleGroup;
using widget::tooltip::HoverTarget;
using widget::tooltip::TooltipHost;

// The colour a translucent fill shows over an opaque ground.
Color over(const Color& top, const Color& ground) { return ground.mix(top.with_alpha(1.0f), top.a).with_alpha(1.0f); }

TEST(Button, EveryStyleKeepsItsLabelReadableAndCentred) {
    FakeTextRenderer text;
    auto theme = theme::Theme::dark();
    for (std::uint8_t style : {0, 1, 2, 4, 3}) {
        for (bool hovered : {false, true}) {
            SCOPED_TRACE(testing::Message() << "style " << int(style) << " hovered " << hovered);
            Scene scene;
            Button{"Delete", {10, 10, 130, 50}, hovered, 13.0f, style}.paint(scene, {}, text, theme);
            auto rec = RecordingBackend::of(scene, &text);
            const DrawRecord* label = rec.find_text("Delete");
            ASSERT_NE(label, nullptr);
            EXPECT_EQ(label->style.size, 13.0f);
            EXPECT_EQ(label->style.weight, 2);
            EXPECT_DOUBLE_EQ(label->bounds.center().x, 70.0);
            EXPECT_DOUBLE_EQ(label->bounds.center().y, 30.0);
            Color fill = over(*rec.records()[0].color, theme.colors.surface);
            EXPECT_GE(theme::contrast_ratio(*label->color, fill), 4.5);
        }
    }
    // Hovering changes the look; the destructive styles use the danger colour.
    Scene a, b, d, o;
    Button{"x", {0, 0, 10, 10}, false, 13.0f, 0}.paint(a, {}, text, theme);
    Button{"x", {0, 0, 10, 10}, true, 13.0f, 0}.paint(b, {}, text, theme);
    EXPECT_NE(RecordingBackend::of(a).records()[0].color, RecordingBackend::of(b).records()[0].color);
    Button{"x", {0, 0, 10, 10}, false, 13.0f, 2}.paint(d, {}, text, theme);
    EXPECT_EQ(RecordingBackend::of(d).records()[0].color, theme.colors.danger);
    Button{"x", {0, 0, 10, 10}, false, 13.0f, 4}.paint(o, {}, text, theme);
    auto outline = RecordingBackend::of(o);
    EXPECT_EQ(outline.records()[1].kind, DrawRecord::Kind::Stroke);
    EXPECT_EQ(outline.find_text("x")->color, theme.colors.danger);
}

TEST(ToggleGroup, SelectionHoverAndNone) {
    FakeTextRenderer text;
    auto theme = theme::Theme::dark();
    auto paint = [&](std::size_t selected, std::optional<std::size_t> hovered) {
        Scene scene;
        ToggleGroup g;
        g.segments = {{0, 0, 100, 40}, {100, 0, 200, 40}, {200, 0, 300, 40}};
        g.labels = {"SSH", "VNC", "Zavo"};
        g.selected = selected;
        g.hovered = hovered;
        g.paint(scene, {}, text, theme);
        return RecordingBackend::of(scene, &text);
    };
    auto accent_strokes = [&](const RecordingBackend& r) {
        int n = 0;
        for (auto* s : r.of_kind(DrawRecord::Kind::Stroke))
            if (s->color && s->color->r == theme.colors.accent.r && s->color->a < 1.0f) ++n;
        return n;
    };

    auto one = paint(1, std::nullopt);
    EXPECT_EQ(accent_strokes(one), 1);
    EXPECT_EQ(one.find_text("VNC")->color, theme.colors.text_primary);
    EXPECT_EQ(one.find_text("VNC")->style.weight, 2);
    EXPECT_EQ(one.find_text("SSH")->color, theme.colors.text_secondary);
    EXPECT_DOUBLE_EQ(one.find_text("VNC")->bounds.center().x, 150.0);
    // The track spans all segments.
    EXPECT_EQ(one.records()[0].bounds, (Rect{0, 0, 300, 40}));

    auto none = paint(3, 2);  // the count selects none
    EXPECT_EQ(accent_strokes(none), 0);
    EXPECT_EQ(none.find_text("Zavo")->color, theme.colors.text_primary);  // hovered
    EXPECT_EQ(none.find_text("SSH")->color, theme.colors.text_secondary);
}

TEST(TooltipHost, ShowsAfterTheDelayAndFollowsThePointer) {
    TooltipHost host;
    EXPECT_EQ(host.delay(), 500ms);
    auto t0 = std::chrono::steady_clock::now();
    HoverTarget a{{0, 0, 10, 10}, "Connections"};
    HoverTarget b{{0, 20, 10, 30}, "Add connection (Ctrl+N)"};

    EXPECT_TRUE(host.on_pointer(a, t0));
    EXPECT_TRUE(host.pending());
    EXPECT_FALSE(host.on_pointer(a, t0 + 300ms));  // same target: the timer runs on
    EXPECT_FALSE(host.tick(t0 + 499ms));
    EXPECT_EQ(host.showing(), nullptr);
    EXPECT_TRUE(host.tick(t0 + 500ms));
    ASSERT_NE(host.showing(), nullptr);
    EXPECT_EQ(host.showing()->text, "Connections");
    EXPECT_FALSE(host.pending());
    EXPECT_FALSE(host.tick(t0 + 900ms));

    // Another target hides it and starts over.
    EXPECT_TRUE(host.on_pointer(b, t0 + 1s));
    EXPECT_FALSE(host.shown());
    EXPECT_FALSE(host.tick(t0 + 1400ms));
    EXPECT_TRUE(host.tick(t0 + 1500ms));

    // Dismissed while resting on it: it stays away until the pointer leaves.
    EXPECT_TRUE(host.dismiss());
    EXPECT_FALSE(host.dismiss());
    EXPECT_FALSE(host.on_pointer(b, t0 + 2s));
    EXPECT_FALSE(host.pending());
    EXPECT_FALSE(host.tick(t0 + 5s));
    EXPECT_FALSE(host.on_pointer(std::nullopt, t0 + 6s));
    EXPECT_TRUE(host.on_pointer(b, t0 + 7s));
    EXPECT_TRUE(host.pending());

    // Leaving every target while one shows is a change.
    host.tick(t0 + 8s);
    EXPECT_TRUE(host.on_pointer(std::nullopt, t0 + 9s));
    EXPECT_FALSE(host.shown());
}

TEST(Tooltip, BubbleStaysInsideTheWindow) {
    FakeTextRenderer text;  // 12 px: 6 px per character, 15 px lines
    auto theme = theme::Theme::dark();
    Rect window{0, 0, 400, 300};
    // "Connections": 66 + 16 wide, 25 high, centred under the anchor.
    Rect below = widget::tooltip::tooltip_rect(text, {100, 100, 140, 140}, "Connections", window);
    EXPECT_EQ(below, (Rect{79, 146, 161, 171}));
    Rect above = widget::tooltip::tooltip_rect(text, {100, 260, 140, 290}, "Connections", window);
    EXPECT_DOUBLE_EQ(above.y1, 254);
    Rect right = widget::tooltip::tooltip_rect(text, {380, 100, 400, 120}, "Connections", window);
    EXPECT_DOUBLE_EQ(right.x1, 392);
    Rect left = widget::tooltip::tooltip_rect(text, {0, 100, 10, 120}, "Connections", window);
    EXPECT_DOUBLE_EQ(left.x0, 8);

    Scene scene;
    widget::tooltip::draw_hover_tooltip(scene, {}, text, theme, {100, 100, 140, 140}, "Connections", window);
    auto rec = RecordingBackend::of(scene, &text);
    EXPECT_EQ(rec.records()[0].bounds, below);
    EXPECT_EQ(rec.find_text("Connections")->bounds.x0, 87);
}

TEST(FlapState, EasedRevealAndSlide) {
    FlapState flap;
    EXPECT_EQ(flap.progress, 1.0);
    struct {
        double progress, reveal, slide;
    } cases[] = {{0.0, 0.0, 0.0}, {1.0, 1.0, 1.0}, {0.5, 0.5, 0.875}, {-0.2, 0.0, 0.0}, {1.3, 1.0, 1.0}};
    for (auto c : cases) {
        flap.set_progress(c.progress);
        EXPECT_DOUBLE_EQ(flap.reveal(), c.reveal) << c.progress;
        EXPECT_DOUBLE_EQ(flap.slide(), c.slide) << c.progress;
    }
    double last_r = -1, last_s = -1;
    for (int i = 0; i <= 100; ++i) {
        FlapState f(i / 100.0);
        EXPECT_GE(f.reveal(), last_r);
        EXPECT_GE(f.slide(), last_s);
        last_r = f.reveal();
        last_s = f.slide();
    }
}

}  // namespace

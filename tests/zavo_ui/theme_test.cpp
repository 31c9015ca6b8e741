#include "zavo_ui/recording_backend.hpp"
#include "zavo_ui/surface.hpp"
#include "zavo_ui/theme.hpp"

#include <gtest/gtest.h>

using namespace zavo_ui;
using theme::contrast_ratio;

TEST(Contrast, KnownRatios) {
    EXPECT_NEAR(contrast_ratio(colors::BLACK, colors::WHITE), 21.0, 1e-9);
    EXPECT_NEAR(contrast_ratio(colors::WHITE, colors::WHITE), 1.0, 1e-9);
    // #767676 on white is the classic 4.54:1.
    EXPECT_NEAR(contrast_ratio(Color::from_hex(0x767676), colors::WHITE), 4.54, 0.01);
}

TEST(DarkTheme, TextReachesAaOnEveryGround) {
    auto t = theme::Theme::dark();
    const auto& c = t.colors;
    struct Ground {
        const char* name;
        Color color;
    } grounds[] = {
        {"background", c.background},
        {"surface", c.surface},
        {"panel", chrome::shell::panel_ground(t)},
        {"hover", c.lift(0.5f)},
        {"selected", surface::edge_on(c.surface)},
    };
    struct Ink {
        const char* name;
        Color color;
    } inks[] = {
        {"text_primary", c.text_primary},
        {"text_secondary", c.text_secondary},
        // Also drawn as label text (chips, pills, status lines).
        {"success", c.success},
        {"warning", c.warning},
        {"danger", c.danger},
        {"info", c.info},
        {"accent", c.accent},
        {"device_accent", c.device_accent},
    };
    for (const auto& g : grounds)
        for (const auto& i : inks) EXPECT_GE(contrast_ratio(i.color, g.color), 4.5) << i.name << " on " << g.name;
    EXPECT_GE(contrast_ratio(c.text_primary, c.surface), 7.0);

    auto term = tokens::terminal_palette::TerminalPalette::dark();
    EXPECT_GE(contrast_ratio(term.foreground, term.background), 7.0);
    for (int i = 1; i < 16; ++i)
        if (i != 8) {
            EXPECT_GE(contrast_ratio(term.colors[i], term.background), 4.5) << "colour " << i;
        }
}

TEST(DarkTheme, EdgesAndLiftStandOutFromTheirGround) {
    auto t = theme::Theme::dark();
    const auto& c = t.colors;
    double base = theme::relative_luminance(c.surface);
    EXPECT_GT(theme::relative_luminance(surface::edge_on(c.surface)), base);
    EXPECT_GT(theme::relative_luminance(surface::edge_on_with(c.surface, 92)),
              theme::relative_luminance(surface::edge_on(c.surface)));
    EXPECT_GT(theme::relative_luminance(c.lift(0.5f)), base);
    EXPECT_EQ(c.lift(0.0f), c.surface);
    // On a light colour the edge darkens.
    EXPECT_LT(theme::relative_luminance(surface::edge_on(colors::WHITE)), 1.0);
    EXPECT_GT(contrast_ratio(chrome::shell::panel_border(t), chrome::shell::panel_ground(t)), 1.2);
    EXPECT_GT(contrast_ratio(chrome::shell::chrome_hairline(t), c.surface), 1.2);
}

TEST(Surface, CardAndPillShapes) {
    Scene scene;
    Color fill = Color::from_hex(0x202020);
    surface::card(scene, {}, {10, 10, 110, 50}, fill, 12);
    surface::pill(scene, {}, {0, 0, 60, 20}, fill);                      // no border, round ends
    surface::pill(scene, {}, {0, 0, 60, 20}, fill, colors::WHITE, 8.0);  // border, radius 8
    auto rec = RecordingBackend::of(scene);
    ASSERT_EQ(rec.records().size(), 5u);
    EXPECT_EQ(std::get<RoundedRect>(rec.records()[0].shape), RoundedRect::from_rect({10, 10, 110, 50}, 12));
    EXPECT_EQ(rec.records()[1].kind, DrawRecord::Kind::Stroke);
    EXPECT_EQ(std::get<RoundedRect>(rec.records()[1].shape), RoundedRect::from_rect({10.5, 10.5, 109.5, 49.5}, 11.5));
    EXPECT_EQ(std::get<RoundedRect>(rec.records()[2].shape).radii[0], 10.0);
    EXPECT_EQ(rec.records()[3].kind, DrawRecord::Kind::Fill);
    EXPECT_EQ(rec.records()[4].color, colors::WHITE);
    EXPECT_EQ(std::get<RoundedRect>(rec.records()[4].shape).radii[0], 7.5);
    // A degenerate rectangle gives a degenerate outline, never an inverted one.
    auto tiny = surface::edge_outline({0, 0, 0.4, 10}, 4);
    EXPECT_LE(tiny.rect.x0, tiny.rect.x1);
}

#include "zavo_ui/qt/text_engine.hpp"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <string>

#include "qt_test_app.hpp"
#include "zavo_ui/qt/qt_text_renderer.hpp"

namespace zavo_ui::qt {
namespace {

class QtText : public ::testing::Test {
protected:
    void SetUp() override { testing::offscreen_app(); }
    TextEngine engine;
    QtTextRenderer text{engine};
};

TEST_F(QtText, DebianFontsAreUsed) {
    EXPECT_TRUE(TextEngine::ui_font_available()) << "fonts-inter is not installed";
    EXPECT_TRUE(TextEngine::mono_font_available()) << "fonts-dejavu-core is not installed";
}

TEST_F(QtText, MonospaceAdvanceAt14PxIsCloseTo8Point4) {
    const TextStyle mono{14, 0, std::nullopt, FontFamily::Mono};
    EXPECT_NEAR(text.measure_styled("M", mono).width, 8.4, 0.1);
    EXPECT_NEAR(text.measure_styled(std::string(80, 'i'), mono).width, 80 * 8.4, 80 * 0.1);
}

TEST_F(QtText, SizeWeightScaleAndWrappingChangeTheBox) {
    const std::string s = "Remote Machines";
    const auto regular = text.measure(s, 13);
    EXPECT_GT(text.measure_weighted(s, 13, 3).width, regular.width);
    EXPECT_LT(text.measure(s, 12.5f).width, regular.width);
    EXPECT_GT(text.measure(s, 13.5f).width, regular.width);
    EXPECT_NEAR(text.measure(s, 26).width, 2 * regular.width, 0.05 * regular.width);
    EXPECT_GT(regular.height, 13);
    EXPECT_LT(regular.height, 20);

    const auto wrapped = text.measure(s, 13, regular.width * 0.7);
    EXPECT_DOUBLE_EQ(wrapped.height, 2 * regular.height);
    EXPECT_LE(wrapped.width, regular.width * 0.7);
    EXPECT_DOUBLE_EQ(text.measure("Remote\nMachines", 13).height, 2 * regular.height);
    const auto empty = text.measure("", 13);
    EXPECT_EQ(empty.width, 0);
    EXPECT_DOUBLE_EQ(empty.height, regular.height);

    QtTextRenderer larger(engine, 1.5f);
    EXPECT_NEAR(larger.measure(s, 13).width, 1.5 * regular.width, 0.05 * regular.width);
}

TEST_F(QtText, CaretOffsetsFollowEveryCodePoint) {
    const TextStyle style{14, 0, std::nullopt, FontFamily::Sans};
    const std::string s = "aé€𝄞b";  // 1, 2, 3 and 4 UTF-8 bytes
    const auto offsets = text.caret_offsets(s, style);
    ASSERT_EQ(offsets.size(), 6u);
    EXPECT_EQ(offsets.front(), 0.0);
    for (std::size_t i = 1; i < offsets.size(); ++i) EXPECT_GT(offsets[i], offsets[i - 1]) << i;
    EXPECT_NEAR(offsets.back(), text.measure_styled(s, style).width, 0.5);
    EXPECT_NEAR(offsets[1], text.measure_styled("a", style).width, 0.5);
}

// A line drawn again comes from the shaped-line cache, also after the cache was emptied: it
// looks the same as the first time, at whole and fractional sizes.
TEST_F(QtText, LinesDrawnAgainLookTheSame) {
    auto draw = [&](std::string_view line, float size) {
        QImage image(240, 40, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::black);
        QPainter painter(&image);
        engine.draw_line(painter, QPointF(3.4, 5), line, FontFamily::Mono, size, 3, Qt::white);
        painter.end();
        return image;
    };
    for (const float size : {14.0f, 12.5f}) {
        const QImage first = draw("root@host:~# ls -la", size);
        EXPECT_NE(first, draw("root@host:~# ls -lb", size));
        EXPECT_EQ(first, draw("root@host:~# ls -la", size));
        for (int i = 0; i < 5000; ++i) draw(std::to_string(i), size);
        EXPECT_EQ(first, draw("root@host:~# ls -la", size));
    }
}

// Measured widths are kept as well; past the cache's bound they are measured afresh.
TEST_F(QtText, MeasuresStayTheSameAcrossTheWidthCache) {
    const double first = text.measure("Build box 1", 13).width;
    for (int i = 0; i < 5000; ++i) text.measure("line " + std::to_string(i), 13);
    EXPECT_EQ(text.measure("Build box 1", 13).width, first);
    EXPECT_LT(text.measure("Build box 1", 12.5f).width, first);
}

}  // namespace
}  // namespace zavo_ui::qt

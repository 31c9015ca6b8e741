#include "zavo_ui/qt/text_engine.hpp"

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QGlyphRun>
#include <QImage>
#include <QPainter>
#include <QRawFont>
#include <QTextLayout>

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
    TextStyle oblique{14, 0, std::nullopt, FontFamily::Mono};
    oblique.italic = true;
    EXPECT_EQ(QFontInfo(engine.font(oblique, 14)).styleName(), "Oblique") << "fonts-dejavu-extra is not installed";
}

// The terminal's family advances one grid cell (0.6 em) per character, in every face and at
// fractional sizes, so a run of text stays on the grid to its last column (within Qt's 1/64 px
// advances: half a pixel over 80 columns).
TEST_F(QtText, MonospaceAdvancesExactlyPointSixEm) {
    for (const float size : {14.0f, 12.5f, 17.5f}) {
        for (const auto& [weight, italic] : {std::pair{0, false}, {3, false}, {0, true}, {3, true}}) {
            TextStyle mono{size, std::uint8_t(weight), std::nullopt, FontFamily::Mono};
            mono.italic = italic;
            EXPECT_NEAR(text.measure_styled(std::string(80, 'i'), mono).width, 80 * 0.6 * size, 0.65)
                << size << " " << weight << " " << italic;
        }
    }
}

// Characters the terminal's font lacks are drawn from the fallback fonts: a glyph, not the box
// of a character no font has; emoji in colour.
TEST_F(QtText, CjkAndEmojiComeFromFallbackFonts) {
    const TextStyle mono{14, 0, std::nullopt, FontFamily::Mono};
    auto draw = [&](std::string_view line) {
        QImage image(40, 30, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::black);
        QPainter painter(&image);
        engine.draw_line(painter, QPointF(2, 4), line, mono, 14, Qt::white);
        painter.end();
        return image;
    };
    const QImage missing = draw("\U0010FFFD");
    for (const char* s : {"日", "語", "テ", "한", "😀"}) EXPECT_NE(draw(s), missing) << s;
    const QImage emoji = draw("😀");
    bool coloured = false;
    for (int y = 0; y < emoji.height(); ++y)
        for (int x = 0; x < emoji.width(); ++x) {
            const QRgb p = emoji.pixel(x, y);
            coloured |= qRed(p) != qBlue(p);
        }
    EXPECT_TRUE(coloured) << "fonts-noto-color-emoji is not installed";
    // A wide character is about two cells wide.
    EXPECT_NEAR(text.measure_styled("日", mono).width, 14, 1.0);
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

// A long line is laid out in pieces: its offsets still follow every code point and agree with
// what its starts measure, also across the pieces.
TEST_F(QtText, CaretOffsetsOfALongLine) {
    const TextStyle style{14, 0, std::nullopt, FontFamily::Sans};
    std::string s;
    for (int i = 0; s.size() < 5000; ++i) s += (i % 3 == 0 ? "Wave " : i % 3 == 1 ? "é€𝄞 " : "AVAVAVAVAVAVAVAVAVAVAV");
    const auto offsets = text.caret_offsets(s, style);
    std::size_t points = 0;
    for (unsigned char c : s) points += (c & 0xC0) != 0x80;
    ASSERT_EQ(offsets.size(), points + 1);
    for (std::size_t i = 1; i < offsets.size(); ++i) ASSERT_GT(offsets[i], offsets[i - 1]) << i;
    std::size_t k = 0;
    for (std::size_t i = 0; i <= s.size(); ++i) {
        if (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) continue;
        if (k++ % 97 != 0) continue;
        EXPECT_NEAR(offsets[k - 1], text.measure_styled(s.substr(0, i), style).width, 1.0) << k - 1;
    }
}

// A line drawn again comes from the shaped-line cache, also after the cache was emptied: it
// looks the same as the first time, at whole and fractional sizes.
TEST_F(QtText, LinesDrawnAgainLookTheSame) {
    auto draw = [&](std::string_view line, float size) {
        QImage image(240, 40, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::black);
        QPainter painter(&image);
        engine.draw_line(painter, QPointF(3.4, 5), line, TextStyle{size, 3, std::nullopt, FontFamily::Mono}, size, Qt::white);
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

// The glyphs a line is set in with the engine's font for the style, and those the font maps its
// characters to one by one.
std::pair<QList<quint32>, QList<quint32>> laid_and_mapped(TextEngine& engine, std::string_view line,
                                                          const TextStyle& style) {
    const QFont& font = engine.font(style, style.size);
    QTextLayout layout(to_qstring(line), font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    QList<quint32> laid;
    for (const QGlyphRun& run : layout.glyphRuns()) laid += run.glyphIndexes();
    return {laid, QRawFont::fromFont(font).glyphIndexesForString(to_qstring(line))};
}

// A verbatim text keeps each character's own glyph, in both families and at fractional sizes;
// the interface font's contextual alternates would draw the x of "6x9" as a multiplication sign.
TEST_F(QtText, VerbatimTextKeepsEachCharactersGlyph) {
    const std::string fingerprint = "SHA256:vmbxoEV6x9mN 1x2 fi ->";
    for (const FontFamily family : {FontFamily::Sans, FontFamily::Mono}) {
        for (const float size : {13.0f, 12.5f}) {
            TextStyle style{size, 0, std::nullopt, family};
            style.verbatim = true;
            const auto [laid, mapped] = laid_and_mapped(engine, fingerprint, style);
            EXPECT_EQ(laid, mapped) << int(family) << " " << size;
        }
    }
    const auto [shaped, mapped] = laid_and_mapped(engine, fingerprint,
                                                  TextStyle{13, 0, std::nullopt, FontFamily::Sans});
    EXPECT_NE(shaped, mapped) << "the interface font no longer substitutes: the test shows nothing";
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

// The terminal grid as drawn on the recording backend, and as its text reads.
#include "views/terminal_view.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "tests/views/view_frame.hpp"

namespace {

using remote::Terminal;
using remote::views::paint_terminal;
using remote::views::terminal_palette_colour;
using remote::views::terminal_text;
using remote::views::TerminalText;
using zavo_ui::Color;
using zavo_ui::DrawRecord;
using zavo_ui::Rect;

const auto& palette() {
    static const auto p = zavo_ui::tokens::terminal_palette::TerminalPalette::dark();
    return p;
}

// The grid drawn into a 900 x 600 surface at the origin: cells start at (16, 16).
constexpr double kOrigin = 16.0;
double text_x(std::size_t col) { return kOrigin + 8.4 * double(col); }
double edge(std::size_t col) { return std::round(text_x(col)); }
double top(std::size_t row) { return kOrigin + 21.0 * double(row); }

class TerminalView : public ::testing::Test {
protected:
    zavo_ui::RecordingBackend paint(std::string_view output) {
        terminal.feed({reinterpret_cast<const std::uint8_t*>(output.data()), output.size()});
        return paint();
    }
    zavo_ui::RecordingBackend paint() {
        paint_terminal(frame.context(), terminal, Rect{0, 0, 900, 600});
        return frame.records();
    }
    static std::vector<const DrawRecord*> texts(const zavo_ui::RecordingBackend& records) { return records.texts(); }
    // The fills but the surface's ground.
    static std::vector<const DrawRecord*> fills(const zavo_ui::RecordingBackend& records) {
        auto out = records.of_kind(DrawRecord::Kind::Fill);
        std::erase_if(out, [](const DrawRecord* f) { return f->bounds == Rect{0, 0, 900, 600}; });
        return out;
    }
    static bool covered(const std::vector<const DrawRecord*>& fills, double x, double y) {
        return std::ranges::any_of(fills, [&](const DrawRecord* f) {
            return f->bounds.x0 <= x && x < f->bounds.x1 && f->bounds.y0 <= y && y < f->bounds.y1;
        });
    }
    static const DrawRecord* fill_at(const std::vector<const DrawRecord*>& fills, const Rect& rect) {
        for (const DrawRecord* f : fills)
            if (f->bounds == rect) return f;
        return nullptr;
    }

    view_test::ViewFrame frame{remote::RemoteApp::with_sample_data()};
    Terminal terminal{80, 24};
};

TEST_F(TerminalView, GroundsInverseAndTheTextAttributes) {
    const auto records = paint(
        "\x1b[41mab\x1b[0m \x1b[7mcd\x1b[0m \x1b[1;2;3;4;9mx\x1b[0m \x1b[8mhid\x1b[0m!\x1b[44m\x1b[K\x1b[0m"
        "\r\n\x1b[4m  \x1b[0m");
    const auto all = fills(records);
    // A red ground under "ab", the foreground under the inverse "cd", the blue of the erase to the
    // line's end.
    const DrawRecord* red = fill_at(all, Rect{edge(0), top(0), edge(2), top(1)});
    ASSERT_NE(red, nullptr);
    EXPECT_EQ(red->color, palette().colors[1]);
    const DrawRecord* inverse = fill_at(all, Rect{edge(3), top(0), edge(5), top(1)});
    ASSERT_NE(inverse, nullptr);
    EXPECT_EQ(inverse->color, palette().foreground);
    const DrawRecord* blue = fill_at(all, Rect{edge(12), top(0), edge(80), top(1)});
    ASSERT_NE(blue, nullptr);
    EXPECT_EQ(blue->color, palette().colors[4]);

    std::vector<std::string> drawn;
    for (const DrawRecord* t : texts(records)) drawn.push_back(t->text);
    // Runs without their blanks; "hid" is invisible.
    EXPECT_EQ(drawn, (std::vector<std::string>{"ab", "cd", "x", "!"}));
    const auto& t = texts(records);
    EXPECT_EQ(t[1]->color, palette().background);
    // Bold, dim, italic: the weight, half-way to the ground, the slant.
    EXPECT_EQ(t[2]->style.weight, 3);
    EXPECT_TRUE(t[2]->style.italic);
    EXPECT_EQ(t[2]->color, palette().foreground.mix(palette().background, 0.5f));
    EXPECT_FALSE(t[0]->style.italic);
    EXPECT_EQ(t[3]->bounds.x0, text_x(11));
    // Its underline and strike-through, in its colour; the underlined blanks of row 1 too.
    const DrawRecord* under = fill_at(all, Rect{edge(6), top(0) + 15, edge(7), top(0) + 16});
    const DrawRecord* strike = fill_at(all, Rect{edge(6), top(0) + 9, edge(7), top(0) + 10});
    ASSERT_NE(under, nullptr);
    ASSERT_NE(strike, nullptr);
    EXPECT_EQ(under->color, t[2]->color);
    EXPECT_NE(fill_at(all, Rect{edge(0), top(1) + 15, edge(2), top(1) + 16}), nullptr);
    // Everything inside the surface's clip.
    for (const DrawRecord* f : all) EXPECT_EQ(f->clip, (Rect{0, 0, 900, 600}));

    // The same grid draws the same scene.
    std::vector<std::string> first, second;
    const auto describe = [](const zavo_ui::RecordingBackend& r, std::vector<std::string>& out) {
        for (const DrawRecord& d : r.records())
            out.push_back(fmt::format("{} {} {} {} {} {} {}", int(d.kind), d.text, d.bounds.x0, d.bounds.y0,
                                      d.bounds.x1, d.bounds.y1, d.color ? d.color->r + d.color->g + d.color->b : 0));
    };
    describe(records, first);
    describe(paint(), second);
    EXPECT_EQ(first, second);
}

TEST_F(TerminalView, PaletteCubeGreysAndDirectColours) {
    const auto rgb = [](int r, int g, int b) {
        return Color::from_rgba8(std::uint8_t(r), std::uint8_t(g), std::uint8_t(b));
    };
    // A foreground and the ground of the same colour.
    struct Case {
        const char* fg;
        const char* bg;
        Color expected;
    } cases[] = {
        {"31", "41", palette().colors[1]},
        {"91", "101", palette().colors[9]},
        {"38;5;1", "48;5;1", palette().colors[1]},
        {"38;5;15", "48;5;15", palette().colors[15]},
        {"38;5;16", "48;5;16", rgb(0, 0, 0)},
        {"38;5;67", "48;5;67", rgb(95, 135, 175)},
        {"38;5;196", "48;5;196", rgb(255, 0, 0)},
        {"38:5:208", "48:5:208", rgb(255, 135, 0)},
        {"38;5;231", "48;5;231", rgb(255, 255, 255)},
        {"38;5;232", "48;5;232", rgb(8, 8, 8)},
        {"38;5;255", "48;5;255", rgb(238, 238, 238)},
        {"38;2;1;2;3", "48;2;1;2;3", rgb(1, 2, 3)},
        {"38:2::10:20:30", "48:2::10:20:30", rgb(10, 20, 30)},
        {"1;38;5;1", "1;48;5;1", palette().colors[1]},
    };
    for (const auto& c : cases) {
        terminal = Terminal(80, 24);
        const auto records = paint(fmt::format("\x1b[{}mX\x1b[0m \x1b[{}m \x1b[0m", c.fg, c.bg));
        ASSERT_EQ(texts(records).size(), 1u) << c.fg;
        EXPECT_EQ(texts(records)[0]->color, c.expected) << c.fg;
        const DrawRecord* ground = fill_at(fills(records), Rect{edge(2), top(0), edge(3), top(1)});
        ASSERT_NE(ground, nullptr) << c.bg;
        EXPECT_EQ(ground->color, c.expected) << c.bg;
    }
    EXPECT_EQ(terminal_palette_colour(244), rgb(128, 128, 128));
}

TEST_F(TerminalView, WideAndCombiningCharactersStandAloneOnTheGrid) {
    auto records = paint("a日b\u00e9e\u0301z");
    std::vector<std::pair<std::string, double>> drawn;
    for (const DrawRecord* t : texts(records)) drawn.emplace_back(t->text, t->bounds.x0);
    // The fake renderer's glyphs are one cell wide: the wide one is centred on its two cells.
    // A character with a combining one is drawn by itself, so fonts that give the mark an
    // advance cannot move the rest of the row.
    EXPECT_EQ(drawn, (std::vector<std::pair<std::string, double>>{
                         {"a", text_x(0)}, {"日", text_x(1) + 4.2}, {"bé", text_x(3)}, {"e\u0301", text_x(5)},
                         {"z", text_x(6)}}));
    // The cursor after them, then over both halves of the wide character, then hidden.
    const Color cursor = remote::views::color_with_alpha(palette().foreground, 0.6f);
    const auto cursor_fill = [&](const zavo_ui::RecordingBackend& r) -> std::optional<Rect> {
        for (const DrawRecord* f : fills(r))
            if (f->color == cursor) return f->bounds;
        return std::nullopt;
    };
    EXPECT_EQ(cursor_fill(records), (Rect{edge(7), top(0), edge(8), top(0) + 16.8}));
    EXPECT_EQ(cursor_fill(paint("\x1b[1;2H")), (Rect{edge(1), top(0), edge(3), top(0) + 16.8}));
    EXPECT_EQ(cursor_fill(paint("\x1b[?25l")), std::nullopt);
    EXPECT_NE(cursor_fill(paint("\x1b[?25h")), std::nullopt);
}

// Lines and blocks are fills that meet their neighbours' without a gap, whatever the row height.
TEST_F(TerminalView, LineDrawingJoinsAcrossCellsAndRows) {
    const auto records = paint(
        "\x1b(0lqk\r\nx x\r\nmqj\x1b(B \u2554\u2550\u2557 \u250f\u2501\u2513 \u2588\u2580\u2584\u2592");
    EXPECT_TRUE(texts(records).empty());
    const auto all = fills(records);
    const auto mid_x = [](std::size_t col) { return std::floor((edge(col) + edge(col + 1)) / 2.0) + 0.5; };
    const auto mid_y = [](std::size_t row) { return top(row) + 10.5; };
    // The light box: its top and bottom from corner to corner, its sides from top to bottom.
    for (double x = mid_x(0); x <= mid_x(2); x += 0.25) {
        EXPECT_TRUE(covered(all, x, mid_y(0))) << x;
        EXPECT_TRUE(covered(all, x, mid_y(2))) << x;
    }
    for (double y = mid_y(0); y <= mid_y(2); y += 0.25) {
        EXPECT_TRUE(covered(all, mid_x(0), y)) << y;
        EXPECT_TRUE(covered(all, mid_x(2), y)) << y;
    }
    EXPECT_FALSE(covered(all, mid_x(1), mid_y(1)));  // inside
    EXPECT_FALSE(covered(all, mid_x(1), mid_y(0) - 1));
    // The double top edge is two rails with a gap between; the heavy one three pixels thick.
    for (double x = mid_x(4) - 1; x <= mid_x(6) + 1; x += 0.25) EXPECT_TRUE(covered(all, x, mid_y(2) - 1)) << x;
    for (double x = mid_x(4) + 1; x <= mid_x(6) - 1; x += 0.25) EXPECT_TRUE(covered(all, x, mid_y(2) + 1)) << x;
    EXPECT_FALSE(covered(all, mid_x(5), mid_y(2)));
    for (double dy : {-1.0, 0.0, 1.0}) EXPECT_TRUE(covered(all, mid_x(9), mid_y(2) + dy));
    EXPECT_FALSE(covered(all, mid_x(9), mid_y(2) + 2));
    // Blocks: the full cell, its upper half, its lower half; the shade at half the colour.
    EXPECT_NE(fill_at(all, Rect{edge(12), top(2), edge(13), top(3)}), nullptr);
    EXPECT_NE(fill_at(all, Rect{edge(13), top(2), edge(14), top(2) + 11}), nullptr);
    EXPECT_NE(fill_at(all, Rect{edge(14), top(2) + 11, edge(15), top(3)}), nullptr);
    const DrawRecord* shade = fill_at(all, Rect{edge(15), top(2), edge(16), top(3)});
    ASSERT_NE(shade, nullptr);
    EXPECT_EQ(shade->color->a, 0.5f);
}

TEST_F(TerminalView, TextIsTheVisibleGridRowByRow) {
    const std::string out = "$ echo hi   \r\nhi\x1b[41m   \x1b[0m\r\n\r\n日本 e\u0301 \x1b[8msecret\x1b[0m.";
    terminal.feed({reinterpret_cast<const std::uint8_t*>(out.data()), out.size()});
    std::string expected = "$ echo hi\nhi\n\n日本 e\u0301       .";
    expected += std::string(20, '\n');
    EXPECT_EQ(terminal_text(terminal).text, expected);
    EXPECT_EQ(terminal_text(Terminal(80, 3)).text, "\n\n");
}

// The cursor's row keeps the blanks before the cursor, and the cursor is the byte offset of its
// cell in the text.
TEST_F(TerminalView, TheCursorIsAnOffsetIntoTheText) {
    const struct {
        const char* output;
        const char* text;
        std::size_t cursor;
    } cases[] = {
        {"$ ", "$ \n", 2},
        {"$ echo ab\x1b[D", "$ echo ab\n", 8},
        // On the right half of a wide character: its start.
        {"\U0001F600\U0001F601 ok\r\n$ x\x1b[A", "\U0001F600\U0001F601 ok\n$ x", 4},
        {"\U0001F600\x1b[1D", "\U0001F600\n", 0},
        {"ab\x1b[1;6Hx\x1b[2;1H", "ab   x\n", 7},
    };
    for (const auto& c : cases) {
        Terminal t(80, 2);
        const std::string out = c.output;
        t.feed({reinterpret_cast<const std::uint8_t*>(out.data()), out.size()});
        const TerminalText screen = terminal_text(t);
        EXPECT_EQ(screen.text, c.text) << c.output;
        EXPECT_EQ(screen.cursor, c.cursor) << c.output;
    }
}

}  // namespace

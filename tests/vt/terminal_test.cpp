#include "vt/terminal.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

using remote::Terminal;
using remote::TerminalCell;
using remote::TerminalColour;
namespace flag = remote::cell_flag;

void feed(Terminal& t, std::string_view s) {
    t.feed(std::span(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()));
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// The row as UTF-8, the right halves of wide characters skipped, trailing blanks trimmed.
std::string text(const Terminal& t, std::size_t r) {
    std::string s;
    const auto row = t.row(r);
    for (std::size_t c = 0; c < row.size(); ++c) {
        if (row[c].has(flag::kWideTail)) continue;
        append_utf8(s, row[c].character);
        for (char32_t m : t.marks(r, c)) append_utf8(s, m);
    }
    return s.substr(0, s.find_last_not_of(' ') + 1);
}

// Every row's text joined by '|'.
std::string screen(const Terminal& t) {
    std::string s;
    for (std::size_t r = 0; r < t.rows(); ++r) s += (r ? "|" : "") + text(t, r);
    return s;
}

TerminalCell cell(char32_t c, TerminalColour fg = {}, TerminalColour bg = {}, std::uint16_t flags = 0) {
    return TerminalCell{c, fg, bg, flags};
}

struct Pos {
    std::size_t row, col;
    friend bool operator==(const Pos&, const Pos&) = default;
};
Pos cursor(const Terminal& t) { return {t.cursor_row(), t.cursor_col()}; }

TEST(Terminal, NewClampsToOneByOne) {
    Terminal t(0, 0);
    EXPECT_EQ(t.cols(), 1u);
    EXPECT_EQ(t.rows(), 1u);
    EXPECT_EQ(t.row(0)[0], TerminalCell{});
    feed(t, "ab\n\x1b[5;5H\x1b[2J\x1b[5@\x1b[5P\x1b[3L\x1b[3M\xe6\x97\xa5");  // a wide character never fits
    EXPECT_EQ(cursor(t), (Pos{0, 0}));
    EXPECT_EQ(screen(t), "");
}

TEST(Terminal, WrapIsDeferredUntilTheNextCharacter) {
    Terminal t(4, 3);
    feed(t, "abcd");
    EXPECT_EQ(cursor(t), (Pos{0, 3}));
    EXPECT_TRUE(t.wrap_pending());
    feed(t, "\r\n");
    EXPECT_EQ(cursor(t), (Pos{1, 0}));  // no empty line
    feed(t, "efghi");
    EXPECT_EQ(screen(t), "abcd|efgh|i");
    EXPECT_EQ(cursor(t), (Pos{2, 1}));

    struct Case {
        std::string_view input;
        std::string_view shown;
        Pos expected;
    };
    const Case cases[] = {
        {"abcd\b", "abcd||", {0, 2}},            // from a pending wrap, left of the last column
        {"abcd\x1b[Kx", "abcx||", {0, 3}},       // an erase cancels the wrap
        {"abcd\nx", "abcd|   x|", {1, 3}},      // as does a line feed
        {"abcd\x1b[?7lxyz", "abcz||", {0, 3}},   // without autowrap the last column is overwritten
        {"ab\x1b[?7l\xe6\x97\xa5\xe6\x97\xa5", "ab日||", {0, 3}},
        {"abc\xe6\x97\xa5", "abc|日|", {1, 2}},  // a wide character wraps first at the last column
        {"abcd\tx", "abcd|x|", {1, 1}},          // a tab at the last column keeps the wrap
        {"abcd\x1b[3Ix", "abcd|x|", {1, 1}},
    };
    for (const auto& c : cases) {
        Terminal u(4, 3);
        feed(u, c.input);
        EXPECT_EQ(screen(u), c.shown) << c.input;
        EXPECT_EQ(cursor(u), c.expected) << c.input;
    }
}

// printf '%80s\tsecond field\nnext line\n' through a pseudo-terminal, as xterm shows it.
TEST(Terminal, TabAfterAFullRowContinuesOnTheNextRow) {
    Terminal t(80, 24);
    feed(t, std::string(80, ' ') + "\tsecond field\r\nnext line\r\n");
    EXPECT_EQ(screen(t), "|second field|next line" + std::string(21, '|'));
    EXPECT_EQ(cursor(t), (Pos{3, 0}));
}

TEST(Terminal, LineFeedOnTheLastRowScrolls) {
    Terminal t(5, 3);
    feed(t, "one\r\ntwo\r\nthree\n");
    EXPECT_EQ(screen(t), "two|three|");
    EXPECT_EQ(cursor(t), (Pos{2, 4}));  // line feed keeps the column
    // Many scrolls keep the grid consistent.
    for (int i = 0; i < 100; ++i) feed(t, "\r\n" + std::to_string(i));
    EXPECT_EQ(screen(t), "97|98|99");
    EXPECT_EQ(t.cursor_row(), 2u);
    feed(t, "\x0b\x0c");
    EXPECT_EQ(screen(t), "99||");
}

TEST(Terminal, ControlCharactersAndTabStops) {
    struct Case {
        std::string_view input;
        Pos expected;
    };
    const Case cases[] = {
        {"\t", {0, 8}},
        {"\x1b[78G\t", {0, 79}},
        {"\x1b[80G\t", {0, 79}},
        {"\x1b[9G\t", {0, 16}},
        {"\b", {0, 0}},
        {"ab\b", {0, 1}},
        {"abc\r", {0, 0}},
        {"ab\n", {1, 2}},
        {"\a\x7f", {0, 0}},  // the bell and DEL show nothing
        {"\x1b[3I", {0, 24}},
        {"\x1b[30G\x1b[2Z", {0, 16}},
        {"\x1b[5G\x1bH\r\t", {0, 4}},            // HTS
        {"\x1b[9G\x1b[g\r\t", {0, 16}},          // TBC at the cursor
        {"\x1b[3g\t", {0, 79}},                  // TBC of every stop
        {"\x1b[3g\x1b[70G\x1b[Z", {0, 0}},
    };
    for (const auto& c : cases) {
        Terminal t(80, 24);
        feed(t, c.input);
        EXPECT_EQ(cursor(t), c.expected) << c.input.substr(1);
    }
}

TEST(Terminal, CursorMovement) {
    struct Case {
        std::string_view input;
        Pos expected;
    };
    const Case cases[] = {
        {"\x1b[H", {0, 0}},
        {"\x1b[0;0H", {0, 0}},
        {"\x1b[999;999H", {23, 79}},
        {"\x1b[5;10H", {4, 9}},
        {"\x1b[5;10f", {4, 9}},
        {"\x1b[;10H", {0, 9}},
        {"\x1b[7H", {6, 0}},
        {"\x1b[5;5H\x1b[2A", {2, 4}},
        {"\x1b[5;5H\x1b[9A", {0, 4}},
        {"\x1b[5;5H\x1b[0A", {3, 4}},
        {"\x1b[5;5H\x1b[99B", {23, 4}},
        {"\x1b[5;5H\x1b[200C", {4, 79}},
        {"\x1b[5;5H\x1b[65535D", {4, 0}},
        {"\x1b[5;5H\x1b[3E", {7, 0}},
        {"\x1b[5;5H\x1b[2F", {2, 0}},
        {"\x1b[5;5H\x1b[300G", {4, 79}},
        {"\x1b[5;5H\x1b[12`", {4, 11}},
        {"\x1b[5;5H\x1b[12d", {11, 4}},
        {"\x1b[5;5H\x1b" "7\x1b[H\x1b" "8", {4, 4}},
        {"\x1b[5;5H\x1b[s\x1b[H\x1b[u", {4, 4}},
        {"\x1b[5;5H\x1bM", {3, 4}},
        {"\x1b[5;5H\x1b" "E", {5, 0}},
        {"\x1b[5;5H\x1b" "D", {5, 4}},
        {"\x1b[?5;5H", {0, 0}},  // a private marker makes it another function
        // Inside a scroll region of rows 5-10: moves stop at its margins, origin mode counts
        // from its top and keeps the cursor inside.
        {"\x1b[5;10r\x1b[7H\x1b[9A", {4, 0}},
        {"\x1b[5;10r\x1b[7H\x1b[99B", {9, 0}},
        {"\x1b[5;10r\x1b[2H\x1b[9A", {0, 0}},
        {"\x1b[5;10r\x1b[12H\x1b[99B", {23, 0}},
        {"\x1b[5;10r\x1b[?6h", {4, 0}},
        {"\x1b[5;10r\x1b[?6h\x1b[3;7H", {6, 6}},
        {"\x1b[5;10r\x1b[?6h\x1b[99;1H", {9, 0}},
        {"\x1b[5;10r\x1b[?6h\x1b[3d", {6, 0}},
        {"\x1b[5;5H\x1b[5;10r", {0, 0}},  // setting the region homes the cursor
        // Saved in origin mode and brought back after the region moved down: inside the new one.
        {"\x1b[1;2r\x1b[?6h\x1b" "7\x1b[5;10r\x1b" "8", {4, 0}},
    };
    for (const auto& c : cases) {
        Terminal t(80, 24);
        feed(t, c.input);
        EXPECT_EQ(cursor(t), c.expected) << c.input.substr(1);
    }
}

// A 6x4 grid of letters, the cursor on row 2 (1-based) column 3, and one edit.
TEST(Terminal, EditingAndErasing) {
    struct Case {
        std::string_view input;
        std::string_view expected;
    };
    const Case cases[] = {
        {"\x1b[J", "abcdef|gh||"},
        {"\x1b[1J", "|   jkl|mnopqr|stuvwx"},
        {"\x1b[2J", "|||"},
        {"\x1b[3J", "abcdef|ghijkl|mnopqr|stuvwx"},  // no saved lines to erase
        {"\x1b[?2J", "|||"},
        {"\x1b[K", "abcdef|gh|mnopqr|stuvwx"},
        {"\x1b[1K", "abcdef|   jkl|mnopqr|stuvwx"},
        {"\x1b[2K", "abcdef||mnopqr|stuvwx"},
        {"\x1b[2X", "abcdef|gh  kl|mnopqr|stuvwx"},
        {"\x1b[99X", "abcdef|gh|mnopqr|stuvwx"},
        {"\x1b[2@", "abcdef|gh  ij|mnopqr|stuvwx"},
        {"\x1b[@", "abcdef|gh ijk|mnopqr|stuvwx"},
        {"\x1b[99@", "abcdef|gh|mnopqr|stuvwx"},
        {"\x1b[2P", "abcdef|ghkl|mnopqr|stuvwx"},
        {"\x1b[99P", "abcdef|gh|mnopqr|stuvwx"},
        {"\x1b[4hXY", "abcdef|ghXYij|mnopqr|stuvwx"},  // insert mode
        {"\x1b[4h\x1b[4lXY", "abcdef|ghXYkl|mnopqr|stuvwx"},
        {"\x1b[L", "abcdef||ghijkl|mnopqr"},
        {"\x1b[2M", "abcdef|stuvwx||"},
        {"\x1b[9L", "abcdef|||"},
        {"\x1b[S", "ghijkl|mnopqr|stuvwx|"},
        {"\x1b[2T", "||abcdef|ghijkl"},
        {"Z\x1b[3b", "abcdef|ghZZZZ|mnopqr|stuvwx"},
        {"Z\x1b[9b", "abcdef|ghZZZZ|ZZZZZZ|stuvwx"},  // repeats wrap and scroll like text
        {"\r\x1b[b", "abcdef|ghijkl|mnopqr|stuvwx"},   // nothing printed just before
        {"Z\x1b[2b\x1b[2b", "abcdef|ghZZZl|mnopqr|stuvwx"},  // nor a repeat
        // A scroll region of rows 2-3: scrolling stays inside it, and lines are inserted or
        // deleted only from a row inside it.
        {"\x1b[2;3r\x1b[3H\n", "abcdef|mnopqr||stuvwx"},
        {"\x1b[2;3r\x1b[2H\x1bM", "abcdef||ghijkl|stuvwx"},
        {"\x1b[2;3r\x1b[S", "abcdef|mnopqr||stuvwx"},
        {"\x1b[2;3r\x1b[2H\x1b[L", "abcdef||ghijkl|stuvwx"},
        {"\x1b[2;3r\x1b[4H\x1b[L", "abcdef|ghijkl|mnopqr|stuvwx"},
        {"\x1b[2;3r\x1b[4H\n", "abcdef|ghijkl|mnopqr|stuvwx"},  // below the region: no scroll
        {"\x1b[3;2r\x1b[4H\n", "ghijkl|mnopqr|stuvwx|"},       // an empty region is refused
    };
    for (const auto& c : cases) {
        Terminal t(6, 4);
        feed(t, "abcdefghijklmnopqrstuvwx\x1b[2;3H");
        feed(t, c.input);
        EXPECT_EQ(screen(t), c.expected) << c.input.substr(1);
    }
}

// Every cell, mark and the cursor of two terminals of one size agree.
void expect_same(const Terminal& got, const Terminal& want, const std::string& what) {
    for (std::size_t r = 0; r < want.rows(); ++r) {
        for (std::size_t c = 0; c < want.cols(); ++c) {
            ASSERT_EQ(got.row(r)[c], want.row(r)[c]) << what << ": cell " << r << "," << c;
            ASSERT_EQ(got.marks(r, c), want.marks(r, c)) << what << ": cell " << r << "," << c;
        }
    }
    EXPECT_EQ(cursor(got), cursor(want)) << what;
    EXPECT_EQ(got.wrap_pending(), want.wrap_pending()) << what;
}

// A repeat of any count leaves what printing the character that often leaves, in every mode
// that changes where characters go; counts far past the screen included.
TEST(Terminal, RepeatIsPrintingThatOften) {
    struct Setup {
        const char* what;
        std::size_t cols, rows;
        std::string_view before;
    };
    const Setup setups[] = {
        {"filled", 6, 4, "abcdefghijklmnopqrstuvwx\x1b[2;3H"},
        {"odd width, wide characters around", 5, 4, "a日b日cd日e\x1b[1;2H\xcc\x81\x1b[2;2H"},
        {"insert mode", 6, 4, "abcdefghijklmnopqrstuvwx\x1b[2;3H\x1b[4h"},
        {"insert mode, odd width", 5, 4, "a日b日cd日e\x1b[2;2H\x1b[4h"},
        {"no autowrap", 6, 4, "abcdefghijklmnopqrstuvwx\x1b[2;3H\x1b[?7l"},
        {"in a scroll region", 6, 5, "abcdefghijklmnopqrstuvwxyz\x1b[2;3r\x1b[3;2H"},
        {"above a scroll region", 6, 5, "abcdefghijklmnopqrstuvwxyz\x1b[3;4r\x1b[1;2H"},
        {"below a scroll region", 6, 5, "abcdefghijklmnopqrstuvwxyz\x1b[1;2r\x1b[4;5H"},
        {"one column", 1, 3, "abc"},
    };
    // The character, after what selects its set.
    const std::pair<std::string_view, std::string_view> characters[] = {
        {"", "x"}, {"", "\xe6\x97\xa5"}, {"\x1b(0", "q"}};
    std::vector<std::size_t> counts;
    for (std::size_t n = 0; n <= 150; ++n) counts.push_back(n);
    counts.insert(counts.end(), {997, 65534, 65535});
    for (const auto& setup : setups) {
        for (auto [set, c] : characters) {
            for (std::size_t n : counts) {
                Terminal repeated(setup.cols, setup.rows), printed(setup.cols, setup.rows);
                for (Terminal* t : {&repeated, &printed}) feed(*t, std::string(setup.before) + std::string(set));
                feed(repeated, std::string(c) + "\x1b[" + std::to_string(n) + "b");
                std::string text;
                for (std::size_t i = 0; i <= std::max<std::size_t>(n, 1); ++i) text += c;  // 0 repeats once
                feed(printed, text);
                expect_same(repeated, printed,
                            std::string(setup.what) + ", " + std::string(c) + " and " + std::to_string(n) + " more");
                if (HasFatalFailure()) return;
            }
        }
    }
}

TEST(Terminal, ErasingFillsWithThePenBackground) {
    Terminal t(6, 3);
    feed(t, "\x1b[1;4;31;44mabcdef\x1b[1;3H\x1b[K\x1b[2;1H\x1b[2@\x1b[3;1H\x1b[L");
    const TerminalCell blank{U' ', {}, TerminalColour::palette(4), 0};
    EXPECT_EQ(t.row(0)[1], (TerminalCell{U'b', TerminalColour::palette(1), TerminalColour::palette(4),
                                         flag::kBold | flag::kUnderline}));
    EXPECT_EQ(t.row(0)[2], blank);
    EXPECT_EQ(t.row(1)[0], blank);
    EXPECT_EQ(t.row(2)[5], blank);
}

TEST(Terminal, GraphicRendition) {
    using C = TerminalColour;
    struct Case {
        std::string_view input;
        TerminalCell expected;
    };
    const Case cases[] = {
        {"\x1b[31m", cell(U'x', C::palette(1))},
        {"\x1b[91;102m", cell(U'x', C::palette(9), C::palette(10))},
        {"\x1b[97;47m", cell(U'x', C::palette(15), C::palette(7))},
        {"\x1b[1;2;3;4;7;8;9m", {U'x', {}, {}, flag::kAttributes}},
        {"\x1b[1;2;3;4;7;8;9;22;23;24;27;28;29m", cell(U'x')},
        {"\x1b[1;31;41m\x1b[m", cell(U'x')},
        {"\x1b[1;31;41m\x1b[0m", cell(U'x')},
        {"\x1b[1;31;41m\x1b[;m", cell(U'x')},
        {"\x1b[1;31;41m\x1b[39;49m", {U'x', {}, {}, flag::kBold}},
        {"\x1b[4:0m", cell(U'x')},
        {"\x1b[4:3m", {U'x', {}, {}, flag::kUnderline}},
        {"\x1b[21m", {U'x', {}, {}, flag::kUnderline}},
        {"\x1b[5m", cell(U'x')},  // blink is consumed
        {"\x1b[38;5;1m", cell(U'x', C::palette(1))},  // the arguments are no attributes
        {"\x1b[38;5;196;48;5;21m", cell(U'x', C::palette(196), C::palette(21))},
        {"\x1b[38:5:4m", cell(U'x', C::palette(4))},
        {"\x1b[38;2;1;2;3m", cell(U'x', C::rgb(1, 2, 3))},
        {"\x1b[48:2:1:2:3m", {U'x', {}, C::rgb(1, 2, 3)}},
        {"\x1b[48:2::1:2:3m", {U'x', {}, C::rgb(1, 2, 3)}},  // with an empty colour space
        {"\x1b[38;2;1;2;3;1m", {U'x', C::rgb(1, 2, 3), {}, flag::kBold}},
        {"\x1b[38;5;256m", cell(U'x')},           // out of range: no colour, nothing else either
        {"\x1b[38;2;300;2;3;4m", {U'x', {}, {}, flag::kUnderline}},
        {"\x1b[38;5m", cell(U'x')},
        {"\x1b[58;5;3;4m", {U'x', {}, {}, flag::kUnderline}},  // underline colour: consumed
        {"\x1b[>4;2m", cell(U'x')},  // key modifier options, no rendition
    };
    for (const auto& c : cases) {
        Terminal t(10, 2);
        feed(t, c.input);
        feed(t, "x");
        EXPECT_EQ(t.row(0)[0], c.expected) << c.input.substr(1);
    }
}

TEST(Terminal, LineDrawingCharacterSet) {
    Terminal t(20, 2);
    feed(t, "\x1b(0lqkx\x1b(Bq \x1b)0a\x0eqa\x0fq");
    EXPECT_EQ(text(t, 0), "┌─┐│q a─▒q");
    // DECSC keeps the sets.
    feed(t, "\r\n\x1b(0\x1b" "7\x1b(Bq\x1b" "8q");
    EXPECT_EQ(text(t, 1), "─");
}

TEST(Terminal, WideAndCombiningCharacters) {
    struct Case {
        std::string_view input;
        std::string_view expected;
        std::size_t col;
    };
    const Case cases[] = {
        {"日本語テ", "日本語テ", 8},
        {"😀!", "😀!", 3},
        {"e\xcc\x81x", "e\xcc\x81x", 2},                     // U+0301 joins the e
        {"日\xcc\x81x", "日́x", 3},                    // and a wide character
        {"a\xe2\x80\x8b" "b", "ab", 2},               // a zero width space takes nothing
        {"👍\xf0\x9f\x8f\xbd", "👍🏽", 4},             // a skin tone is a wide character of its own
        {"\xe2\x9d\xa4\xef\xb8\x8f", "❤️", 1},        // a variation selector joins
        {"x\xe2\x80\x8dy", "x‍y", 2},                 // as does a zero width joiner
        {"日本\x1b[1;2Hx", " x本", 2},               // over a right half: the left half goes
        {"日本\x1b[1;1Hx", "x 本", 1},               // over a left half: the right half goes
        {"日本\x1b[1;2H\x1b[P", " 本", 1},
        {"日本\x1b[1;3H\x1b[@", "日 本", 2},
        {"日本\x1b[1;3H\x1b[@\x1b[1;6HY", "日 本Y", 6},  // a blank before a left half: it moves whole
        {"日本\x1b[1;2H\x1b[@", "   本", 1},             // inside one: both halves are blanks
        {"abcdefgh日\x1b[1;1H\x1b[@", " abcdefgh", 0},  // pushed half past the end
        {"abcdefghi\xcc\x81", "abcdefghi\xcc\x81", 9},       // after a pending wrap: the last cell
        {"\xcc\x81", "", 0},                          // nothing before: dropped
    };
    for (const auto& c : cases) {
        Terminal t(10, 3);
        feed(t, c.input);
        EXPECT_EQ(text(t, 0), c.expected) << c.input;
        EXPECT_EQ(t.cursor_col(), c.col) << c.input;
    }
    Terminal t(10, 1);
    feed(t, "a");
    for (int i = 0; i < 100; ++i) feed(t, "\xcc\x81");
    EXPECT_EQ(t.marks(0, 0).size(), Terminal::kMaxMarksPerCell);
    feed(t, "\rb");
    EXPECT_EQ(text(t, 0), "b");
    EXPECT_FALSE(t.row(0)[0].has(flag::kMarks));
}

TEST(Terminal, AlternateScreen) {
    Terminal t(10, 3);
    feed(t, "main\x1b[2;3H");
    feed(t, "\x1b[?1049h");
    EXPECT_TRUE(t.alternate_screen());
    EXPECT_EQ(screen(t), "||");
    EXPECT_EQ(cursor(t), (Pos{1, 2}));
    feed(t, "\x1b[Hvi\x1b[3;1H~");
    EXPECT_EQ(screen(t), "vi||~");
    feed(t, "\x1b[?1049l");
    EXPECT_FALSE(t.alternate_screen());
    EXPECT_EQ(screen(t), "main||");
    EXPECT_EQ(cursor(t), (Pos{1, 2}));

    // 47 keeps what the alternate screen held; 1047 clears it when leaving.
    feed(t, "\x1b[?47hold\x1b[?47l\x1b[?47h");
    EXPECT_EQ(text(t, 1), "  old");
    feed(t, "\x1b[?1047l\x1b[?1047h");
    EXPECT_EQ(screen(t), "||");
    feed(t, "\x1b[?1047l");
    EXPECT_EQ(screen(t), "main||");
}

TEST(Terminal, ModesAndResets) {
    Terminal t(10, 3);
    EXPECT_TRUE(t.cursor_visible());
    feed(t, "\x1b[?25l\x1b[?2004h\x1b[?1h\x1b=");
    EXPECT_FALSE(t.cursor_visible());
    EXPECT_TRUE(t.bracketed_paste());
    EXPECT_TRUE(t.application_cursor_keys());
    EXPECT_TRUE(t.application_keypad());
    feed(t, "\x1b[1l\x1b[?25;1l\x1b>");  // the ANSI mode 1 is another mode
    EXPECT_FALSE(t.cursor_visible());
    EXPECT_FALSE(t.application_cursor_keys());
    EXPECT_FALSE(t.application_keypad());

    feed(t, "\x1b[?25l\x1b[2;3r\x1b[31mab\x1b[!pc");
    EXPECT_TRUE(t.cursor_visible());
    EXPECT_EQ(t.row(0)[2], cell(U'c'));  // soft reset: pen and region, not the screen
    EXPECT_EQ(text(t, 0), "abc");
    feed(t, "\x1b[?1049h\x1b" "c");
    EXPECT_FALSE(t.alternate_screen());
    EXPECT_FALSE(t.bracketed_paste());
    EXPECT_EQ(screen(t), "||");
    EXPECT_EQ(cursor(t), (Pos{0, 0}));
}

TEST(Terminal, RepliesAreOwedUntilTaken) {
    struct Case {
        std::string_view input;
        std::string_view replies;
    };
    const Case cases[] = {
        {"\x1b[c\x1b[0c", "\x1b[?62;22c\x1b[?62;22c"},
        {"\x1b[>c", "\x1b[>1;10;0c"},
        {"\x1b[5n", "\x1b[0n"},
        {"\x1b[3;7H\x1b[6n", "\x1b[3;7R"},
        {"\x1b[3;10Hx\x1b[6n", "\x1b[3;10R"},            // a pending wrap reports the last column
        {"\x1b[2;3r\x1b[?6h\x1b[2;4H\x1b[6n", "\x1b[2;4R"},  // relative to the origin
        {"\x1b[1c\x1b[=c\x1b[?6n\x1b[7n", ""},
    };
    for (const auto& c : cases) {
        Terminal t(10, 3);
        feed(t, c.input);
        EXPECT_EQ(t.take_replies(), c.replies) << c.input.substr(1);
        EXPECT_EQ(t.take_replies(), "");
    }
    // A cursor restored above the region in origin mode reports no row before the first.
    Terminal above(10, 6);
    feed(above, "\x1b[1;2r\x1b[?6h\x1b" "7\x1b[4;6r\x1b" "8\x1b[6n");
    EXPECT_EQ(above.take_replies(), "\x1b[1;1R");

    // A host that never reads its answers cannot make them grow without bound.
    Terminal t(10, 3);
    for (int i = 0; i < 10000; ++i) feed(t, "\x1b[5n");
    EXPECT_EQ(t.take_replies().size(), Terminal::kMaxReplyBytes);
}

TEST(Terminal, SequenceSplitAcrossChunksAppliesOnce) {
    Terminal t(10, 3);
    feed(t, "a\x1b[");
    feed(t, "3");
    EXPECT_EQ(text(t, 0), "a");
    feed(t, "1mb\xe2\x82");
    feed(t, "\xac");
    EXPECT_EQ(t.row(0)[1], cell(U'b', TerminalColour::palette(1)));
    EXPECT_EQ(t.row(0)[2].character, U'€');
    EXPECT_EQ(t.cursor_col(), 3u);
}

TEST(Terminal, UnhandledSequencesChangeNothing) {
    Terminal t(10, 3);
    feed(t, "\x1b]0;title\x07\x1bP1$r\x1b\\\x1b[22;0;0t\x1b[?1000h\x1b[2 q\x1b[>q\x1b[1;2;3;4;5T\x1b[?69h\x1b#8");
    EXPECT_EQ(cursor(t), (Pos{0, 0}));
    EXPECT_EQ(screen(t), "||");
    EXPECT_EQ(t.take_replies(), "");
}

TEST(Terminal, InvalidUtf8ShowsOneReplacementPerMaximalSubpart) {
    struct Case {
        std::string_view input;
        std::u32string expected;
    };
    const Case cases[] = {
        {"a\xed\xa0\x80z", U"a\uFFFD\uFFFD\uFFFDz"},
        {"a\xf4\x90\x80\x80z", U"a\uFFFD\uFFFD\uFFFD\uFFFDz"},
        {"a\xf0\x9f\x98z", U"a\uFFFDz"},
        {"a\x85z", U"a\uFFFDz"},
    };
    for (const auto& c : cases) {
        Terminal t(10, 1);
        // Byte by byte, as output split anywhere arrives.
        for (char b : c.input) feed(t, std::string_view(&b, 1));
        std::u32string shown;
        for (std::size_t i = 0; i < t.cursor_col(); ++i) shown += t.row(0)[i].character;
        EXPECT_EQ(shown, c.expected) << c.input;
    }
}

}  // namespace

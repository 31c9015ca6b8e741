#include "vt/terminal.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

using remote::Terminal;
using remote::TerminalCell;
using remote::TerminalColour;

void feed(Terminal& t, std::string_view s) {
    t.feed(std::span(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()));
}

// The row as text, trailing blanks trimmed.
std::string text(const Terminal& t, std::size_t r) {
    std::string s;
    for (const auto& c : t.row(r)) s += c.character < 0x80 ? char(c.character) : '?';
    return s.substr(0, s.find_last_not_of(' ') + 1);
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
    feed(t, "ab\n\x1b[5;5H\x1b[2J");  // wraps and scrolls within one cell
    EXPECT_EQ(cursor(t), (Pos{0, 0}));
}

TEST(Terminal, WrapIsDeferredUntilTheNextCharacter) {
    Terminal t(4, 3);
    feed(t, "abcd");
    EXPECT_EQ(cursor(t), (Pos{0, 4}));
    feed(t, "\r\n");
    EXPECT_EQ(cursor(t), (Pos{1, 0}));  // no empty line
    feed(t, "efghi");
    EXPECT_EQ(text(t, 1), "efgh");
    EXPECT_EQ(text(t, 2), "i");
    EXPECT_EQ(cursor(t), (Pos{2, 1}));
    // Backspace from past the end goes to the last column.
    Terminal u(4, 1);
    feed(u, "abcd\b");
    EXPECT_EQ(u.cursor_col(), 3u);
}

TEST(Terminal, LineFeedOnTheLastRowScrolls) {
    Terminal t(5, 3);
    feed(t, "one\r\ntwo\r\nthree\n");
    EXPECT_EQ(text(t, 0), "two");
    EXPECT_EQ(text(t, 1), "three");
    EXPECT_EQ(text(t, 2), "");
    EXPECT_EQ(cursor(t), (Pos{2, 5}));  // line feed keeps the column
    // Many scrolls keep the grid consistent.
    for (int i = 0; i < 100; ++i) feed(t, "\r\n" + std::to_string(i));
    EXPECT_EQ(text(t, 0), "97");
    EXPECT_EQ(text(t, 1), "98");
    EXPECT_EQ(text(t, 2), "99");
    EXPECT_EQ(t.cursor_row(), 2u);
    feed(t, "\x0b\x0c");
    EXPECT_EQ(text(t, 0), "99");
    EXPECT_EQ(text(t, 1), "");
}

TEST(Terminal, ControlCharacters) {
    struct Case {
        std::string_view input;
        Pos expected;
    };
    const Case cases[] = {
        {"\t", {0, 8}},          {"\x1b[78G\t", {0, 79}},  // from column 77
        {"\x1b[80G\t", {0, 79}}, {"\x1b[9G\t", {0, 16}},  {"\b", {0, 0}},         {"ab\b", {0, 1}},
        {"abc\r", {0, 0}},       {"ab\n", {1, 2}},        {"\a\x0e\x7f", {0, 1}},  // bell and shift-out do nothing; DEL
                                                                                   // is printed as a character
    };
    for (const auto& c : cases) {
        Terminal t(80, 24);
        feed(t, c.input);
        EXPECT_EQ(cursor(t), c.expected) << c.input;
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
        {"\x1b[5;5H\x1b[B", {5, 4}},
        {"\x1b[5;5H\x1b[99B", {23, 4}},
        {"\x1b[5;5H\x1b[3C", {4, 7}},
        {"\x1b[5;5H\x1b[200C", {4, 79}},
        {"\x1b[5;5H\x1b[2D", {4, 2}},
        {"\x1b[5;5H\x1b[65535D", {4, 0}},
        {"\x1b[5;5H\x1b[G", {4, 0}},
        {"\x1b[5;5H\x1b[300G", {4, 79}},
        {"\x1b[?5;5H", {4, 4}},  // private markers do not matter
        {"\x1b[5;5H\x1b[3E\x1b[2F\x1b[I", {4, 4}},
        {"\x1b[5;5H\x1b"
         "7\x1b"
         "8\x1bM",
         {4, 4}},
    };
    for (const auto& c : cases) {
        Terminal t(80, 24);
        feed(t, c.input);
        EXPECT_EQ(cursor(t), c.expected) << c.input.substr(1);
    }
}

TEST(Terminal, Erasing) {
    struct Case {
        std::string_view input;
        std::string row0, row1;
    };
    const Case cases[] = {
        {"\x1b[1;3H\x1b[J", "ab", "ghijkl"},  {"\x1b[1;3H\x1b[1J", "ab", "ghijkl"},
        {"\x1b[1;3H\x1b[2J", "", ""},         {"\x1b[1;3H\x1b[3J", "", ""},
        {"\x1b[1;3H\x1b[?2J", "", ""},        {"\x1b[1;3H\x1b[K", "ab", "ghijkl"},
        {"\x1b[1;3H\x1b[1K", "ab", "ghijkl"}, {"\x1b[1;3H\x1b[2K", "", "ghijkl"},
        {"\x1b[J", "abcdef", "ghijkl"},  // cursor past the end of row 1 erases nothing
    };
    for (const auto& c : cases) {
        Terminal t(6, 2);
        feed(t, "\x1b[31mabcdef\r\nghijkl");
        feed(t, c.input);
        EXPECT_EQ(text(t, 0), c.row0) << c.input.substr(1);
        EXPECT_EQ(text(t, 1), c.row1) << c.input.substr(1);
        // Erased cells are blank whatever the pen holds.
        EXPECT_EQ(t.row(0)[5].colour == TerminalColour(), c.row0.size() < 6) << c.input.substr(1);
    }
    Terminal t(6, 2);
    feed(t, "abcdef\x1b[1;3H\x1b[2J");
    EXPECT_EQ(cursor(t), (Pos{0, 2}));
}

TEST(Terminal, GraphicRendition) {
    struct Case {
        std::string_view input;
        TerminalColour colour;
        bool bold;
    };
    const Case cases[] = {
        {"\x1b[31m", TerminalColour::palette(1), false},
        {"\x1b[91m", TerminalColour::palette(9), false},
        {"\x1b[97m", TerminalColour::palette(15), false},
        {"\x1b[1;31m\x1b[m", TerminalColour(), false},
        {"\x1b[1;31m\x1b[0m", TerminalColour(), false},
        {"\x1b[1;31m\x1b[;m", TerminalColour(), false},
        {"\x1b[1;31m\x1b[39m", TerminalColour(), true},
        {"\x1b[1;31m\x1b[22m", TerminalColour::palette(1), false},
        {"\x1b[38;5;1m", TerminalColour(), true},   // no look-ahead: the 1 is bold
        {"\x1b[38:5:4m", TerminalColour(), false},  // sub-parameters are not looked at
        {"\x1b[32;41;4;7;100m", TerminalColour::palette(2), false},
        {"\x1b[30;37;90m", TerminalColour::palette(8), false},
    };
    for (const auto& c : cases) {
        Terminal t(10, 2);
        feed(t, c.input);
        feed(t, "x");
        EXPECT_EQ(t.row(0)[0], (TerminalCell{U'x', c.colour, c.bold})) << c.input.substr(1);
    }
}

TEST(Terminal, SequenceSplitAcrossChunksAppliesOnce) {
    Terminal t(10, 3);
    feed(t, "a\x1b[");
    feed(t, "3");
    EXPECT_EQ(text(t, 0), "a");
    feed(t, "1mb\xe2\x82");
    feed(t, "\xac");
    EXPECT_EQ(t.row(0)[1], (TerminalCell{U'b', TerminalColour::palette(1), false}));
    EXPECT_EQ(t.row(0)[2].character, U'€');
    EXPECT_EQ(t.cursor_col(), 3u);
}

TEST(Terminal, InvisibleSequencesChangeNothing) {
    Terminal t(10, 3);
    feed(t,
         "\x1b[?25l\x1b]0;title\x07\x1bP1$r\x1b\\\x1b[?1049h\x1b"
         "c");
    EXPECT_EQ(cursor(t), (Pos{0, 0}));
    for (std::size_t r = 0; r < 3; ++r) EXPECT_EQ(text(t, r), "");
}

TEST(Terminal, KeyModesFollowTheHost) {
    Terminal t(10, 3);
    EXPECT_FALSE(t.application_cursor_keys());
    EXPECT_FALSE(t.application_keypad());
    feed(t, "\x1b[?1h\x1b=");
    EXPECT_TRUE(t.application_cursor_keys());
    EXPECT_TRUE(t.application_keypad());
    feed(t, "\x1b[1l\x1b[?25;1l\x1b>");  // the ANSI mode 1 is another mode
    EXPECT_FALSE(t.application_cursor_keys());
    EXPECT_FALSE(t.application_keypad());
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
        {"\x1b[3;10Hx\x1b[6n", "\x1b[3;10R"},  // a pending wrap reports the last column
        {"\x1b[1c\x1b[=c\x1b[?6n\x1b[7n", ""},
    };
    for (const auto& c : cases) {
        Terminal t(10, 3);
        feed(t, c.input);
        EXPECT_EQ(t.take_replies(), c.replies) << c.input.substr(1);
        EXPECT_EQ(t.take_replies(), "");
    }
    // A host that never reads its answers cannot make them grow without bound.
    Terminal t(10, 3);
    for (int i = 0; i < 10000; ++i) feed(t, "\x1b[5n");
    EXPECT_EQ(t.take_replies().size(), Terminal::kMaxReplyBytes);
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

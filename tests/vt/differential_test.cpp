// The terminal against a reference emulator: byte streams recorded from real programs at 80x24
// with TERM=xterm-256color, and the screens tmux showed for them (fixtures/record.py records
// both). The streams are fed in random chunk sizes; every cell's text, colours and attributes
// and the cursor must match at each recorded screen.
//
// tmux keeps a pending wrap as a cursor one past the last column; ours stays on the last column
// and says that the wrap is pending.
//
// Where we depart from tmux on purpose, the comparison says so in `matches`:
// - tmux's capture leaves out cells that an erase filled with a coloured background; such a
//   cell is a blank to it, and our blank in the pen's background (as xterm erases) matches it.
// - An erase while a wrap is pending starts at the last column and ends the pending wrap, as in
//   xterm (top ends each full-width row with EL); tmux's cursor is past that column and it
//   erases nothing.
#include "vt/char_width.hpp"
#include "vt/terminal.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using remote::Terminal;
using remote::TerminalCell;
using remote::TerminalColour;
namespace flag = remote::cell_flag;

const std::string kFixtures = std::string(REMOTE_SOURCE_DIR) + "/tests/vt/fixtures/";

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::u32string decode_utf8(const std::string& s) {
    std::u32string out;
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const int n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        char32_t c = n == 1 ? b : b & (0x7F >> n);
        for (int k = 1; k < n; ++k) c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        out += c;
        i += n;
    }
    return out;
}

std::string colour_name(TerminalColour c) {
    if (c.is_default()) return "d";
    if (c.is_palette()) return "p" + std::to_string(c.index());
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x", c.red(), c.green(), c.blue());
    return buf;
}

std::string flag_names(std::uint16_t flags) {
    const std::pair<std::uint16_t, char> names[] = {{flag::kBold, 'b'},      {flag::kDim, 'd'},
                                                    {flag::kItalic, 'i'},    {flag::kUnderline, 'u'},
                                                    {flag::kInverse, 'r'},   {flag::kInvisible, 'x'},
                                                    {flag::kStrike, 's'}};
    std::string s;
    for (auto [bit, name] : names)
        if (flags & bit) s += name;
    return s.empty() ? "-" : s;
}

// One cell as the fixtures describe it: its text (a character and its marks), colours and
// attributes, or a right half.
struct Cell {
    std::u32string text = U" ";
    std::string fg = "d", bg = "d", flags = "-";
    bool right_half = false;
    friend bool operator==(const Cell&, const Cell&) = default;
};

std::string describe(const Cell& c) {
    if (c.right_half) return "(right half)";
    std::string s = "'";
    for (char32_t ch : c.text) {
        if (ch < 0x80) {
            s += char(ch);
        } else {
            char buf[12];
            std::snprintf(buf, sizeof buf, "U+%04X", unsigned(ch));
            s += buf;
        }
    }
    return s + "' " + c.fg + " " + c.bg + " " + c.flags;
}

Cell ours(const Terminal& t, std::size_t r, std::size_t c) {
    const TerminalCell& cell = t.row(r)[c];
    Cell out;
    out.right_half = cell.has(flag::kWideTail);
    out.text = out.right_half ? U"" : std::u32string(1, cell.character) + std::u32string(t.marks(r, c));
    out.fg = colour_name(cell.colour);
    out.bg = colour_name(cell.background);
    out.flags = flag_names(cell.flags);
    if (out.right_half) out = Cell{U"", "", "", "", true};
    return out;
}

struct Screen {
    std::size_t offset = 0;
    std::size_t cursor_row = 0, cursor_col = 0;
    bool cursor_visible = true, alternate = false;
    std::vector<std::vector<Cell>> cells;
    std::vector<std::string> problems;  // in the fixture itself
};

// The screens of a .screen file; the runs' text is split into cells by our own widths, and a
// run whose text does not fill its cells is a width that differs.
std::vector<Screen> read_screens(const std::string& path) {
    std::vector<Screen> screens;
    std::istringstream in(read_file(path));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        if (kind == "at") {
            screens.emplace_back();
            screens.back().cells.assign(24, std::vector<Cell>(80));
            words >> screens.back().offset;
        } else if (kind == "cursor") {
            Screen& s = screens.back();
            int visible = 1, alt = 0;
            words >> s.cursor_row >> s.cursor_col >> visible >> alt;
            s.cursor_visible = visible != 0;
            s.alternate = alt != 0;
        } else if (kind == "run") {
            Screen& s = screens.back();
            std::size_t r = 0, c = 0, n = 0;
            std::string fg, bg, flags, hex;
            words >> r >> c >> n >> fg >> bg >> flags >> hex;
            std::string bytes;
            for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes += char(std::stoi(hex.substr(i, 2), nullptr, 16));
            std::size_t col = c;
            for (char32_t ch : decode_utf8(bytes)) {
                const auto width = remote::vt::char_width(ch);
                if (width == remote::vt::CharWidth::Joins && col > c) {
                    std::size_t head = col - 1;
                    if (s.cells[r][head].right_half) --head;
                    s.cells[r][head].text += ch;
                    continue;
                }
                if (col >= 80) break;
                s.cells[r][col] = Cell{std::u32string(1, ch), fg, bg, flags, false};
                if (width == remote::vt::CharWidth::Wide && col + 1 < 80) {
                    s.cells[r][col + 1] = Cell{U"", "", "", "", true};
                    ++col;
                }
                ++col;
            }
            if (col != c + n)
                s.problems.push_back(line + ": our widths make " + std::to_string(col - c) + " cells of it");
        }
    }
    return screens;
}

bool matches(const Cell& got, const Cell& want, std::size_t col) {
    if (got == want) return true;
    const bool blank_text = got.text == U" " && got.fg == "d" && got.flags == "-";
    // Our blank in a coloured background stands where tmux's capture shows none.
    if (want == Cell{} && blank_text) return true;
    // The last column, erased by us while a wrap was pending.
    return col == 79 && got == Cell{} && want.text == U" ";
}

class Differential : public testing::TestWithParam<const char*> {};

TEST_P(Differential, ScreensMatchTheReference) {
    const std::string name = GetParam();
    const std::string bytes = read_file(kFixtures + name + ".bytes");
    const auto screens = read_screens(kFixtures + name + ".screen");
    ASSERT_FALSE(bytes.empty()) << name;
    ASSERT_FALSE(screens.empty()) << name;

    // A few seeds: each splits the stream differently, single bytes included.
    for (unsigned seed : {1u, 2u, 3u}) {
        std::mt19937 rng(seed);
        Terminal t(80, 24);
        std::size_t fed = 0;
        for (const Screen& want : screens) {
            ASSERT_LE(want.offset, bytes.size());
            while (fed < want.offset) {
                const std::size_t n = std::min<std::size_t>(want.offset - fed, rng() % 3 == 0 ? 1 : 1 + rng() % 200);
                t.feed(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data() + fed), n));
                fed += n;
            }
            const std::string at = name + " at byte " + std::to_string(want.offset) + ", seed " + std::to_string(seed);
            for (const auto& p : want.problems) ADD_FAILURE() << at << ": " << p;
            int mismatches = 0;
            for (std::size_t r = 0; r < 24; ++r) {
                for (std::size_t c = 0; c < 80; ++c) {
                    const Cell got = ours(t, r, c);
                    if (matches(got, want.cells[r][c], c)) continue;
                    if (++mismatches <= 10)
                        ADD_FAILURE() << at << ": cell " << r << "," << c << " is " << describe(got) << ", expected "
                                      << describe(want.cells[r][c]);
                }
            }
            EXPECT_EQ(mismatches, 0) << at;
            EXPECT_EQ(t.cursor_row(), want.cursor_row) << at;
            EXPECT_EQ(t.cursor_col(), std::min<std::size_t>(want.cursor_col, 79)) << at;
            // (An erase also ends our pending wrap, as in xterm.)
            if (t.wrap_pending()) {
                EXPECT_EQ(want.cursor_col, 80u) << at;
            }
            EXPECT_EQ(t.cursor_visible(), want.cursor_visible) << at;
            EXPECT_EQ(t.alternate_screen(), want.alternate) << at;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Programs, Differential,
                         testing::Values("bash_editing", "bash_history", "vi_scroll", "less_search", "top", "ls_color",
                                         "tput_editing", "colours", "unicode_text"));

}  // namespace

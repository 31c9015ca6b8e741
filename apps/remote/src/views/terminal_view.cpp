#include "views/terminal_view.hpp"

#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>

namespace remote::views {

namespace {

using namespace cell_flag;
using zavo_ui::Color;
using zavo_ui::Rect;
using zavo_ui::tokens::terminal_palette::TerminalPalette;

constexpr double CELL_WIDTH = 8.4;
constexpr double LINE_HEIGHT = 21.0;
constexpr double GRID_INSET = 16.0;
constexpr float GRID_TEXT_SIZE = 14.0f;
constexpr double CURSOR_HEIGHT = 16.8;
// Where the 1 px lines under and through the text lie, from the row's top.
constexpr double UNDERLINE_TOP = 15.0;
constexpr double STRIKE_TOP = 9.0;
// The middle of a row for line drawing, from its top.
constexpr double LINE_MIDDLE = 10.0;

const TerminalPalette& palette() {
    static const TerminalPalette p = TerminalPalette::dark();
    return p;
}

void append_utf8(std::string& out, char32_t c) {
    char buf[U8_MAX_LENGTH];
    std::int32_t n = 0;
    UBool error = false;
    U8_APPEND(buf, n, U8_MAX_LENGTH, static_cast<UChar32>(c), error);
    if (error) {
        out += "\xEF\xBF\xBD";  // U+FFFD
        return;
    }
    out.append(buf, static_cast<std::size_t>(n));
}

// A cell's character and its combining characters.
void append_cell(std::string& out, const Terminal& terminal, std::size_t r, std::size_t c) {
    const TerminalCell& cell = terminal.row(r)[c];
    append_utf8(out, cell.character == U'\0' ? U' ' : cell.character);
    if (cell.has(kMarks))
        for (char32_t m : terminal.marks(r, c)) append_utf8(out, m);
}

Color resolve(TerminalColour colour, const Color& default_colour) {
    if (colour.is_palette()) return terminal_palette_colour(colour.index());
    if (colour.is_rgb()) return Color::from_rgba8(colour.red(), colour.green(), colour.blue());
    return default_colour;
}

// The colours a cell is drawn in, inverse and dim applied.
struct Look {
    Color fg;
    Color bg;
    std::uint16_t flags;

    bool has(std::uint16_t flag) const { return (flags & flag) != 0; }
    // The same glyphs: colour, weight and slant.
    bool same_text(const Look& o) const {
        return fg == o.fg && ((flags ^ o.flags) & (kBold | kItalic)) == 0;
    }
};

Look look_of(const TerminalCell& cell) {
    Look look{resolve(cell.colour, palette().foreground), resolve(cell.background, palette().background), cell.flags};
    if (cell.has(kInverse)) std::swap(look.fg, look.bg);
    if (cell.has(kDim)) look.fg = look.fg.mix(look.bg, 0.5f);
    return look;
}

// Where cells lie. Text starts at multiples of the cell width; fills take whole pixels, so
// that neighbouring cells meet without a seam.
struct Grid {
    double ox, oy;

    double x(std::size_t col) const { return ox + CELL_WIDTH * double(col); }
    double edge(std::size_t col) const { return std::round(x(col)); }
    double top(std::size_t row) const { return std::round(oy + LINE_HEIGHT * double(row)); }
};

// The arms of the line-drawing characters U+2500-U+257F, up, right, down and left: 0 none,
// 1 light, 2 heavy, 3 double. '-' for the dashed lines and the diagonals, which the font draws;
// rounded corners are drawn square.
constexpr std::string_view kBoxArms =
    "0101020210102020--------------------------------0110021001200220"
    "0011001200210022110012002100220010011002200120021110121021101120"
    "2120221012202220101110122011102120212012102220220111011202110212"
    "0121012202210222110111021201120221012102220122021111111212111212"
    "211111212121211222111122122122121222212222212222----------------"
    "0303303003100130033000130031003313003100330010033001300313103130"
    "3330101330313033031301310333130331013303131331313333011000111001"
    "1100------------000110000100001000022000020000200201102001022010";
static_assert(kBoxArms.size() == 128 * 4);

constexpr std::string_view box_arms(char32_t c) {
    if (c < 0x2500 || c > 0x257F) return {};
    const std::string_view arms = kBoxArms.substr(std::size_t(c - 0x2500) * 4, 4);
    return arms[0] == '-' ? std::string_view{} : arms;
}

// What the font would leave gaps between or cannot join: line drawing, block elements, shades
// and the DEC scan lines.
bool drawn_as_fills(char32_t c) {
    return (c >= 0x2500 && c <= 0x257F && !box_arms(c).empty()) || (c >= 0x2580 && c <= 0x259F) ||
           (c >= 0x23BA && c <= 0x23BD);
}

class CellFills {
public:
    CellFills(const PaintContext& ctx, Rect cell, const Color& colour) : ctx_(ctx), cell_(cell), colour_(colour) {
        cx_ = std::floor((cell.x0 + cell.x1) / 2.0);
        cy_ = cell.y0 + LINE_MIDDLE;
    }

    void draw(char32_t c) {
        if (c >= 0x2580) return block(c);
        if (c < 0x2500) {
            // Scan lines 1, 3, 7 and 9 of ten.
            constexpr double kFrom[] = {1.0, 5.0, 15.0, 19.0};
            const double y = cell_.y0 + kFrom[c - 0x23BA];
            return fill(cell_.x0, y, cell_.x1, y + 1.0);
        }
        const std::string_view a = box_arms(c);
        std::array<int, 4> arms{};
        for (int i = 0; i < 4; ++i) arms[i] = a[std::size_t(i)] - '0';
        lines(arms);
    }

private:
    enum { Up, Right, Down, Left };
    // A line of weight w covers [centre + low(w), centre + high(w)) across; a double one is two
    // 1 px rails at low and high - 1.
    static double low(int w) { return w == 1 ? 0.0 : -1.0; }
    static double high(int w) { return w == 1 ? 1.0 : 2.0; }

    void fill(double x0, double y0, double x1, double y1) const {
        if (x1 > x0 && y1 > y0) ctx_.fill(colour_, Rect{x0, y0, x1, y1});
    }

    // Where a rail of a double arm starts, from the centre: `near` is the arm across it on the
    // rail's side, `far` the one on the other side, `opposite` the arm in line with it.
    static double rail_start(int near, int far, int opposite) {
        if (near == 3) return 1.0;
        if (near != 0) return low(near);
        if (opposite == 3) return 0.0;
        if (far != 0 && far != 3) return low(far);
        return -1.0;
    }

    void lines(const std::array<int, 4>& arms) const {
        // Single arms reach over the centre as far as the widest arm there.
        double lo = 0.0, hi = 1.0;
        for (int w : arms)
            if (w != 0) lo = std::min(lo, low(w)), hi = std::max(hi, high(w));
        const double x0 = cell_.x0, x1 = cell_.x1, y0 = cell_.y0, y1 = cell_.y1, cx = cx_, cy = cy_;
        const auto across_h = [&](int w, double from, double to) {  // a horizontal arm from..to
            if (w != 3) return fill(from, cy + low(w), to, cy + high(w));
        };
        const auto across_v = [&](int w, double from, double to) {
            if (w != 3) return fill(cx + low(w), from, cx + high(w), to);
        };
        const int up = arms[Up], right = arms[Right], down = arms[Down], left = arms[Left];
        if (right) across_h(right, cx + lo, x1);
        if (left) across_h(left, x0, cx + hi);
        if (up) across_v(up, y0, cy + hi);
        if (down) across_v(down, cy + lo, y1);
        // Rails: the one towards up (or left) at -1, the other at +1.
        if (right == 3) {
            fill(cx + rail_start(up, down, left), cy - 1, x1, cy);
            fill(cx + rail_start(down, up, left), cy + 1, x1, cy + 2);
        }
        if (left == 3) {
            fill(x0, cy - 1, cx + 1 - rail_start(up, down, right), cy);
            fill(x0, cy + 1, cx + 1 - rail_start(down, up, right), cy + 2);
        }
        if (down == 3) {
            fill(cx - 1, cy + rail_start(left, right, up), cx, y1);
            fill(cx + 1, cy + rail_start(right, left, up), cx + 2, y1);
        }
        if (up == 3) {
            fill(cx - 1, y0, cx, cy + 1 - rail_start(left, right, down));
            fill(cx + 1, y0, cx + 2, cy + 1 - rail_start(right, left, down));
        }
    }

    // Block elements U+2580-U+259F in eighths and quadrants of the cell; shades as the
    // colour at a quarter, half and three quarters.
    void block(char32_t c) const {
        const auto at_x = [&](double f) { return std::round(cell_.x0 + f * (cell_.x1 - cell_.x0)); };
        const auto at_y = [&](double f) { return std::round(cell_.y0 + f * (cell_.y1 - cell_.y0)); };
        const auto part = [&](double fx0, double fy0, double fx1, double fy1) {
            fill(at_x(fx0), at_y(fy0), at_x(fx1), at_y(fy1));
        };
        if (c == 0x2580) return part(0, 0, 1, 0.5);
        if (c <= 0x2588) return part(0, 1 - double(c - 0x2580) / 8, 1, 1);
        if (c <= 0x258F) return part(0, 0, double(0x2590 - c) / 8, 1);
        if (c == 0x2590) return part(0.5, 0, 1, 1);
        if (c <= 0x2593) {
            ctx_.fill(colour_.with_alpha(colour_.a * float(c - 0x2590) / 4.0f), cell_);
            return;
        }
        if (c == 0x2594) return part(0, 0, 1, 0.125);
        if (c == 0x2595) return part(0.875, 0, 1, 1);
        // Quadrants: upper left, upper right, lower left, lower right.
        constexpr std::uint8_t kQuadrants[] = {0b0010, 0b0001, 0b1000, 0b1011, 0b1001,
                                               0b1110, 0b1101, 0b0100, 0b0110, 0b0111};
        const std::uint8_t q = kQuadrants[c - 0x2596];
        if (q & 0b1000) part(0, 0, 0.5, 0.5);
        if (q & 0b0100) part(0.5, 0, 1, 0.5);
        if (q & 0b0010) part(0, 0.5, 0.5, 1);
        if (q & 0b0001) part(0.5, 0.5, 1, 1);
    }

    const PaintContext& ctx_;
    Rect cell_;
    Color colour_;
    double cx_, cy_;
};

zavo_ui::TextStyle text_style(const Look& look) {
    zavo_ui::TextStyle style = zavo_ui::TextStyle::of_size(GRID_TEXT_SIZE, look.has(kBold) ? 3 : 0);
    style.family = zavo_ui::FontFamily::Mono;
    style.italic = look.has(kItalic);
    return style;
}

// Cells in the grid's own ground need no fill: most of them.
bool grounded(const TerminalCell& cell) { return cell.has(kInverse) || !cell.background.is_default(); }

// Cells with the same pen look the same.
bool same_pen(const TerminalCell& a, const TerminalCell& b) {
    return a.colour == b.colour && a.background == b.background && ((a.flags ^ b.flags) & kAttributes) == 0;
}

// Calls draw(from, to, colour) for each run of neighbouring cells that `taken` takes and
// `colour_of` gives one colour.
template <class Taken, class ColourOf, class Draw>
void bands(std::span<const TerminalCell> row, Taken taken, ColourOf colour_of, Draw draw) {
    for (std::size_t c = 0; c < row.size();) {
        if (!taken(row[c])) {
            ++c;
            continue;
        }
        const Color colour = colour_of(row[c]);
        std::size_t end = c + 1;
        while (end < row.size() && taken(row[end]) && (same_pen(row[end], row[c]) || colour_of(row[end]) == colour))
            ++end;
        draw(c, end, colour);
        c = end;
    }
}

void paint_grounds(const PaintContext& ctx, const Grid& grid, std::size_t r, std::span<const TerminalCell> row) {
    bands(row, grounded, [](const TerminalCell& cell) { return look_of(cell).bg; },
          [&](std::size_t from, std::size_t to, const Color& bg) {
              if (bg != palette().background)
                  ctx.fill(bg, Rect{grid.edge(from), grid.top(r), grid.edge(to), grid.top(r + 1)});
          });
}

void paint_lines(const PaintContext& ctx, const Grid& grid, std::size_t r, std::span<const TerminalCell> row,
                 std::uint16_t flag, double from_top) {
    const double y = grid.top(r) + from_top;
    bands(row, [flag](const TerminalCell& cell) { return cell.has(flag) && !cell.has(kInvisible); },
          [](const TerminalCell& cell) { return look_of(cell).fg; },
          [&](std::size_t from, std::size_t to, const Color& fg) {
              ctx.fill(fg, Rect{grid.edge(from), y, grid.edge(to), y + 1.0});
          });
}

void paint_text(const PaintContext& ctx, const Grid& grid, const Terminal& terminal, std::size_t r,
                std::span<const TerminalCell> row, std::string& text) {
    const double y = grid.top(r);
    // Drawn on their own: wide characters, and characters with combining ones, which fonts may
    // give an advance of their own (the rest of a run would slide off the grid).
    const auto alone = [](const TerminalCell& cell) {
        return cell.has(kWide | kWideTail | kInvisible | kMarks) || drawn_as_fills(cell.character);
    };
    for (std::size_t c = 0; c < row.size();) {
        const TerminalCell& cell = row[c];
        const Look look = look_of(cell);
        if (cell.has(kWideTail | kInvisible)) {
            ++c;
            continue;
        }
        if (drawn_as_fills(cell.character)) {
            CellFills(ctx, Rect{grid.edge(c), y, grid.edge(c + 1), grid.top(r + 1)}, look.fg).draw(cell.character);
            ++c;
            continue;
        }
        text.clear();
        append_cell(text, terminal, r, c);
        const zavo_ui::TextStyle style = text_style(look);
        if (cell.has(kWide)) {
            // Centred on its two cells: a wide glyph is narrower than two grid cells.
            const double width = ctx.text.measure_styled(text, style).width;
            const double x = grid.x(c) + (2.0 * CELL_WIDTH - width) / 2.0;
            ctx.text.draw_styled(ctx.scene, ctx.transform.pre_translate(x, y), text, style, look.fg);
            c += 2;
            continue;
        }
        std::size_t end = c + 1;
        for (; end < row.size() && !cell.has(kMarks) && !alone(row[end]) &&
               (same_pen(row[end], cell) || look_of(row[end]).same_text(look));
             ++end)
            append_cell(text, terminal, r, end);
        // Without the blanks at either end (the grounds and lines are drawn apart).
        const std::size_t first = text.find_first_not_of(' ');
        if (first != std::string::npos) {
            text.erase(text.find_last_not_of(' ') + 1);
            text.erase(0, first);
            ctx.text.draw_styled(ctx.scene, ctx.transform.pre_translate(grid.x(c + first), y), text, style, look.fg);
        }
        c = end;
    }
}

}  // namespace

const Color& terminal_palette_colour(std::uint8_t index) {
    static const std::array<Color, 256> colours = [] {
        std::array<Color, 256> out{};
        for (std::size_t i = 0; i < 16; ++i) out[i] = palette().colors[i];
        constexpr std::uint8_t kLevels[] = {0, 95, 135, 175, 215, 255};
        for (std::size_t i = 0; i < 216; ++i)
            out[16 + i] = Color::from_rgba8(kLevels[i / 36], kLevels[i / 6 % 6], kLevels[i % 6]);
        for (std::size_t i = 0; i < 24; ++i) {
            const auto v = std::uint8_t(8 + 10 * i);
            out[232 + i] = Color::from_rgba8(v, v, v);
        }
        return out;
    }();
    return colours[index];
}

std::span<const TerminalCell> trim_terminal_rows(std::span<const TerminalCell> row) {
    const auto blank = [](const TerminalCell& cell) {
        return cell.character == U' ' && cell.colour.is_default() && cell.background.is_default() &&
               !cell.has(kInverse | kUnderline | kStrike);
    };
    std::size_t end = row.size();
    while (end > 0 && blank(row[end - 1])) --end;
    return row.first(end);
}

void paint_terminal(const PaintContext& ctx, const Terminal& terminal, const Rect& surface) {
    ctx.fill(palette().background, surface);
    ctx.scene.push_clip(ctx.transform, surface);
    const Grid grid{surface.x0 + GRID_INSET, surface.y0 + GRID_INSET};
    // Every ground first: a glyph that reaches past its row is not cut by the next one.
    for (std::size_t r = 0; r < terminal.rows(); ++r) paint_grounds(ctx, grid, r, trim_terminal_rows(terminal.row(r)));
    std::string text;
    for (std::size_t r = 0; r < terminal.rows(); ++r) {
        const auto row = trim_terminal_rows(terminal.row(r));
        paint_text(ctx, grid, terminal, r, row, text);
        paint_lines(ctx, grid, r, row, kUnderline, UNDERLINE_TOP);
        paint_lines(ctx, grid, r, row, kStrike, STRIKE_TOP);
    }
    if (terminal.cursor_visible()) {
        const std::size_t c = terminal.cursor_col();
        const std::size_t r = terminal.cursor_row();
        const std::size_t width = terminal.row(r)[c].has(kWide) ? 2 : 1;
        const double y = grid.top(r);
        ctx.fill(color_with_alpha(palette().foreground, 0.6f),
                 Rect{grid.edge(c), y, grid.edge(c + width), y + CURSOR_HEIGHT});
    }
    ctx.scene.pop_layer();
}

TerminalText terminal_text(const Terminal& terminal) {
    TerminalText out;
    std::string& text = out.text;
    for (std::size_t r = 0; r < terminal.rows(); ++r) {
        if (r > 0) text += '\n';
        const auto row = terminal.row(r);
        const bool cursor_row = r == terminal.cursor_row();
        std::size_t kept = text.size();  // the row ends here unless what follows shows
        std::size_t last = text.size();  // where the last character starts
        for (std::size_t c = 0; c < row.size(); ++c) {
            if (cursor_row && c == terminal.cursor_col()) {
                out.cursor = row[c].has(kWideTail) ? last : text.size();
                kept = text.size();
            }
            if (row[c].has(kWideTail)) continue;
            last = text.size();
            if (row[c].has(kInvisible))
                text += ' ';
            else
                append_cell(text, terminal, r, c);
            if (text.back() != ' ') kept = text.size();
        }
        text.resize(kept);
    }
    return out;
}

}  // namespace remote::views

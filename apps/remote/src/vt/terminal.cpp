#include "vt/terminal.hpp"

#include <algorithm>
#include <optional>

#include "vt/char_width.hpp"

namespace remote {

namespace {

using namespace cell_flag;

// The final bytes of the CSI sequences acted on, by their ECMA-48 and DEC mnemonics.
enum Csi : char {
    ICH = '@',      // insert characters
    CUU = 'A',      // cursor up
    CUD = 'B',      // cursor down
    CUF = 'C',      // cursor forward
    CUB = 'D',      // cursor backward
    CNL = 'E',      // cursor next line
    CPL = 'F',      // cursor preceding line
    CHA = 'G',      // cursor character absolute
    CUP = 'H',      // cursor position
    CHT = 'I',      // cursor forward tabulation
    ED = 'J',       // erase in page
    EL = 'K',       // erase in line
    IL = 'L',       // insert lines
    DL = 'M',       // delete lines
    DCH = 'P',      // delete characters
    SU = 'S',       // scroll up
    SD = 'T',       // scroll down
    ECH = 'X',      // erase characters
    CBT = 'Z',      // cursor backward tabulation
    HPA = '`',      // character position absolute
    REP = 'b',      // repeat the last character
    DA = 'c',       // device attributes (primary; secondary with '>')
    VPA = 'd',      // line position absolute
    HVP = 'f',      // character and line position
    TBC = 'g',      // tabulation clear
    SM = 'h',       // set mode (DEC private with '?')
    RM = 'l',       // reset mode (DEC private with '?')
    SGR = 'm',      // select graphic rendition
    DSR = 'n',      // device status report
    DECSTR = 'p',   // soft terminal reset, with '!'
    DECSTBM = 'r',  // set top and bottom margins
    SCOSC = 's',    // save cursor
    SCORC = 'u',    // restore cursor
};

// The modes acted on: ANSI ones, and DEC private ones (with '?').
enum Mode : std::uint16_t {
    IRM = 4,  // insert
};
enum DecMode : std::uint16_t {
    DECCKM = 1,   // application cursor keys
    DECOM = 6,    // origin in the scroll region
    DECAWM = 7,   // autowrap
    DECTCEM = 25,  // cursor visible
    ALT_SCREEN = 47,
    ALT_SCREEN_CLEARED = 1047,     // the alternate screen, cleared when left
    SAVE_CURSOR = 1048,
    ALT_SCREEN_SAVING_CURSOR = 1049,  // 1048 and 1047, the alternate screen cleared when entered
    BRACKETED_PASTE = 2004,
};

// The C0 controls acted on.
enum C0 : std::uint8_t {
    BS = 0x08,  // backspace
    HT = 0x09,  // horizontal tab
    LF = 0x0A,  // line feed
    VT = 0x0B,  // vertical tab
    FF = 0x0C,  // form feed
    CR = 0x0D,  // carriage return
    SO = 0x0E,  // shift out: G1
    SI = 0x0F,  // shift in: G0
};

// The SGR parameter values acted on.
enum Sgr : std::uint16_t {
    SGR_RESET = 0,
    SGR_BOLD = 1,
    SGR_DIM = 2,
    SGR_ITALIC = 3,
    SGR_UNDERLINE = 4,
    SGR_INVERSE = 7,
    SGR_INVISIBLE = 8,
    SGR_STRIKE = 9,
    SGR_DOUBLE_UNDERLINE = 21,
    SGR_NORMAL_INTENSITY = 22,
    SGR_NOT_ITALIC = 23,
    SGR_NOT_UNDERLINED = 24,
    SGR_NOT_INVERSE = 27,
    SGR_VISIBLE = 28,
    SGR_NOT_STRIKE = 29,
    SGR_FG_FIRST = 30,  // 30-37: palette 0-7
    SGR_FG_EXTENDED = 38,
    SGR_FG_DEFAULT = 39,
    SGR_BG_FIRST = 40,  // 40-47: palette 0-7
    SGR_BG_EXTENDED = 48,
    SGR_BG_DEFAULT = 49,
    SGR_UNDERLINE_COLOUR = 58,  // consumed; underlines take the text's colour
    SGR_FG_BRIGHT_FIRST = 90,   // 90-97: palette 8-15
    SGR_BG_BRIGHT_FIRST = 100,  // 100-107: palette 8-15
};
// The forms of an extended colour (38, 48, 58).
enum ExtendedColour : std::uint16_t { EXT_RGB = 2, EXT_PALETTE = 5 };

// A VT220 with ANSI colour; and, to CSI > c, a VT220 of firmware version 10.
constexpr std::string_view kPrimaryAttributes = "\x1b[?62;22c";
constexpr std::string_view kSecondaryAttributes = "\x1b[>1;10;0c";
constexpr std::string_view kStatusOk = "\x1b[0n";

// DEC special graphics for 0x5F-0x7E while it is the invoked set.
constexpr char32_t kDecGraphics[] = {
    U'\u00A0', U'\u25C6', U'\u2592', U'\u2409', U'\u240C', U'\u240D', U'\u240A', U'\u00B0',
    U'\u00B1', U'\u2424', U'\u240B', U'\u2518', U'\u2510', U'\u250C', U'\u2514', U'\u253C',
    U'\u23BA', U'\u23BB', U'\u2500', U'\u23BC', U'\u23BD', U'\u251C', U'\u2524', U'\u2534',
    U'\u252C', U'\u2502', U'\u2264', U'\u2265', U'\u03C0', U'\u2260', U'\u00A3', U'\u00B7',
};

// The intermediates of a sequence are exactly the one marker byte given (0: none).
bool marked(vt::Intermediates intermediates, std::uint8_t marker) {
    return marker == 0 ? intermediates.empty() : intermediates.size() == 1 && intermediates[0] == marker;
}

// Parameter `group`, or `fallback` when it is missing.
std::uint16_t param_or(const vt::Params& params, std::size_t group, std::uint16_t fallback) {
    return group < params.size() ? params[group][0] : fallback;
}

// A 1-based position parameter as a 0-based index: missing, empty or 0 means the first.
std::size_t position_param(const vt::Params& params, std::size_t group) {
    std::uint16_t v = param_or(params, group, 0);
    return v == 0 ? 0 : v - 1u;
}

// The extended colour whose form `values` start with, or nothing when malformed; `used` is
// how many values it took.
std::optional<TerminalColour> extended_colour(std::span<const std::uint16_t> values, bool colon_form,
                                              std::size_t& used) {
    if (values.empty()) return std::nullopt;
    if (values[0] == EXT_PALETTE) {
        used = std::min<std::size_t>(2, values.size());
        if (values.size() < 2 || values[1] > 255) return std::nullopt;
        return TerminalColour::palette(std::uint8_t(values[1]));
    }
    if (values[0] == EXT_RGB) {
        // 2;r;g;b, or with colons also 2:colour-space:r:g:b.
        const std::size_t first = colon_form && values.size() >= 5 ? 2 : 1;
        used = std::min(first + 3, values.size());
        if (values.size() < first + 3) return std::nullopt;
        const auto r = values[first], g = values[first + 1], b = values[first + 2];
        if (r > 255 || g > 255 || b > 255) return std::nullopt;
        return TerminalColour::rgb(std::uint8_t(r), std::uint8_t(g), std::uint8_t(b));
    }
    used = 1;
    return std::nullopt;
}

}  // namespace

std::uint16_t first_param(const vt::Params& params) {
    std::uint16_t v = param_or(params, 0, 1);
    return v == 0 ? 1 : v;
}

Terminal::Terminal(std::size_t cols, std::size_t rows)
    : cols_(std::max<std::size_t>(cols, 1)), rows_(std::max<std::size_t>(rows, 1)) {
    for (auto& s : screens_) {
        s.rows.assign(rows_, Row{std::vector<TerminalCell>(cols_), {}});
        for (std::size_t r = 0; r < rows_; ++r) s.order.push_back(std::uint32_t(r));
    }
    reset(true);
}

// The parser is instantiated here, where the callbacks can be inlined into its loops.
void Terminal::feed(std::span<const std::uint8_t> bytes) { parser_.advance(*this, bytes); }

std::u32string_view Terminal::marks(std::size_t r, std::size_t c) const {
    const Row& row = line(r);
    if (!row.cells[c].has(kMarks)) return {};
    for (const auto& m : row.marks)
        if (m.col == c) return m.text;
    return {};
}

void Terminal::reset(bool hard) {
    if (hard) {
        work_ += 2 * rows_ * cols_;
        for (auto& s : screens_) {
            for (auto& row : s.rows) {
                std::fill(row.cells.begin(), row.cells.end(), TerminalCell{});
                row.marks.clear();
            }
        }
        active_ = 0;
        cursor_ = {};
        tab_stops_.assign(cols_, false);
        for (std::size_t c = 8; c < cols_; c += 8) tab_stops_[c] = true;
        bracketed_paste_ = false;
        last_printed_ = 0;
    }
    pen_ = {};
    top_ = 0;
    bottom_ = rows_ - 1;
    graphics_ = {};
    shift_ = 0;
    origin_ = false;
    autowrap_ = true;
    insert_ = false;
    cursor_visible_ = true;
    application_cursor_keys_ = false;
    application_keypad_ = false;
    for (auto& s : screens_) s.saved = {};
}

inline void Terminal::wrap_if_pending() {
    if (!cursor_.wrap_pending) return;
    cursor_.wrap_pending = false;
    if (!autowrap_) return;
    cursor_.col = 0;
    index();
}

void Terminal::print(char32_t c) {
    if (c < 0x80) {
        if (c == 0x7F) return;  // DEL is no character
        if (graphics_[shift_] && c >= 0x5F) c = kDecGraphics[c - 0x5F];
        put_char(c, 1);
        return;
    }
    switch (vt::char_width(c)) {
        case vt::CharWidth::None: return;
        case vt::CharWidth::Joins: join_previous(c); return;
        case vt::CharWidth::Narrow: put_char(c, 1); return;
        case vt::CharWidth::Wide: put_char(c, 2); return;
    }
}

// As printing `c` n times. Once every cell the repeats reach holds it, another row of them
// leaves the screen as it was: at most a few screens' worth is written, whatever n says.
void Terminal::repeat(char32_t c, std::size_t n) {
    std::size_t width = 1;
    if (c < 0x80) {
        if (graphics_[shift_] && c >= 0x5F) c = kDecGraphics[c - 0x5F];
    } else if (vt::char_width(c) == vt::CharWidth::Wide) {
        width = 2;
    }
    if (width > cols_) return;
    // Rows to reach the bottom of the scroll region (or of the screen below it), rows to
    // scroll every row of the region full, and the rows the first and last repeats share.
    const std::size_t per_row = cols_ / width;
    const std::size_t settled = (2 * rows_ + 3) * per_row;
    if (n > settled) n = settled + (n - settled) % per_row;
    while (n > 0) {
        wrap_if_pending();
        if (width == 2 && cursor_.col + 1 == cols_) {
            if (!autowrap_) return;
            cursor_.col = 0;
            index();
        }
        const std::size_t k = std::min(n, (cols_ - cursor_.col) / width);
        put_run(c, width, k);
        n -= k;
    }
}

void Terminal::put_run(char32_t c, std::size_t width, std::size_t n) {
    if (insert_) insert_cells(n * width);
    Row& row = line(cursor_.row);
    const std::size_t col = cursor_.col;
    const std::size_t end = col + n * width;
    free_cells(row, col, end);
    TerminalCell* out = row.cells.data();
    if (width == 1) {
        std::fill(out + col, out + end, pen_cell(c));
    } else {
        TerminalCell head = pen_cell(c), tail = pen_cell(U'\0');
        head.flags |= kWide;
        tail.flags |= kWideTail;
        for (std::size_t i = col; i < end; i += 2) {
            out[i] = head;
            out[i + 1] = tail;
        }
    }
    work_ += end - col;
    if (end == cols_) {
        cursor_.col = cols_ - 1;
        cursor_.wrap_pending = autowrap_;
    } else {
        cursor_.col = end;
    }
}

void Terminal::print_ascii(std::span<const std::uint8_t> text) {
    if (graphics_[shift_] || insert_) {
        for (auto b : text) print(b);
        return;
    }
    const std::uint8_t* p = text.data();
    const std::uint8_t* const end = p + text.size();
    const TerminalCell pen = pen_cell(U' ');
    while (p != end) {
        wrap_if_pending();
        Row& row = line(cursor_.row);
        const std::size_t col = cursor_.col;
        const std::size_t n = std::min<std::size_t>(std::size_t(end - p), cols_ - col);
        free_cells(row, col, col + n);
        TerminalCell* out = row.cells.data() + col;
        for (std::size_t i = 0; i < n; ++i) {
            out[i] = pen;
            out[i].character = p[i];
        }
        p += n;
        if (col + n == cols_) {
            cursor_.col = cols_ - 1;
            cursor_.wrap_pending = autowrap_;
        } else {
            cursor_.col = col + n;
        }
    }
    last_printed_ = text.back();
}

void Terminal::put_char(char32_t c, std::size_t width) {
    last_printed_ = c;  // also when it does not fit: a repeat of it shows nothing either
    if (width > cols_) return;
    wrap_if_pending();
    if (width == 2 && cursor_.col + 1 == cols_) {
        // No room for both halves in the last column: wrap first, or drop it without autowrap.
        if (!autowrap_) return;
        cursor_.col = 0;
        index();
    }
    if (insert_) insert_cells(width);
    Row& row = line(cursor_.row);
    const std::size_t col = cursor_.col;
    free_cells(row, col, col + width);
    row.cells[col] = pen_cell(c);
    if (width == 2) {
        row.cells[col].flags |= kWide;
        row.cells[col + 1] = pen_cell(U'\0');
        row.cells[col + 1].flags |= kWideTail;
    }
    if (col + width == cols_) {
        cursor_.col = cols_ - 1;
        cursor_.wrap_pending = autowrap_;
    } else {
        cursor_.col = col + width;
    }
}

void Terminal::join_previous(char32_t mark) {
    // The character before the cursor; after the last column's character that is the cell under it.
    std::size_t col = cursor_.col;
    if (!cursor_.wrap_pending) {
        if (col == 0) return;
        --col;
    }
    Row& row = line(cursor_.row);
    if (row.cells[col].has(kWideTail) && col > 0) --col;
    TerminalCell& cell = row.cells[col];
    if (!cell.has(kMarks)) {
        row.marks.push_back(Mark{std::uint32_t(col), std::u32string(1, mark)});
        cell.flags |= kMarks;
        return;
    }
    // Finding the cell's marks looks through the row's.
    work_ += row.marks.size();
    const auto m = std::ranges::find(row.marks, std::uint32_t(col), &Mark::col);
    if (m != row.marks.end() && m->text.size() < kMaxMarksPerCell) m->text += mark;
}

void Terminal::unpair(Row& row, std::size_t col) {
    TerminalCell& cell = row.cells[col];
    std::size_t other;
    if (cell.has(kWideTail)) {
        if (col == 0) return;
        other = col - 1;
        cell.character = U' ';
    } else {
        if (col + 1 >= cols_) return;
        other = col + 1;
    }
    drop_marks(row, other, other + 1);
    TerminalCell& half = row.cells[other];
    half.character = U' ';
    half.flags &= ~(kWide | kWideTail);
    cell.flags &= ~(kWide | kWideTail);
}

void Terminal::erase_marks(Row& row, std::size_t from, std::size_t to) {
    work_ += row.marks.size();
    std::erase_if(row.marks, [&](const Mark& m) {
        if (m.col < from || m.col >= to) return false;
        row.cells[m.col].flags &= ~kMarks;
        return true;
    });
}

void Terminal::index() {
    cursor_.wrap_pending = false;
    if (cursor_.row == bottom_) {
        scroll_up(top_, bottom_, 1);
    } else if (cursor_.row + 1 < rows_) {
        ++cursor_.row;
    }
}

void Terminal::reverse_index() {
    cursor_.wrap_pending = false;
    if (cursor_.row == top_) {
        scroll_down(top_, bottom_, 1);
    } else if (cursor_.row > 0) {
        --cursor_.row;
    }
}

// Rows top..bottom move up by n; n blank rows come in at the bottom.
void Terminal::scroll_up(std::size_t top, std::size_t bottom, std::size_t n) {
    auto& rows = screen().order;
    n = std::min(n, bottom - top + 1);
    auto first = rows.begin() + std::ptrdiff_t(top);
    auto last = rows.begin() + std::ptrdiff_t(bottom + 1);
    std::rotate(first, first + std::ptrdiff_t(n), last);
    work_ += bottom + 1 - top;
    for (std::size_t r = bottom + 1 - n; r <= bottom; ++r) erase(r, 0, cols_);
}

// Rows top..bottom move down by n; n blank rows come in at the top.
void Terminal::scroll_down(std::size_t top, std::size_t bottom, std::size_t n) {
    auto& rows = screen().order;
    n = std::min(n, bottom - top + 1);
    auto first = rows.begin() + std::ptrdiff_t(top);
    auto last = rows.begin() + std::ptrdiff_t(bottom + 1);
    std::rotate(first, last - std::ptrdiff_t(n), last);
    work_ += bottom + 1 - top;
    for (std::size_t r = top; r < top + n; ++r) erase(r, 0, cols_);
}

// Cells from..to-1 of row r become blanks in the pen's background.
void Terminal::erase(std::size_t r, std::size_t from, std::size_t to) {
    if (from >= to) return;
    work_ += to - from;
    Row& row = line(r);
    free_cells(row, from, to);
    std::fill(row.cells.begin() + std::ptrdiff_t(from), row.cells.begin() + std::ptrdiff_t(to), blank());
}

void Terminal::insert_cells(std::size_t n) {
    cursor_.wrap_pending = false;
    Row& row = line(cursor_.row);
    const std::size_t col = cursor_.col;
    n = std::min(n, cols_ - col);
    work_ += cols_ - col;
    // Blanks inserted inside a two-cell character split it; before its left half it moves whole.
    if (row.cells[col].has(kWideTail)) unpair(row, col);
    // What is pushed past the end is lost, a character's left half included.
    free_cells(row, cols_ - n, cols_);
    for (auto& m : row.marks)
        if (m.col >= col) m.col += std::uint32_t(n);
    auto cells = row.cells.begin();
    std::move_backward(cells + std::ptrdiff_t(col), cells + std::ptrdiff_t(cols_ - n), cells + std::ptrdiff_t(cols_));
    std::fill(cells + std::ptrdiff_t(col), cells + std::ptrdiff_t(col + n), blank());
}

void Terminal::delete_cells(std::size_t n) {
    cursor_.wrap_pending = false;
    Row& row = line(cursor_.row);
    const std::size_t col = cursor_.col;
    n = std::min(n, cols_ - col);
    work_ += cols_ - col;
    free_cells(row, col, col + n);
    for (auto& m : row.marks)
        if (m.col >= col + n) m.col -= std::uint32_t(n);
    auto cells = row.cells.begin();
    std::move(cells + std::ptrdiff_t(col + n), cells + std::ptrdiff_t(cols_), cells + std::ptrdiff_t(col));
    std::fill(cells + std::ptrdiff_t(cols_ - n), cells + std::ptrdiff_t(cols_), blank());
}

void Terminal::move_to(std::size_t row, std::size_t col) {
    cursor_.row = std::min(row, rows_ - 1);
    cursor_.col = std::min(col, cols_ - 1);
    cursor_.wrap_pending = false;
}

// In origin mode rows count from the top of the scroll region and stay inside it.
void Terminal::move_to_origin_relative(std::size_t row, std::size_t col) {
    if (origin_) {
        move_to(std::min(top_ + row, bottom_), col);
    } else {
        move_to(row, col);
    }
}

// Up or down by n rows, stopping at the margin of the scroll region when starting inside it.
std::size_t Terminal::row_up(std::size_t n) const {
    const std::size_t row = cursor_.row;
    return row - std::min(n, row - (row >= top_ ? top_ : 0));
}

std::size_t Terminal::row_down(std::size_t n) const {
    const std::size_t row = cursor_.row;
    return std::min(row + n, row <= bottom_ ? bottom_ : rows_ - 1);
}

void Terminal::tab_forward(std::size_t n) {
    // At the last column a pending wrap stays: the next character goes to the next row.
    if (cursor_.wrap_pending) return;
    std::size_t col = cursor_.col;
    while (n-- > 0 && col + 1 < cols_) {
        ++col;
        while (col + 1 < cols_ && !tab_stops_[col]) ++col;
    }
    work_ += col - cursor_.col;
    move_to(cursor_.row, col);
}

void Terminal::tab_backward(std::size_t n) {
    std::size_t col = cursor_.col;
    while (n-- > 0 && col > 0) {
        --col;
        while (col > 0 && !tab_stops_[col]) --col;
    }
    work_ += cursor_.col - col;
    move_to(cursor_.row, col);
}

void Terminal::save_cursor() { screen().saved = Saved{cursor_, pen_, origin_, graphics_, shift_}; }

void Terminal::restore_cursor() {
    const Saved& s = screen().saved;
    cursor_ = s.cursor;
    pen_ = s.pen;
    origin_ = s.origin;
    graphics_ = s.graphics;
    shift_ = s.shift;
    if (!autowrap_) cursor_.wrap_pending = false;
    // The region may have moved since the save; origin mode keeps the cursor inside it.
    if (origin_) cursor_.row = std::clamp(cursor_.row, top_, bottom_);
}

// The cursor stays where it is; each screen keeps its own saved cursor.
void Terminal::switch_screen(std::size_t which, bool clear) {
    active_ = which;
    if (clear) {
        for (std::size_t r = 0; r < rows_; ++r) erase(r, 0, cols_);
    }
}

void Terminal::set_mode(const vt::Params& params, bool dec, bool on) {
    for (std::size_t g = 0; g < params.size(); ++g) {
        const std::uint16_t mode = params[g][0];
        if (!dec) {
            if (mode == IRM) insert_ = on;
            continue;
        }
        switch (mode) {
            case DECCKM: application_cursor_keys_ = on; break;
            case DECOM:
                origin_ = on;
                move_to_origin_relative(0, 0);
                break;
            case DECAWM:
                autowrap_ = on;
                if (!on) cursor_.wrap_pending = false;
                break;
            case DECTCEM: cursor_visible_ = on; break;
            case ALT_SCREEN: switch_screen(on ? 1 : 0, false); break;
            case ALT_SCREEN_CLEARED:
                if (on) {
                    switch_screen(1, false);
                } else if (active_ == 1) {
                    switch_screen(1, true);
                    switch_screen(0, false);
                }
                break;
            case SAVE_CURSOR:
                if (on) {
                    save_cursor();
                } else {
                    restore_cursor();
                }
                break;
            case ALT_SCREEN_SAVING_CURSOR:
                if (on && active_ == 0) {
                    save_cursor();
                    switch_screen(1, true);
                } else if (!on) {
                    switch_screen(0, false);
                    restore_cursor();
                }
                break;
            case BRACKETED_PASTE: bracketed_paste_ = on; break;
            default: break;  // mouse reporting and the rest: consumed
        }
    }
}

void Terminal::execute(std::uint8_t byte) {
    last_printed_ = 0;
    switch (byte) {
        case BS:  // one column left, not past the first; from a pending wrap, left of the last column
            if (cursor_.col > 0) --cursor_.col;
            cursor_.wrap_pending = false;
            break;
        case HT: tab_forward(1); break;
        case LF:  // each an index; the column stays
        case VT:
        case FF: index(); break;
        case CR: move_to(cursor_.row, 0); break;
        case SO: shift_ = 1; break;
        case SI: shift_ = 0; break;
        default:  // the bell and the rest do nothing
            break;
    }
}

void Terminal::esc_dispatch(vt::Intermediates intermediates, bool ignore, std::uint8_t final) {
    last_printed_ = 0;
    if (ignore) return;
    if (intermediates.size() == 1 && (intermediates[0] == '(' || intermediates[0] == ')')) {
        // G0 or G1: DEC special graphics ('0'); every other set is taken as ASCII.
        graphics_[intermediates[0] == ')' ? 1 : 0] = final == '0';
        return;
    }
    if (!intermediates.empty()) return;
    switch (final) {
        case '7': save_cursor(); break;                          // DECSC
        case '8': restore_cursor(); break;                       // DECRC
        case 'D': index(); break;                                // IND
        case 'E': move_to(cursor_.row, 0); index(); break;       // NEL
        case 'H': tab_stops_[cursor_.col] = true; break;         // HTS
        case 'M': reverse_index(); break;                        // RI
        case 'c': reset(true); break;                            // RIS
        case '=': application_keypad_ = true; break;             // DECKPAM
        case '>': application_keypad_ = false; break;            // DECKPNM
        default: break;
    }
}

void Terminal::csi_dispatch(const vt::Params& params, vt::Intermediates intermediates, bool ignore, char action) {
    const char32_t last = std::exchange(last_printed_, 0);
    if (ignore) return;
    // Private markers select other functions: '?' DEC modes and selective erase (taken as
    // plain erase), '>' secondary attributes, '!' soft reset; any other marker is another
    // terminal's extension and is consumed.
    if (marked(intermediates, '?')) {
        if (action == SM || action == RM) set_mode(params, true, action == SM);
        if (action != ED && action != EL) return;
    } else if (marked(intermediates, '>')) {
        if (action == DA && param_or(params, 0, 0) == 0) reply(kSecondaryAttributes);
        return;
    } else if (marked(intermediates, '!')) {
        if (action == DECSTR) reset(false);
        return;
    } else if (!intermediates.empty()) {
        return;
    }
    const std::size_t n = first_param(params);
    const std::size_t row = cursor_.row;
    const std::size_t col = cursor_.col;
    switch (action) {
        case ICH: insert_cells(n); break;
        case CUU: move_to(row_up(n), col); break;
        case CUD: move_to(row_down(n), col); break;
        case CUF: move_to(row, col + n); break;
        case CUB: move_to(row, col - std::min(n, col)); break;
        case CNL: move_to(row_down(n), 0); break;
        case CPL: move_to(row_up(n), 0); break;
        case CHA:
        case HPA: move_to(row, n - 1); break;
        case VPA: move_to_origin_relative(n - 1, col); break;
        case CUP:
        case HVP: move_to_origin_relative(position_param(params, 0), position_param(params, 1)); break;
        case CHT: tab_forward(n); break;
        case CBT: tab_backward(n); break;
        case ED:
            switch (param_or(params, 0, 0)) {
                case 0:
                    erase(row, col, cols_);
                    for (std::size_t r = row + 1; r < rows_; ++r) erase(r, 0, cols_);
                    break;
                case 1:
                    for (std::size_t r = 0; r < row; ++r) erase(r, 0, cols_);
                    erase(row, 0, col + 1);
                    break;
                case 2:
                    for (std::size_t r = 0; r < rows_; ++r) erase(r, 0, cols_);
                    break;
                default: break;  // 3 erases the saved lines, and there are none
            }
            cursor_.wrap_pending = false;
            break;
        case EL:
            switch (param_or(params, 0, 0)) {
                case 0: erase(row, col, cols_); break;
                case 1: erase(row, 0, col + 1); break;
                case 2: erase(row, 0, cols_); break;
                default: break;
            }
            cursor_.wrap_pending = false;
            break;
        case IL:
        case DL:
            // Only inside the scroll region; the cursor goes to the first column.
            if (row < top_ || row > bottom_) break;
            if (action == IL) {
                scroll_down(row, bottom_, n);
            } else {
                scroll_up(row, bottom_, n);
            }
            move_to(row, 0);
            break;
        case DCH: delete_cells(n); break;
        case SU: scroll_up(top_, bottom_, n); break;
        case SD:
            if (params.size() <= 1) scroll_down(top_, bottom_, n);  // five parameters: mouse tracking
            break;
        case ECH:
            erase(row, col, std::min(cols_, col + n));
            cursor_.wrap_pending = false;
            break;
        case REP:  // a repeat is no character of its own to repeat again
            if (last != 0) repeat(last, n);
            break;
        case DA:
            if (param_or(params, 0, 0) == 0) reply(kPrimaryAttributes);
            break;
        case TBC:
            if (param_or(params, 0, 0) == 0) tab_stops_[col] = false;
            if (param_or(params, 0, 0) == 3) std::fill(tab_stops_.begin(), tab_stops_.end(), false);
            break;
        case SM:
        case RM: set_mode(params, false, action == SM); break;
        case SGR: set_graphic_rendition(params); break;
        case DSR:
            if (param_or(params, 0, 0) == 5) reply(kStatusOk);
            if (param_or(params, 0, 0) == 6) report_cursor(row + 1 - (origin_ ? top_ : 0), col + 1);
            break;
        case DECSTBM: {
            const std::size_t top = position_param(params, 0);
            const std::size_t bottom = std::min<std::size_t>(param_or(params, 1, 0) == 0 ? rows_ : params[1][0], rows_);
            if (top + 1 >= bottom) break;  // at least two rows
            top_ = top;
            bottom_ = bottom - 1;
            move_to_origin_relative(0, 0);
            break;
        }
        case SCOSC:
            if (params.size() <= 1 && param_or(params, 0, 0) == 0) save_cursor();
            break;
        case SCORC: restore_cursor(); break;
        default: break;
    }
}

void Terminal::set_graphic_rendition(const vt::Params& params) {
    auto set = [&](std::uint16_t flag, bool on) {
        pen_.attributes = on ? pen_.attributes | flag : pen_.attributes & ~flag;
    };
    for (std::size_t g = 0; g < params.size(); ++g) {
        const auto group = params[g];
        const std::uint16_t v = group[0];
        if (v == SGR_FG_EXTENDED || v == SGR_BG_EXTENDED || v == SGR_UNDERLINE_COLOUR) {
            // 38:5:n and 38:2:r:g:b within one group, or 38;5;n and 38;2;r;g;b over the
            // groups that follow; either way the arguments are taken here and nowhere else.
            std::optional<TerminalColour> colour;
            std::size_t used = 0;
            if (group.size() > 1) {
                colour = extended_colour(group.subspan(1), true, used);
            } else {
                std::array<std::uint16_t, 4> values{};
                std::size_t count = 0;
                for (std::size_t k = g + 1; k < params.size() && count < values.size(); ++k)
                    values[count++] = params[k][0];
                colour = extended_colour(std::span(values.data(), count), false, used);
                g += used;
            }
            if (colour && v == SGR_FG_EXTENDED) pen_.colour = *colour;
            if (colour && v == SGR_BG_EXTENDED) pen_.background = *colour;
            continue;
        }
        switch (v) {
            case SGR_RESET: pen_ = {}; break;
            case SGR_BOLD: set(kBold, true); break;
            case SGR_DIM: set(kDim, true); break;
            case SGR_ITALIC: set(kItalic, true); break;
            // 4:0 is no underline; 4:1 to 4:5 are its styles, all drawn as one line.
            case SGR_UNDERLINE: set(kUnderline, group.size() < 2 || group[1] != 0); break;
            case SGR_INVERSE: set(kInverse, true); break;
            case SGR_INVISIBLE: set(kInvisible, true); break;
            case SGR_STRIKE: set(kStrike, true); break;
            case SGR_DOUBLE_UNDERLINE: set(kUnderline, true); break;
            case SGR_NORMAL_INTENSITY: set(kBold | kDim, false); break;
            case SGR_NOT_ITALIC: set(kItalic, false); break;
            case SGR_NOT_UNDERLINED: set(kUnderline, false); break;
            case SGR_NOT_INVERSE: set(kInverse, false); break;
            case SGR_VISIBLE: set(kInvisible, false); break;
            case SGR_NOT_STRIKE: set(kStrike, false); break;
            case SGR_FG_DEFAULT: pen_.colour = {}; break;
            case SGR_BG_DEFAULT: pen_.background = {}; break;
            default:
                if (v >= SGR_FG_FIRST && v < SGR_FG_FIRST + 8) {
                    pen_.colour = TerminalColour::palette(std::uint8_t(v - SGR_FG_FIRST));
                } else if (v >= SGR_BG_FIRST && v < SGR_BG_FIRST + 8) {
                    pen_.background = TerminalColour::palette(std::uint8_t(v - SGR_BG_FIRST));
                } else if (v >= SGR_FG_BRIGHT_FIRST && v < SGR_FG_BRIGHT_FIRST + 8) {
                    pen_.colour = TerminalColour::palette(std::uint8_t(v - SGR_FG_BRIGHT_FIRST + 8));
                } else if (v >= SGR_BG_BRIGHT_FIRST && v < SGR_BG_BRIGHT_FIRST + 8) {
                    pen_.background = TerminalColour::palette(std::uint8_t(v - SGR_BG_BRIGHT_FIRST + 8));
                }
                break;  // blink and the rest: consumed
        }
    }
}

// CSI row ; col R, written digit by digit: a host may ask for it with every four bytes, and a
// format string costs several times what the rest of the sequence does.
void Terminal::report_cursor(std::size_t row, std::size_t col) {
    std::array<char, 48> text{'\x1b', '['};
    std::size_t n = 2;
    const auto put = [&](std::size_t v, char after) {
        std::array<char, 20> digits;
        std::size_t k = 0;
        do digits[k++] = char('0' + v % 10);
        while ((v /= 10) != 0);
        while (k > 0) text[n++] = digits[--k];
        text[n++] = after;
    };
    put(row, ';');
    put(col, 'R');
    reply(std::string_view(text.data(), n));
}

void Terminal::reply(std::string_view bytes) {
    // A host that asks faster than it reads loses the newest answers, not our memory.
    if (replies_.size() + bytes.size() <= kMaxReplyBytes) replies_ += bytes;
}

}  // namespace remote

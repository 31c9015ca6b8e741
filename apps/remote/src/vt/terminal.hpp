#pragma once
// The character grid of a terminal session, as an xterm-256color terminal keeps it: a cursor
// with deferred wrapping, a pen of colours and attributes, a scroll region, tab stops, the
// alternate screen, DEC line drawing, wide and combining characters, and the replies a host
// waits for. The grid has a fixed size and no scrollback.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vt/parser.hpp"

namespace remote {

// The default colour, one of the 256 palette colours (0-7 normal, 8-15 bright, then the 6x6x6
// cube and 24 greys), or a direct RGB colour.
class TerminalColour {
public:
    constexpr TerminalColour() = default;
    static constexpr TerminalColour palette(std::uint8_t index) { return TerminalColour(kPalette | index); }
    static constexpr TerminalColour rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
        return TerminalColour(kRgb | (std::uint32_t(r) << 16) | (std::uint32_t(g) << 8) | b);
    }
    constexpr bool is_default() const { return value_ == 0; }
    constexpr bool is_palette() const { return (value_ & kKind) == kPalette; }
    constexpr bool is_rgb() const { return (value_ & kKind) == kRgb; }
    // The palette index; meaningful only for a palette colour.
    constexpr std::uint8_t index() const { return std::uint8_t(value_); }
    // The components; meaningful only for an RGB colour.
    constexpr std::uint8_t red() const { return std::uint8_t(value_ >> 16); }
    constexpr std::uint8_t green() const { return std::uint8_t(value_ >> 8); }
    constexpr std::uint8_t blue() const { return std::uint8_t(value_); }
    friend constexpr bool operator==(TerminalColour, TerminalColour) = default;

private:
    static constexpr std::uint32_t kKind = 0xFF000000u;
    static constexpr std::uint32_t kPalette = 0x01000000u;
    static constexpr std::uint32_t kRgb = 0x02000000u;
    constexpr explicit TerminalColour(std::uint32_t v) : value_(v) {}
    std::uint32_t value_ = 0;
};

// Bits of TerminalCell::flags. The first seven are the pen's attributes.
namespace cell_flag {
inline constexpr std::uint16_t kBold = 1 << 0;
inline constexpr std::uint16_t kDim = 1 << 1;
inline constexpr std::uint16_t kItalic = 1 << 2;
inline constexpr std::uint16_t kUnderline = 1 << 3;
inline constexpr std::uint16_t kInverse = 1 << 4;
inline constexpr std::uint16_t kInvisible = 1 << 5;
inline constexpr std::uint16_t kStrike = 1 << 6;
inline constexpr std::uint16_t kAttributes = 0x7F;
// The left half of a two-cell character; the right half follows with kWideTail.
inline constexpr std::uint16_t kWide = 1 << 7;
// The right half of a two-cell character: no character of its own (U+0000).
inline constexpr std::uint16_t kWideTail = 1 << 8;
// Combining characters follow the character (Terminal::marks).
inline constexpr std::uint16_t kMarks = 1 << 9;
}  // namespace cell_flag

struct TerminalCell {
    char32_t character = U' ';
    TerminalColour colour;      // foreground
    TerminalColour background;
    std::uint16_t flags = 0;    // cell_flag bits
    std::uint16_t reserved = 0;  // keeps the cell free of padding, so it copies as 16 bytes

    bool has(std::uint16_t flag) const { return (flags & flag) != 0; }
    bool bold() const { return has(cell_flag::kBold); }
    friend bool operator==(const TerminalCell&, const TerminalCell&) = default;
};
static_assert(sizeof(TerminalCell) == 16);

class Terminal {
public:
    // Sizes below 1 become 1.
    Terminal(std::size_t cols, std::size_t rows);

    // Feeds session output; sequences and characters may be split across calls.
    void feed(std::span<const std::uint8_t> bytes);

    std::size_t cols() const { return cols_; }
    std::size_t rows() const { return rows_; }
    // Row r from the top of the screen shown (the alternate one while it is active).
    std::span<const TerminalCell> row(std::size_t r) const { return line(r).cells; }
    // The combining characters that follow the character of cell (r, c); empty for most cells.
    std::u32string_view marks(std::size_t r, std::size_t c) const;

    // 0 to cols() - 1: where the cursor is drawn.
    std::size_t cursor_col() const { return cursor_.col; }
    std::size_t cursor_row() const { return cursor_.row; }
    // A character was written in the last column: the next one wraps first.
    bool wrap_pending() const { return cursor_.wrap_pending; }
    bool cursor_visible() const { return cursor_visible_; }
    bool alternate_screen() const { return active_ == 1; }
    // DECCKM: cursor keys send SS3 sequences instead of CSI ones.
    bool application_cursor_keys() const { return application_cursor_keys_; }
    // DECKPAM (on) and DECKPNM (off): the keypad sends application sequences.
    bool application_keypad() const { return application_keypad_; }
    // Mode 2004: pasted text is to be bracketed.
    bool bracketed_paste() const { return bracketed_paste_; }
    // The bytes owed to the host (device attributes, status and cursor reports), taken and
    // cleared; at most kMaxReplyBytes are kept between takes.
    std::string take_replies() { return std::exchange(replies_, {}); }
    static constexpr std::size_t kMaxReplyBytes = 4096;
    // Cells written, erased or moved, and combining characters looked through, so far by
    // anything but plain printing: what a burst of output costs beyond its bytes.
    std::size_t work() const { return work_; }
    // Combining characters kept on one cell; later ones are dropped.
    static constexpr std::size_t kMaxMarksPerCell = 8;

    // Parser callbacks.
    void print(char32_t c);
    void print_ascii(std::span<const std::uint8_t> text);
    void execute(std::uint8_t byte);
    void csi_dispatch(const vt::Params& params, vt::Intermediates intermediates, bool ignore, char action);
    void esc_dispatch(vt::Intermediates intermediates, bool ignore, std::uint8_t final);
    void hook(const vt::Params&, vt::Intermediates, bool, char) {}
    void put(std::uint8_t) {}
    void unhook() {}
    void osc_dispatch(vt::OscParams, bool) {}

private:
    struct Mark {
        std::uint32_t col;
        std::u32string text;
    };
    struct Row {
        std::vector<TerminalCell> cells;
        std::vector<Mark> marks;  // by column, for the cells flagged kMarks
    };
    struct Pen {
        TerminalColour colour;
        TerminalColour background;
        std::uint16_t attributes = 0;
    };
    struct Cursor {
        std::size_t row = 0;
        std::size_t col = 0;
        bool wrap_pending = false;
    };
    // What DECSC keeps and DECRC brings back.
    struct Saved {
        Cursor cursor;
        Pen pen;
        bool origin = false;
        std::array<bool, 2> graphics{};
        std::uint8_t shift = 0;
    };
    // Scrolling reorders the rows, not their cells.
    struct Screen {
        std::vector<Row> rows;
        std::vector<std::uint32_t> order;  // the rows from the top
        Saved saved;
    };

    const Screen& screen() const { return screens_[active_]; }
    Screen& screen() { return screens_[active_]; }
    const Row& line(std::size_t r) const { return screen().rows[screen().order[r]]; }
    Row& line(std::size_t r) { return screen().rows[screen().order[r]]; }
    TerminalCell blank() const { return TerminalCell{U' ', {}, pen_.background, 0}; }
    TerminalCell pen_cell(char32_t c) const { return TerminalCell{c, pen_.colour, pen_.background, pen_.attributes}; }

    void put_char(char32_t c, std::size_t width);
    void repeat(char32_t c, std::size_t n);
    // Writes n characters of `width` from the cursor, which leaves room for all of them.
    void put_run(char32_t c, std::size_t width, std::size_t n);
    void join_previous(char32_t mark);
    void wrap_if_pending();
    void index();
    void reverse_index();
    void scroll_up(std::size_t top, std::size_t bottom, std::size_t n);
    void scroll_down(std::size_t top, std::size_t bottom, std::size_t n);
    void erase(std::size_t r, std::size_t from, std::size_t to);
    void insert_cells(std::size_t n);
    void delete_cells(std::size_t n);
    // Writing over either half of a two-cell character leaves the other half a plain space.
    void split_wide_at(Row& row, std::size_t col) {
        if (col < cols_ && (row.cells[col].flags & (cell_flag::kWide | cell_flag::kWideTail))) unpair(row, col);
    }
    void unpair(Row& row, std::size_t col);
    // The combining characters of cells from..to-1 go.
    void drop_marks(Row& row, std::size_t from, std::size_t to) {
        if (!row.marks.empty()) erase_marks(row, from, to);
    }
    // Cells from..to-1 (at least one) are about to be overwritten.
    void free_cells(Row& row, std::size_t from, std::size_t to) {
        split_wide_at(row, from);
        split_wide_at(row, to - 1);
        drop_marks(row, from, to);
    }
    void erase_marks(Row& row, std::size_t from, std::size_t to);
    void move_to(std::size_t row, std::size_t col);
    void move_to_origin_relative(std::size_t row, std::size_t col);
    std::size_t row_up(std::size_t n) const;
    std::size_t row_down(std::size_t n) const;
    void tab_forward(std::size_t n);
    void tab_backward(std::size_t n);
    void save_cursor();
    void restore_cursor();
    void switch_screen(std::size_t which, bool clear);
    void set_mode(const vt::Params& params, bool dec, bool on);
    void set_graphic_rendition(const vt::Params& params);
    void reset(bool hard);
    void report_cursor(std::size_t row, std::size_t col);
    void reply(std::string_view bytes);

    std::size_t cols_;
    std::size_t rows_;
    std::array<Screen, 2> screens_;
    std::size_t active_ = 0;
    Cursor cursor_;
    Pen pen_;
    std::size_t top_ = 0;     // scroll region, inclusive
    std::size_t bottom_ = 0;
    std::vector<bool> tab_stops_;
    // G0 and G1 designated as DEC special graphics, and which of them is invoked (SO/SI).
    std::array<bool, 2> graphics_{};
    std::uint8_t shift_ = 0;
    char32_t last_printed_ = 0;  // for REP; 0 after anything but a character
    bool origin_ = false;
    bool autowrap_ = true;
    bool insert_ = false;
    bool cursor_visible_ = true;
    bool application_cursor_keys_ = false;
    bool application_keypad_ = false;
    bool bracketed_paste_ = false;
    std::string replies_;
    std::size_t work_ = 0;
    vt::Parser parser_;
};

// A CSI count: the first value of the first group; missing or 0 gives 1.
std::uint16_t first_param(const vt::Params& params);

}  // namespace remote

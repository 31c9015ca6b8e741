#pragma once
// The character grid of a terminal session: a cursor, a pen (one of sixteen palette colours or
// the default colour, and bold), wrapping at the right edge and scrolling by dropping the top
// row. No scrollback, no scroll region, no alternate screen and no replies to the host.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vt/parser.hpp"

namespace remote {

// The default colour, or a palette index 0-15 (8-15 are the bright colours).
class TerminalColour {
public:
    constexpr TerminalColour() = default;
    static constexpr TerminalColour palette(std::uint8_t index) { return TerminalColour(index); }
    constexpr bool is_default() const { return value_ == kDefault; }
    // The palette index; meaningful only when not the default colour.
    constexpr std::uint8_t index() const { return value_; }
    friend constexpr bool operator==(TerminalColour, TerminalColour) = default;

private:
    static constexpr std::uint8_t kDefault = 0xFF;
    constexpr explicit TerminalColour(std::uint8_t v) : value_(v) {}
    std::uint8_t value_ = kDefault;
};

struct TerminalCell {
    char32_t character = U' ';
    TerminalColour colour;
    bool bold = false;

    friend bool operator==(const TerminalCell&, const TerminalCell&) = default;
};

class Terminal {
public:
    // Sizes below 1 become 1.
    Terminal(std::size_t cols, std::size_t rows);

    // Feeds session output; sequences may be split across calls.
    void feed(std::span<const std::uint8_t> bytes);

    std::size_t cols() const { return cols_; }
    std::size_t rows() const { return rows_; }
    // Row r from the top, 0 <= r < rows().
    std::span<const TerminalCell> row(std::size_t r) const { return grid_[physical(r)]; }
    // 0 to cols(); cols() means the next printed character wraps first.
    std::size_t cursor_col() const { return cursor_col_; }
    std::size_t cursor_row() const { return cursor_row_; }
    TerminalColour pen_colour() const { return pen_colour_; }
    bool pen_bold() const { return pen_bold_; }
    // DECCKM: cursor keys send SS3 sequences instead of CSI ones.
    bool application_cursor_keys() const { return application_cursor_keys_; }
    // DECKPAM (on) and DECKPNM (off): the keypad sends application sequences.
    bool application_keypad() const { return application_keypad_; }
    // The bytes owed to the host (device attributes, status and cursor reports), taken and
    // cleared; at most kMaxReplyBytes are kept between takes.
    std::string take_replies() { return std::exchange(replies_, {}); }
    static constexpr std::size_t kMaxReplyBytes = 4096;

    // Parser callbacks.
    void print(char32_t c);
    void execute(std::uint8_t byte);
    void csi_dispatch(const vt::Params& params, vt::Intermediates intermediates, bool ignore, char action);
    void esc_dispatch(vt::Intermediates intermediates, bool ignore, std::uint8_t final);
    void hook(const vt::Params&, vt::Intermediates, bool, char) {}
    void put(std::uint8_t) {}
    void unhook() {}
    void osc_dispatch(vt::OscParams, bool) {}

    void line_feed();
    void erase_to_line_end();

private:
    // The grid is a ring of rows: scrolling moves the top, not the cells.
    std::size_t physical(std::size_t r) const {
        std::size_t i = top_ + r;
        return i >= rows_ ? i - rows_ : i;
    }
    std::vector<TerminalCell>& row_mut(std::size_t r) { return grid_[physical(r)]; }
    void blank_row(std::size_t r);
    void set_graphic_rendition(const vt::Params& params);
    void set_private_mode(const vt::Params& params, bool on);
    void reply(std::string_view bytes);

    std::vector<std::vector<TerminalCell>> grid_;
    std::size_t top_ = 0;
    std::size_t cols_;
    std::size_t rows_;
    std::size_t cursor_col_ = 0;
    std::size_t cursor_row_ = 0;
    TerminalColour pen_colour_;
    bool pen_bold_ = false;
    bool application_cursor_keys_ = false;
    bool application_keypad_ = false;
    std::string replies_;
    vt::Parser parser_;
};

// A CSI count: the first value of the first group; missing or 0 gives 1.
std::uint16_t first_param(const vt::Params& params);

}  // namespace remote

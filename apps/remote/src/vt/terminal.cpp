#include "vt/terminal.hpp"

#include <algorithm>

#include <fmt/format.h>

namespace remote {

namespace {

// The final bytes of the CSI sequences acted on, by their ECMA-48 mnemonics.
enum Csi : char {
    CUU = 'A',  // cursor up
    CUD = 'B',  // cursor down
    CUF = 'C',  // cursor forward
    CUB = 'D',  // cursor backward
    CHA = 'G',  // cursor character absolute
    CUP = 'H',  // cursor position
    HVP = 'f',  // character and line position
    ED = 'J',   // erase in page
    EL = 'K',   // erase in line
    SGR = 'm',  // select graphic rendition
    DA = 'c',   // device attributes (primary; secondary with '>')
    DSR = 'n',  // device status report
    SM = 'h',   // set mode (DEC private with '?')
    RM = 'l',   // reset mode (DEC private with '?')
};

// The DEC private modes acted on.
enum DecMode : std::uint16_t {
    DECCKM = 1,  // application cursor keys
};

// A VT220 with ANSI colour; and, to CSI > c, a VT220 of firmware version 10.
constexpr std::string_view kPrimaryAttributes = "\x1b[?62;22c";
constexpr std::string_view kSecondaryAttributes = "\x1b[>1;10;0c";
constexpr std::string_view kStatusOk = "\x1b[0n";

bool has_marker(vt::Intermediates intermediates, std::uint8_t marker) {
    return intermediates.size() == 1 && intermediates[0] == marker;
}

// The SGR parameter values acted on.
enum Sgr : std::uint16_t {
    SGR_RESET = 0,              // default rendition
    SGR_BOLD = 1,               // bold
    SGR_NORMAL_INTENSITY = 22,  // neither bold nor faint
    SGR_FG_FIRST = 30,          // foreground palette 0-7: 30-37
    SGR_FG_LAST = 37,
    SGR_FG_DEFAULT = 39,       // default foreground
    SGR_FG_BRIGHT_FIRST = 90,  // foreground palette 8-15: 90-97
    SGR_FG_BRIGHT_LAST = 97,
};

// The C0 controls acted on.
enum C0 : std::uint8_t {
    BS = 0x08,  // backspace
    HT = 0x09,  // horizontal tab
    LF = 0x0A,  // line feed
    VT = 0x0B,  // vertical tab
    FF = 0x0C,  // form feed
    CR = 0x0D,  // carriage return
};

// A 1-based position parameter: missing, empty or 0 means 1.
std::size_t position_param(const vt::Params& params, std::size_t group) {
    if (group >= params.size()) return 1;
    std::uint16_t v = params[group][0];
    return v == 0 ? 1 : v;
}

}  // namespace

std::uint16_t first_param(const vt::Params& params) {
    if (params.empty()) return 1;
    std::uint16_t v = params[0][0];
    return v == 0 ? 1 : v;
}

Terminal::Terminal(std::size_t cols, std::size_t rows)
    : grid_(std::max<std::size_t>(rows, 1), std::vector<TerminalCell>(std::max<std::size_t>(cols, 1))),
      cols_(std::max<std::size_t>(cols, 1)),
      rows_(std::max<std::size_t>(rows, 1)) {}

// The parser is instantiated here, where print can be inlined into its text loop.
void Terminal::feed(std::span<const std::uint8_t> bytes) { parser_.advance(*this, bytes); }

void Terminal::blank_row(std::size_t r) {
    auto& cells = row_mut(r);
    std::fill(cells.begin(), cells.end(), TerminalCell{});
}

inline void Terminal::print(char32_t c) {
    if (cursor_col_ >= cols_) {
        cursor_col_ = 0;
        line_feed();
    }
    if (cursor_row_ < rows_) row_mut(cursor_row_)[cursor_col_] = TerminalCell{c, pen_colour_, pen_bold_};
    ++cursor_col_;
}

void Terminal::line_feed() {
    if (cursor_row_ + 1 < rows_) {
        ++cursor_row_;
        return;
    }
    // Drop the top row and reuse it as the new, blank bottom row.
    top_ = top_ + 1 == rows_ ? 0 : top_ + 1;
    blank_row(rows_ - 1);
}

void Terminal::erase_to_line_end() {
    if (cursor_row_ >= rows_ || cursor_col_ >= cols_) return;
    auto& cells = row_mut(cursor_row_);
    std::fill(cells.begin() + static_cast<std::ptrdiff_t>(cursor_col_), cells.end(), TerminalCell{});
}

void Terminal::execute(std::uint8_t byte) {
    switch (byte) {
        case BS:  // one column left, not past the first
            if (cursor_col_ > 0) --cursor_col_;
            break;
        case HT:  // to the next multiple of 8, not past the last column
            cursor_col_ = std::min((cursor_col_ & ~std::size_t{7}) + 8, cols_ - 1);
            break;
        case LF:  // each a line feed; the column stays
        case VT:
        case FF: line_feed(); break;
        case CR:  // to the first column
            cursor_col_ = 0;
            break;
        default:  // the bell and the rest do nothing
            break;
    }
}

void Terminal::csi_dispatch(const vt::Params& params, vt::Intermediates intermediates, bool ignore, char action) {
    switch (action) {
        case DA:
            if (ignore || (!params.empty() && params[0][0] != 0)) break;
            if (intermediates.empty()) reply(kPrimaryAttributes);
            if (has_marker(intermediates, '>')) reply(kSecondaryAttributes);
            return;
        case DSR:
            if (ignore || !intermediates.empty() || params.empty()) break;
            if (params[0][0] == 5) reply(kStatusOk);
            if (params[0][0] == 6)
                reply(fmt::format("\x1b[{};{}R", cursor_row_ + 1, std::min(cursor_col_, cols_ - 1) + 1));
            return;
        case SM:
        case RM:
            if (!ignore && has_marker(intermediates, '?')) set_private_mode(params, action == SM);
            return;
        default: break;
    }
    // For the rest only the final byte and the parameters decide: a private marker or the
    // parser's ignore flag does not change what a handled final byte does.
    switch (action) {
        case CUU:  // up by the count, stopping at the top row
            cursor_row_ -= std::min<std::size_t>(first_param(params), cursor_row_);
            break;
        case CUD:  // down by the count, stopping at the bottom row
            cursor_row_ = std::min(cursor_row_ + first_param(params), rows_ - 1);
            break;
        case CUF:  // right by the count, stopping at the last column
            cursor_col_ = std::min(cursor_col_ + first_param(params), cols_ - 1);
            break;
        case CUB:  // left by the count, stopping at the first column
            cursor_col_ -= std::min<std::size_t>(first_param(params), cursor_col_);
            break;
        case CHA:  // to the column given (1-based)
            cursor_col_ = std::min<std::size_t>(first_param(params) - 1u, cols_ - 1);
            break;
        case CUP:  // to the row and column given (1-based)
        case HVP:
            cursor_row_ = std::min(position_param(params, 0) - 1, rows_ - 1);
            cursor_col_ = std::min(position_param(params, 1) - 1, cols_ - 1);
            break;
        case ED: {  // 2 or 3: the whole grid blank; anything else: the rest of the cursor's row
            std::uint16_t mode = params.empty() ? 0 : params[0][0];
            if (mode == 2 || mode == 3) {
                for (std::size_t r = 0; r < rows_; ++r) blank_row(r);
            } else {
                erase_to_line_end();
            }
            break;
        }
        case EL: {  // 2: the cursor's row blank; anything else: the rest of it
            std::uint16_t mode = params.empty() ? 0 : params[0][0];
            if (mode == 2) {
                blank_row(cursor_row_);
            } else {
                erase_to_line_end();
            }
            break;
        }
        case SGR:  // the pen's colour and weight
            set_graphic_rendition(params);
            break;
        default: break;
    }
}

void Terminal::esc_dispatch(vt::Intermediates intermediates, bool, std::uint8_t final) {
    if (!intermediates.empty()) return;
    if (final == '=') application_keypad_ = true;   // DECKPAM
    if (final == '>') application_keypad_ = false;  // DECKPNM
}

void Terminal::set_private_mode(const vt::Params& params, bool on) {
    for (std::size_t g = 0; g < params.size(); ++g) {
        if (params[g][0] == DECCKM) application_cursor_keys_ = on;
    }
}

void Terminal::reply(std::string_view bytes) {
    // A host that asks faster than it reads loses the newest answers, not our memory.
    if (replies_.size() + bytes.size() <= kMaxReplyBytes) replies_ += bytes;
}

void Terminal::set_graphic_rendition(const vt::Params& params) {
    if (params.empty()) {
        pen_colour_ = TerminalColour();
        pen_bold_ = false;
        return;
    }
    // The first value of each group; sub-parameters, and the arguments of extended colours,
    // are not looked at (in 38;5;1 the 1 is bold).
    for (std::size_t g = 0; g < params.size(); ++g) {
        std::uint16_t v = params[g][0];
        if (v == SGR_RESET) {
            pen_colour_ = TerminalColour();
            pen_bold_ = false;
        } else if (v == SGR_BOLD) {
            pen_bold_ = true;
        } else if (v == SGR_NORMAL_INTENSITY) {
            pen_bold_ = false;
        } else if (v == SGR_FG_DEFAULT) {
            pen_colour_ = TerminalColour();
        } else if (v >= SGR_FG_FIRST && v <= SGR_FG_LAST) {
            pen_colour_ = TerminalColour::palette(static_cast<std::uint8_t>(v - SGR_FG_FIRST));
        } else if (v >= SGR_FG_BRIGHT_FIRST && v <= SGR_FG_BRIGHT_LAST) {
            pen_colour_ = TerminalColour::palette(static_cast<std::uint8_t>(v - SGR_FG_BRIGHT_FIRST + 8));
        }
    }
}

}  // namespace remote

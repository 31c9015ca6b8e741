#include "vt/terminal.hpp"

#include <algorithm>

namespace remote {

namespace {

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
        case 0x08:
            if (cursor_col_ > 0) --cursor_col_;
            break;
        case 0x09:
            cursor_col_ = std::min((cursor_col_ & ~std::size_t{7}) + 8, cols_ - 1);
            break;
        case 0x0A:
        case 0x0B:
        case 0x0C:
            line_feed();
            break;
        case 0x0D:
            cursor_col_ = 0;
            break;
        default:
            break;
    }
}

void Terminal::csi_dispatch(const vt::Params& params, vt::Intermediates, bool, char action) {
    switch (action) {
        case 'A':
            cursor_row_ -= std::min<std::size_t>(first_param(params), cursor_row_);
            break;
        case 'B':
            cursor_row_ = std::min(cursor_row_ + first_param(params), rows_ - 1);
            break;
        case 'C':
            cursor_col_ = std::min(cursor_col_ + first_param(params), cols_ - 1);
            break;
        case 'D':
            cursor_col_ -= std::min<std::size_t>(first_param(params), cursor_col_);
            break;
        case 'G':
            cursor_col_ = std::min<std::size_t>(first_param(params) - 1u, cols_ - 1);
            break;
        case 'H':
        case 'f':
            cursor_row_ = std::min(position_param(params, 0) - 1, rows_ - 1);
            cursor_col_ = std::min(position_param(params, 1) - 1, cols_ - 1);
            break;
        case 'J': {
            std::uint16_t mode = params.empty() ? 0 : params[0][0];
            if (mode == 2 || mode == 3) {
                for (std::size_t r = 0; r < rows_; ++r) blank_row(r);
            } else {
                erase_to_line_end();
            }
            break;
        }
        case 'K': {
            std::uint16_t mode = params.empty() ? 0 : params[0][0];
            if (mode == 2) {
                blank_row(cursor_row_);
            } else {
                erase_to_line_end();
            }
            break;
        }
        case 'm':
            set_graphic_rendition(params);
            break;
        default:
            break;
    }
}

void Terminal::set_graphic_rendition(const vt::Params& params) {
    if (params.empty()) {
        pen_colour_ = TerminalColour();
        pen_bold_ = false;
        return;
    }
    for (std::size_t g = 0; g < params.size(); ++g) {
        std::uint16_t v = params[g][0];
        if (v == 0) {
            pen_colour_ = TerminalColour();
            pen_bold_ = false;
        } else if (v == 1) {
            pen_bold_ = true;
        } else if (v == 22) {
            pen_bold_ = false;
        } else if (v == 39) {
            pen_colour_ = TerminalColour();
        } else if (v >= 30 && v <= 37) {
            pen_colour_ = TerminalColour::palette(static_cast<std::uint8_t>(v - 30));
        } else if (v >= 90 && v <= 97) {
            pen_colour_ = TerminalColour::palette(static_cast<std::uint8_t>(v - 82));
        }
    }
}

}  // namespace remote

#include "zavo_ui/relay/test_picture.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <string>

namespace zavo_ui::device_relay {
namespace {

struct Color {
    std::uint8_t r, g, b;
};

// 5 x 7 glyphs, one string of 35 cells a glyph ('#' set).
struct Glyph {
    char c;
    const char* rows;
};
constexpr std::array<Glyph, 40> GLYPHS{{
    {'A', " ### #   ##   #######   ##   ##   #"}, {'B', "#### #   ##   ##### #   ##   ##### "},
    {'C', " ### #   ##    #    #    #   # ### "}, {'D', "#### #   ##   ##   ##   ##   ##### "},
    {'E', "######    #    #### #    #    #####"}, {'F', "######    #    #### #    #    #    "},
    {'G', " ### #   ##    # ####   ##   # ####"}, {'H', "#   ##   ##   #######   ##   ##   #"},
    {'I', " ###   #    #    #    #    #   ### "}, {'J', "  ###   #    #    #    ##   # ###  "},
    {'K', "#   ##  # # #  ##   # #  #  # #   #"}, {'L', "#    #    #    #    #    #    #####"},
    {'M', "#   ### ### # ## # ##   ##   ##   #"}, {'N', "#   ###  ## # ##  ###   ##   ##   #"},
    {'O', " ### #   ##   ##   ##   ##   # ### "}, {'P', "#### #   ##   ##### #    #    #    "},
    {'Q', " ### #   ##   ##   ## # ##  #  ## #"}, {'R', "#### #   ##   ##### # #  #  # #   #"},
    {'S', " #####    #     ###     #    ##### "}, {'T', "#####  #    #    #    #    #    #  "},
    {'U', "#   ##   ##   ##   ##   ##   # ### "}, {'V', "#   ##   ##   ##   ##   # # #   #  "},
    {'W', "#   ##   ##   ## # ## # ## # # # # "}, {'X', "#   ##   # # #   #   # # #   ##   #"},
    {'Y', "#   ##   # # #   #    #    #    #  "}, {'Z', "#####    #   #   #   #   #    #####"},
    {'0', " ### #   ##  ### # ###  ##   # ### "}, {'1', "  #   ##    #    #    #    #   ### "},
    {'2', " ### #   #    #   #   #   #   #####"}, {'3', "#####   #   #     #    ##   # ### "},
    {'4', "   #   ##  # # #  ######   #    #  "}, {'5', "######    ####     #    ##   # ### "},
    {'6', "  ##  #   #    #### #   ##   # ### "}, {'7', "#####    #   #   #   #    #    #   "},
    {'8', " ### #   ##   # ### #   ##   # ### "}, {'9', " ### #   ##   # ####    #   #  ##  "},
    {':', "      ##   ##        ##   ##       "}, {'-', "               ###                 "},
    {'.', "                              ##   "}, {' ', "                                   "},
}};

const char* glyph_rows(char c) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const auto& g : GLYPHS)
        if (g.c == c) return g.rows;
    return nullptr;
}

class Canvas {
public:
    Canvas(std::vector<std::uint8_t>& px, std::uint32_t w, std::uint32_t h) : px_(px), w_(w), h_(h) {}

    void fill(long x0, long y0, long x1, long y1, Color c) {
        x0 = std::clamp<long>(x0, 0, w_);
        x1 = std::clamp<long>(x1, 0, w_);
        y0 = std::clamp<long>(y0, 0, h_);
        y1 = std::clamp<long>(y1, 0, h_);
        for (long y = y0; y < y1; ++y) {
            std::uint8_t* p = &px_[(static_cast<std::size_t>(y) * w_ + static_cast<std::size_t>(x0)) * 4];
            for (long x = x0; x < x1; ++x, p += 4) {
                p[0] = c.r;
                p[1] = c.g;
                p[2] = c.b;
                p[3] = 255;
            }
        }
    }

    void frame(long x0, long y0, long x1, long y1, long t, Color c) {
        fill(x0, y0, x1, y0 + t, c);
        fill(x0, y1 - t, x1, y1, c);
        fill(x0, y0, x0 + t, y1, c);
        fill(x1 - t, y0, x1, y1, c);
    }

    // Text at `scale` pixels per glyph cell; returns the x after the last glyph.
    long text(long x, long y, std::string_view s, long scale, Color c) {
        for (char ch : s) {
            if (const char* rows = glyph_rows(ch))
                for (int r = 0; r < 7; ++r)
                    for (int col = 0; col < 5; ++col)
                        if (rows[r * 5 + col] == '#')
                            fill(x + col * scale, y + r * scale, x + (col + 1) * scale, y + (r + 1) * scale, c);
            x += 6 * scale;
        }
        return x;
    }

private:
    std::vector<std::uint8_t>& px_;
    long w_, h_;
};

constexpr std::array<Color, 8> BARS{{{235, 235, 235},
                                     {235, 235, 16},
                                     {16, 235, 235},
                                     {16, 235, 16},
                                     {235, 16, 235},
                                     {235, 16, 16},
                                     {16, 16, 235},
                                     {16, 16, 16}}};
constexpr Color INK{235, 235, 235};
constexpr Color DIM{110, 120, 135};
constexpr Color LIT{255, 190, 40};
constexpr Color POINTER{255, 80, 80};

}  // namespace

TestPicture::TestPicture(std::string_view device_name, std::uint32_t width, std::uint32_t height)
    : name_(device_name),
      width_(width),
      height_(height),
      scale_(std::max<long>(2, height / 120)),
      name_top_(height / 6 + scale_ * 4),
      background_(std::size_t{width} * height * 4) {
    Canvas canvas(background_, width_, height_);
    // A vertical blue-grey gradient under a band of colour bars.
    for (std::uint32_t y = 0; y < height_; ++y) {
        const auto shade = static_cast<std::uint8_t>(24 + 40 * y / std::max<std::uint32_t>(height_, 1));
        canvas.fill(0, y, width_, y + 1,
                    Color{shade, static_cast<std::uint8_t>(shade + 6), static_cast<std::uint8_t>(shade + 18)});
    }
    const long band = height_ / 6;
    for (std::size_t i = 0; i < BARS.size(); ++i)
        canvas.fill(static_cast<long>(width_ * i / BARS.size()), 0, static_cast<long>(width_ * (i + 1) / BARS.size()),
                    band, BARS[i]);
    canvas.text(scale_ * 4, name_top_, name_, scale_, INK);
    pixels_ = background_;
}

std::span<const std::uint8_t> TestPicture::render(const DeviceScreenState& state) {
    std::copy(background_.begin(), background_.end(), pixels_.begin());
    Canvas canvas(pixels_, width_, height_);
    const long scale = scale_;
    const long line = scale * 10;
    const long left = scale * 4;
    long y = name_top_ + line;

    canvas.text(left, y, "FRAME " + std::to_string(state.frame), scale, DIM);
    y += line;
    if (state.has_pointer) {
        canvas.text(left, y,
                    "POINTER " + std::to_string(std::lround(state.pointer_x)) + " " +
                        std::to_string(std::lround(state.pointer_y)),
                    scale, INK);
    } else {
        canvas.text(left, y, "POINTER -", scale, DIM);
    }
    y += line;

    // The three buttons as boxes, lit while pressed.
    static constexpr const char* LABELS[3] = {"L", "R", "M"};
    static constexpr int ORDER[3] = {0, 2, 1};
    long x = canvas.text(left, y, "BUTTONS ", scale, INK);
    for (int i : ORDER) {
        const Color c = state.buttons[i] ? LIT : DIM;
        canvas.frame(x, y - scale, x + scale * 8, y + scale * 8, std::max<long>(1, scale / 2), c);
        if (state.buttons[i]) canvas.fill(x + scale, y, x + scale * 7, y + scale * 7, LIT);
        canvas.text(x + scale + scale / 2, y, LABELS[i], scale, state.buttons[i] ? Color{20, 20, 20} : DIM);
        x += scale * 10;
    }
    y += line + scale * 2;

    // The last keys, those still held in the lit colour.
    x = canvas.text(left, y, "KEYS", scale, INK);
    if (state.last_keys.empty()) canvas.text(x + scale * 6, y, "-", scale, DIM);
    for (std::uint32_t code : state.last_keys)
        x = canvas.text(x + scale * 6, y, std::to_string(code), scale, state.held_keys.contains(code) ? LIT : INK);

    if (state.has_pointer) {
        const long px = std::lround(state.pointer_x), py = std::lround(state.pointer_y);
        const long t = std::max<long>(1, scale / 2);
        canvas.fill(px - t / 2, 0, px - t / 2 + t, height_, POINTER);
        canvas.fill(0, py - t / 2, width_, py - t / 2 + t, POINTER);
        canvas.frame(px - scale * 5, py - scale * 5, px + scale * 5, py + scale * 5, t, POINTER);
    }
    return pixels_;
}

}  // namespace zavo_ui::device_relay

#pragma once
// A colour as 8-bit channels: each channel clamped to 0..1, times 255, rounded.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "zavo_ui/color.hpp"

namespace zavo_ui::color_compat {

struct ColorCompat {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    std::uint8_t a = 255;

    static ColorCompat of(const Color& c) { return {to_u8(c.r), to_u8(c.g), to_u8(c.b), to_u8(c.a)}; }
    Color to_color() const { return Color::from_rgba8(r, g, b, a); }

    static std::uint8_t to_u8(float v) {
        if (!(v > 0.0f)) return 0;  // also NaN
        return static_cast<std::uint8_t>(std::lround(std::min(v, 1.0f) * 255.0f));
    }

    friend bool operator==(const ColorCompat&, const ColorCompat&) = default;
};

}  // namespace zavo_ui::color_compat

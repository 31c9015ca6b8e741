#pragma once
// Colours: four f32 channels (sRGB, straight alpha), each 0..1.
#include <cstdint>

namespace zavo_ui {

struct Color {
    float r = 0.0f;
    float g = 0.0f;
    float b = 0.0f;
    float a = 1.0f;

    static constexpr Color from_rgba8(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a = 255) {
        return {r / 255.0f, g / 255.0f, b / 255.0f, a / 255.0f};
    }
    // 0xRRGGBB, opaque.
    static constexpr Color from_hex(std::uint32_t rgb) {
        return from_rgba8(std::uint8_t(rgb >> 16), std::uint8_t(rgb >> 8), std::uint8_t(rgb));
    }
    constexpr Color with_alpha(float alpha) const { return {r, g, b, alpha}; }
    // Each channel moved from this colour towards `to` by t (0 keeps this, 1 gives `to`).
    constexpr Color mix(const Color& to, float t) const {
        return {r + (to.r - r) * t, g + (to.g - g) * t, b + (to.b - b) * t, a + (to.a - a) * t};
    }

    friend bool operator==(const Color&, const Color&) = default;
};

namespace colors {
inline constexpr Color BLACK{0.0f, 0.0f, 0.0f, 1.0f};
inline constexpr Color WHITE{1.0f, 1.0f, 1.0f, 1.0f};
inline constexpr Color TRANSPARENT{0.0f, 0.0f, 0.0f, 0.0f};
}  // namespace colors

}  // namespace zavo_ui

#pragma once
// A push button, painted from its description each frame.
#include <cstdint>
#include <string>

#include "zavo_ui/geometry.hpp"
#include "zavo_ui/scene.hpp"
#include "zavo_ui/text_render.hpp"
#include "zavo_ui/theme.hpp"

namespace zavo_ui::widget::button {

// Style bytes.
inline constexpr std::uint8_t SECONDARY = 0;
inline constexpr std::uint8_t PRIMARY = 1;
inline constexpr std::uint8_t DESTRUCTIVE = 2;          // filled
inline constexpr std::uint8_t DESTRUCTIVE_OUTLINE = 4;  // outlined

struct Button {
    std::string label;
    Rect rect;
    bool hovered = false;
    float text_size = 13.0f;
    std::uint8_t style = SECONDARY;  // unknown styles paint as secondary
    double radius = 8.0;
    std::uint8_t weight = 2;

    // The label is centred in the rectangle and not clipped.
    void paint(Scene& scene, const Affine& transform, const text_render::TextRenderer& text,
               const theme::Theme& theme) const;
};

}  // namespace zavo_ui::widget::button

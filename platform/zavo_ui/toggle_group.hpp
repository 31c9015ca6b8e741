#pragma once
// A segmented control: adjacent segments of which at most one is selected.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "zavo_ui/geometry.hpp"
#include "zavo_ui/scene.hpp"
#include "zavo_ui/text_render.hpp"
#include "zavo_ui/theme.hpp"

namespace zavo_ui::widget::toggle_group {

struct ToggleGroup {
    std::optional<std::size_t> hovered;
    std::vector<Rect> segments;
    std::vector<std::string> labels;  // one per segment; missing labels draw nothing
    std::size_t selected = 0;         // an index past the last segment selects none
    double radius = 8.0;
    float text_size = 13.0f;

    // The track spans every segment; the selected one is raised and tinted, a hovered one lifted.
    void paint(Scene& scene, const Affine& transform, const text_render::TextRenderer& text,
               const theme::Theme& theme) const;
};

}  // namespace zavo_ui::widget::toggle_group

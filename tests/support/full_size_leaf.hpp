#pragma once
// For test widgets that fill their window: a layout leaf as large as its parent, and the
// rectangle the tree placed it at.
#include "zavo_ui/geometry.hpp"
#include "zavo_ui/layout.hpp"
#include "zavo_ui/widget.hpp"

namespace test_support {

inline zavo_ui::layout::NodeId full_size_leaf(zavo_ui::layout::LayoutTree& tree,
                                              zavo_ui::layout::NodeWidgetMap& widgets, zavo_ui::Widget* widget) {
    using zavo_ui::layout::Dimension;
    auto id = *tree.new_leaf({Dimension::percent(1.0f), Dimension::percent(1.0f)});
    widgets[id] = widget;
    return id;
}

// The node's rectangle in window coordinates, its parent at `origin`.
inline zavo_ui::Rect placed_rect(const zavo_ui::layout::LayoutTree& tree, zavo_ui::layout::NodeId node,
                                 zavo_ui::Point origin) {
    const auto l = *tree.layout(node);
    return {origin.x + l.x, origin.y + l.y, origin.x + l.x + l.width, origin.y + l.y + l.height};
}

}  // namespace test_support

#pragma once
// A small layout tree: nodes with a size style, laid out inside their parent. The window is
// one root whose children are sized in points or percent of the parent and stacked at the
// parent's origin; that is all the application's single full-window node needs.
#include <cstdint>
#include <expected>
#include <string>
#include <unordered_map>
#include <vector>

namespace zavo_ui::widget {
class Widget;
}

namespace zavo_ui::layout {

using NodeId = std::uint64_t;

struct Dimension {
    enum class Kind : std::uint8_t { Auto, Points, Percent };
    Kind kind = Kind::Auto;
    float value = 0.0f;  // points, or a fraction (1.0 = 100 %)

    static constexpr Dimension auto_() { return {}; }
    static constexpr Dimension points(float v) { return {Kind::Points, v}; }
    static constexpr Dimension percent(float fraction) { return {Kind::Percent, fraction}; }
    friend bool operator==(const Dimension&, const Dimension&) = default;
};

struct Style {
    Dimension width;
    Dimension height;
    friend bool operator==(const Style&, const Style&) = default;
};

struct Layout {
    float x = 0.0f;  // location relative to the parent
    float y = 0.0f;
    float width = 0.0f;
    float height = 0.0f;
    friend bool operator==(const Layout&, const Layout&) = default;
};

class LayoutTree {
public:
    std::expected<NodeId, std::string> new_leaf(const Style& style);
    std::expected<void, std::string> add_child(NodeId parent, NodeId child);
    std::expected<void, std::string> set_style(NodeId node, const Style& style);
    // Lays out `root` in the available size and every node below it.
    std::expected<void, std::string> compute_layout(NodeId root, float width, float height);
    std::expected<Layout, std::string> layout(NodeId node) const;
    const std::vector<NodeId>& children(NodeId node) const;
    bool contains(NodeId node) const { return nodes_.count(node) != 0; }

private:
    struct Node {
        Style style;
        Layout layout;
        std::vector<NodeId> children;
    };
    void place(NodeId node, float parent_w, float parent_h);
    std::unordered_map<NodeId, Node> nodes_;
    NodeId next_ = 1;
};

// Which widget owns which layout node.
using NodeWidgetMap = std::unordered_map<NodeId, widget::Widget*>;

}  // namespace zavo_ui::layout

#include "zavo_ui/layout.hpp"

#include <fmt/format.h>

namespace zavo_ui::layout {

namespace {
float resolve(const Dimension& d, float parent) {
    switch (d.kind) {
        case Dimension::Kind::Points: return d.value;
        case Dimension::Kind::Percent: return d.value * parent;
        case Dimension::Kind::Auto: break;
    }
    return 0.0f;
}
}  // namespace

std::expected<NodeId, std::string> LayoutTree::new_leaf(const Style& style) {
    NodeId id = next_++;
    nodes_.emplace(id, Node{style, {}, {}});
    return id;
}

std::expected<void, std::string> LayoutTree::add_child(NodeId parent, NodeId child) {
    auto p = nodes_.find(parent);
    if (p == nodes_.end() || !contains(child))
        return std::unexpected(fmt::format("layout node {} or {} does not exist", parent, child));
    p->second.children.push_back(child);
    return {};
}

std::expected<void, std::string> LayoutTree::set_style(NodeId node, const Style& style) {
    auto n = nodes_.find(node);
    if (n == nodes_.end()) return std::unexpected(fmt::format("layout node {} does not exist", node));
    n->second.style = style;
    return {};
}

void LayoutTree::place(NodeId node, float parent_w, float parent_h) {
    Node& n = nodes_.at(node);
    n.layout.x = 0.0f;
    n.layout.y = 0.0f;
    n.layout.width = resolve(n.style.width, parent_w);
    n.layout.height = resolve(n.style.height, parent_h);
    for (NodeId c : n.children) place(c, n.layout.width, n.layout.height);
}

std::expected<void, std::string> LayoutTree::compute_layout(NodeId root, float width, float height) {
    auto n = nodes_.find(root);
    if (n == nodes_.end()) return std::unexpected(fmt::format("layout node {} does not exist", root));
    // The root fills the available space whatever its style says.
    n->second.layout = {0.0f, 0.0f, width, height};
    for (NodeId c : std::vector<NodeId>(n->second.children)) place(c, width, height);
    return {};
}

std::expected<Layout, std::string> LayoutTree::layout(NodeId node) const {
    auto n = nodes_.find(node);
    if (n == nodes_.end()) return std::unexpected(fmt::format("layout node {} does not exist", node));
    return n->second.layout;
}

const std::vector<NodeId>& LayoutTree::children(NodeId node) const {
    static const std::vector<NodeId> none;
    auto n = nodes_.find(node);
    return n == nodes_.end() ? none : n->second.children;
}

}  // namespace zavo_ui::layout

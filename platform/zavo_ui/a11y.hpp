#pragma once
// Accessibility nodes: the tree a widget describes itself with. The framework exports it to
// assistive technology and hands element ids back with a semantic action.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zavo_ui/geometry.hpp"

namespace zavo_ui::a11y {

enum class AccessRole : std::uint8_t {
    Window = 0x00,
    Dialog = 0x01,
    Group = 0x02,
    Toolbar = 0x04,  // navigation or toolbar group
    List = 0x08,
    ListItem = 0x09,
    Button = 0x11,
    ToggleButton = 0x12,
    RadioButton = 0x14,
    TextField = 0x19,
    StaticText = 0x21,
    Heading = 0x22,
    Terminal = 0x24,
    Canvas = 0x26,  // remote-desktop canvas
};

// How a live node's changes are announced.
enum class Live : std::uint8_t { Polite = 0, Assertive = 1 };

enum class Toggled : std::uint8_t { False, True };

// Node id of an id text: 64-bit FNV-1a over the text's UTF-8 bytes followed by one byte 0xFF.
constexpr std::uint64_t node_id_for(std::string_view text) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (char c : text) {
        h ^= static_cast<std::uint8_t>(c);
        h *= 0x100000001b3ull;
    }
    h ^= 0xFFu;
    h *= 0x100000001b3ull;
    return h;
}

struct AccessNode {
    AccessRole role = AccessRole::Group;
    std::optional<std::string> label;
    std::optional<std::string> description;
    std::optional<std::string> value;
    std::optional<std::uint64_t> node_id;
    // The element id, held twice: the id the framework hands back and the id it exports.
    std::optional<std::string> element_id;
    std::optional<std::string> automation_id;
    std::optional<Rect> bounds;
    std::vector<AccessNode> children;
    std::optional<std::uint32_t> set_size;
    std::optional<std::uint32_t> position_in_set;  // from 1
    bool focused = false;
    bool focusable = false;
    bool selected = false;
    bool modal = false;
    std::optional<Toggled> checked;
    std::optional<Toggled> expanded;
    std::optional<Live> live;
    bool enabled = true;
    // A text node's caret and selected range (either end first), as byte offsets into its value.
    std::optional<std::size_t> caret;
    std::optional<std::pair<std::size_t, std::size_t>> text_selection;

    explicit AccessNode(AccessRole r) : role(r) {}

    // Builders: each takes the node by value and gives it back changed; a later call replaces
    // what an earlier one set. Text is taken by value: a borrowed text is copied once, a moved
    // one is taken as it is.
    AccessNode with_label(std::string text) && {
        label = std::move(text);
        return std::move(*this);
    }
    AccessNode with_description(std::string text) && {
        description = std::move(text);
        return std::move(*this);
    }
    AccessNode with_value(std::string text) && {
        value = std::move(text);
        return std::move(*this);
    }
    // Sets the node id only; for structural nodes that are never action targets.
    AccessNode with_node_id(std::string_view id_text) && {
        node_id = node_id_for(id_text);
        return std::move(*this);
    }
    // Sets the node id from the id text and stores the text as the element id.
    AccessNode with_element_id(std::string id_text) && {
        node_id = node_id_for(id_text);
        automation_id = id_text;
        element_id = std::move(id_text);
        return std::move(*this);
    }
    AccessNode with_children(std::vector<AccessNode> nodes) && {
        children = std::move(nodes);
        return std::move(*this);
    }
    AccessNode with_bounds(std::optional<Rect> rect) && {
        bounds = rect;
        return std::move(*this);
    }
    AccessNode with_caret(std::size_t at, std::optional<std::pair<std::size_t, std::size_t>> selected = {}) && {
        caret = at;
        text_selection = selected;
        return std::move(*this);
    }

    friend bool operator==(const AccessNode&, const AccessNode&) = default;
};

inline std::optional<Toggled> toggled(bool on) { return on ? Toggled::True : Toggled::False; }

// Semantic actions an element accepts, numbered as the framework numbers them.
enum class SemanticActionKind : std::uint8_t {
    Activate = 0,
    Focus = 1,
    Toggle = 2,
    Expand = 3,
    Collapse = 4,
    Increment = 5,
    Decrement = 6,
    SetValue = 7,
    ShowMenu = 8,
    ScrollIntoView = 9,
};

struct SemanticAction {
    SemanticActionKind kind = SemanticActionKind::Activate;
    std::optional<std::string> text;  // SetValue only

    friend bool operator==(const SemanticAction&, const SemanticAction&) = default;
};

}  // namespace zavo_ui::a11y

#pragma once
// The widget's accessibility tree, exported through Qt's accessibility bridge (AT-SPI on
// Linux). Every node becomes an accessible object registered with Qt; actions that
// assistive technology performs come back to the widget as element activations.
#include <QAccessible>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "zavo_ui/a11y.hpp"
#include "zavo_ui/host/host.hpp"
#include "zavo_ui/host/platform.hpp"

class QWindow;

namespace zavo_ui::qt {

class NodeInterface;

class AccessBridge : public host::AccessibilityBridge {
public:
    // `activated` runs after an action was performed (so the window can repaint).
    AccessBridge(QWindow& window, host::Host& host, std::function<void()> activated);
    ~AccessBridge() override;
    AccessBridge(const AccessBridge&) = delete;
    AccessBridge& operator=(const AccessBridge&) = delete;

    // The window's accessible object: the widget's root node.
    QAccessibleInterface* root();
    // Builds the tree anew and reports what changed. Does nothing while no assistive
    // technology listens, unless `force`.
    void refresh(bool force = false);
    // Refreshes after a frame: at once, or, when the last refresh was recent, once the pause
    // after it is over. The pause grows with what a refresh costs, so that a large tree does not
    // slow every frame down.
    void refresh_soon() override;

    // What an accessible object shows, by key.
    struct Entry {
        a11y::AccessNode node{a11y::AccessRole::Group};  // without its children
        std::uint64_t key = 0;
        std::uint64_t parent = 0;  // 0: the root
        std::vector<std::uint64_t> children;
        std::vector<a11y::SemanticActionKind> actions;
        // The value an edit from assistive technology gave the node, until the next refresh.
        std::optional<std::string> edited;
        NodeInterface* iface = nullptr;
        QAccessible::Id id = 0;
        std::uint64_t generation = 0;  // the refresh that last saw it
    };
    const Entry* entry(std::uint64_t key) const;
    std::uint64_t root_key() const { return root_key_; }
    // The node that holds the focus: the focused node, else the modal one, else the root; 0
    // before the first refresh.
    std::uint64_t focus_key() const { return focus_key_; }
    QWindow& window() const { return window_; }
    QRect global_rect(const Entry& e) const;
    bool perform(std::uint64_t key, const a11y::SemanticAction& action);

private:
    // One node of a refresh, in depth-first order, with what changed since the last one.
    struct Visit {
        Entry* entry = nullptr;
        bool created = false, name = false, description = false, value = false, bounds = false;
        bool caret = false, selection = false;
        QAccessible::State state;  // the flags that changed
        QString text_before;       // a text node's text before it changed
    };
    // Moves the node and its children into the entries; returns the node's key.
    std::uint64_t walk(a11y::AccessNode& node, std::uint64_t parent, std::size_t index, std::vector<Visit>& order);
    NodeInterface* create(std::uint64_t key);
    std::uint64_t focus_in(const std::vector<Visit>& order) const;
    // Tells a text node's change from `before` to its value now.
    void tell_text_change(const Entry& e, const QString& before);
    bool inside(std::uint64_t key, std::uint64_t ancestor) const;

    QWindow& window_;
    host::Host& host_;
    std::function<void()> activated_;
    std::unordered_map<std::uint64_t, Entry> entries_;
    std::uint64_t root_key_ = 0;
    std::uint64_t focus_key_ = 0;
    std::uint64_t generation_ = 0;
    QTimer pending_;
    QElapsedTimer since_refresh_;
    qint64 pause_ms_ = 0;
};

// The AT-SPI role a node is exported with.
QAccessible::Role qt_role(const a11y::AccessNode& node);
// The states a node is exported with.
QAccessible::State qt_state(const a11y::AccessNode& node);
// A change of a text as one replaced stretch, for a text-changed event: what lies between the
// common start and end of the texts before and after, whole characters only, at a position
// counted in characters.
struct TextChange {
    int position = 0;
    QString removed, inserted;
};
TextChange text_change(const QString& before, const QString& after);
// Action names offered for the semantic actions a node accepts, and back.
QStringList action_names(const std::vector<a11y::SemanticActionKind>& kinds);
std::optional<a11y::SemanticActionKind> action_kind(const QString& name);

}  // namespace zavo_ui::qt

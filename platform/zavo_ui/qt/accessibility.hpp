#pragma once
// The widget's accessibility tree, exported through Qt's accessibility bridge (AT-SPI on
// Linux). Every node becomes an accessible object registered with Qt; actions that
// assistive technology performs come back to the widget as element activations.
#include <QAccessible>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "zavo_ui/a11y.hpp"
#include "zavo_ui/widget.hpp"

class QWindow;

namespace zavo_ui::qt {

class Shell;
class NodeInterface;

class AccessBridge {
 public:
  // `activated` runs after an action was performed (so the window can repaint).
  AccessBridge(QWindow& window, Shell& shell, std::function<void()> activated);
  ~AccessBridge();
  AccessBridge(const AccessBridge&) = delete;
  AccessBridge& operator=(const AccessBridge&) = delete;

  // The window's accessible object: the widget's root node.
  QAccessibleInterface* root();
  // Builds the tree anew and reports what changed. Does nothing while no assistive
  // technology listens, unless `force`.
  void refresh(bool force = false);

  // What an accessible object shows, by key.
  struct Entry {
    a11y::AccessNode node{a11y::AccessRole::Group};  // without its children
    std::uint64_t parent = 0;                        // 0: the root
    std::vector<std::uint64_t> children;
    std::vector<a11y::SemanticActionKind> actions;
    NodeInterface* iface = nullptr;
    QAccessible::Id id = 0;
  };
  const Entry* entry(std::uint64_t key) const;
  std::uint64_t root_key() const { return root_key_; }
  // The node that holds the focus, or 0.
  std::uint64_t focus_key() const { return focus_key_; }
  QWindow& window() const { return window_; }
  QRect global_rect(const Entry& e) const;
  bool perform(std::uint64_t key, const a11y::SemanticAction& action);

 private:
  void walk(a11y::AccessNode& node, std::uint64_t parent, std::size_t index,
            std::unordered_map<std::uint64_t, int>& seen, std::vector<const widget::SemanticActionBinding*>& bindings,
            std::size_t& next_binding, std::unordered_map<std::uint64_t, Entry>& out, std::vector<std::uint64_t>& order);
  NodeInterface* create(std::uint64_t key);
  std::uint64_t focus_in(const std::vector<std::uint64_t>& order) const;
  bool inside(std::uint64_t key, std::uint64_t ancestor) const;

  QWindow& window_;
  Shell& shell_;
  std::function<void()> activated_;
  std::unordered_map<std::uint64_t, Entry> entries_;
  std::uint64_t root_key_ = 0;
  std::uint64_t focus_key_ = 0;
  std::vector<widget::SemanticActionBinding> bindings_;
};

// The AT-SPI role a node is exported with.
QAccessible::Role qt_role(const a11y::AccessNode& node);
// The states a node is exported with.
QAccessible::State qt_state(const a11y::AccessNode& node);
// Action names offered for the semantic actions a node accepts, and back.
QStringList action_names(const std::vector<a11y::SemanticActionKind>& kinds);
std::optional<a11y::SemanticActionKind> action_kind(const QString& name);

}  // namespace zavo_ui::qt

#pragma once
// Hooks around typed actions dispatched on a document: whoever observes a document (undo
// history, change notification) learns the heads before and after each dispatched action.
#include "crdt/document.hpp"

#include <functional>
#include <optional>
#include <vector>

namespace zavo_ui::bound_dispatch {

struct TypedActionRecord {
    std::vector<crdt::ChangeHash> heads_before;
};

struct TypedActionReport {
    std::vector<crdt::ChangeHash> heads_before;
    std::vector<crdt::ChangeHash> heads_after;
};

using Observer = std::function<void(const TypedActionReport&)>;

// Observes the actions dispatched on `document` until replaced; an empty observer stops.
void observe(const crdt::Document& document, Observer observer);

// The document's state before an action, when someone observes it.
std::optional<TypedActionRecord> typed_action_before(crdt::Document& document);
// Tells the document's observer about an applied action.
void report_typed_action(crdt::Document& document, const TypedActionRecord& before,
                         std::vector<crdt::ChangeHash> heads_after);

}  // namespace zavo_ui::bound_dispatch

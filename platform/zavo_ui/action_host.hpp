#pragma once
// Dispatches the application's typed actions onto its document through the action executor.
#include "crdt/document.hpp"
#include "zavo_actions/action.hpp"
#include "zavo_actions/context.hpp"

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zavo_ui::action_host {

using zavo_actions::action::ActionError;
using zavo_actions::action::EncodedAction;
using zavo_actions::context::ActionContext;

class ActionHost {
public:
    // Heads from before the first dispatch the framework has not collected yet.
    std::optional<std::vector<crdt::ChangeHash>> pending_heads;
    std::optional<EncodedAction> last_action;
    // Merged into every dispatched context.
    std::optional<ActionContext> base_context;

    std::optional<std::vector<crdt::ChangeHash>> take_pending_heads();

    // Encodes `action` under `type`, applies it to `document` through the executor and
    // records it. `A` has serialize_json_writer, to_debug_string and apply(crdt::Document&).
    template <class A>
    std::expected<void, ActionError> dispatch_typed(crdt::Document& document, std::string_view type, const A& action,
                                                    std::optional<ActionContext> context = std::nullopt) {
        auto encoded = EncodedAction::encode(std::string(type), action);
        if (!encoded) return std::unexpected(std::move(encoded.error()));
        zavo_actions::action::TypedAction<A> boxed(action);
        return dispatch_encoded(document, boxed, std::move(*encoded), std::move(context));
    }

    // As dispatch_typed; a failure is logged as the warning "action dispatch failed" with the
    // error and the action type, and otherwise dropped.
    template <class A>
    void dispatch_with_context(crdt::Document& document, std::string_view type, const A& action,
                               std::optional<ActionContext> context = std::nullopt) {
        if (auto done = dispatch_typed(document, type, action, std::move(context)); !done)
            report_failure(done.error(), type);
    }

    std::expected<void, ActionError> dispatch_encoded(crdt::Document& document,
                                                      const zavo_actions::action::Action& action, EncodedAction encoded,
                                                      std::optional<ActionContext> context);
    static void report_failure(const ActionError& error, std::string_view type);
};

}  // namespace zavo_ui::action_host

#include "zavo_ui/action_host.hpp"

#include "zavo_actions/executor.hpp"
#include "zavo_ui/bound_dispatch.hpp"

#include <spdlog/spdlog.h>

namespace zavo_ui::action_host {

std::optional<std::vector<crdt::ChangeHash>> ActionHost::take_pending_heads() {
    auto heads = std::move(pending_heads);
    pending_heads.reset();
    return heads;
}

std::expected<void, ActionError> ActionHost::dispatch_encoded(crdt::Document& document,
                                                              const zavo_actions::action::Action& action,
                                                              EncodedAction encoded,
                                                              std::optional<ActionContext> context) {
    auto before = bound_dispatch::typed_action_before(document);
    std::vector<crdt::ChangeHash> heads_before = before ? before->heads_before : document.get_heads();
    std::vector<std::uint8_t> actor = document.actor_id().to_bytes();

    std::optional<ActionContext> merged;
    if (!base_context)
        merged = std::move(context);
    else if (!context)
        merged = base_context;
    else
        merged = context->enriched_by(*base_context);

    zavo_actions::executor::LocalTransport transport;
    auto done = merged ? zavo_actions::executor::dispatch_by_with_context(document, action, encoded, transport, actor,
                                                                          *merged)
                       : zavo_actions::executor::dispatch_by(document, action, encoded, transport, actor);
    if (!done) return done;

    if (before) bound_dispatch::report_typed_action(document, *before, document.get_heads());
    if (!pending_heads) pending_heads = std::move(heads_before);
    last_action = std::move(encoded);
    return {};
}

void ActionHost::report_failure(const ActionError& error, std::string_view type) {
    spdlog::warn("action dispatch failed error={} action_type={}", error.to_string(), type);
}

}  // namespace zavo_ui::action_host

#include "zavo_actions/executor.hpp"

namespace zavo_actions::executor {
namespace {

std::expected<void, action::ActionError> run(crdt::Document& document, const action::Action& action,
                                             const action::EncodedAction& encoded, LocalTransport& transport,
                                             std::span<const std::uint8_t> actor,
                                             const context::ActionContext* context) {
    // Edits made before this action belong to their own change.
    document.commit();
    if (auto applied = action.apply(document); !applied) return applied;
    std::optional<std::string> message;
    if (context && !context->label.empty()) message = context->label;
    document.commit(std::move(message));
    transport.outbox.push_back(Delivery{encoded, std::vector<std::uint8_t>(actor.begin(), actor.end()),
                                        context ? std::optional(*context) : std::nullopt});
    return {};
}

}  // namespace

std::expected<void, action::ActionError> dispatch_by(crdt::Document& document, const action::Action& action,
                                                     const action::EncodedAction& encoded, LocalTransport& transport,
                                                     std::span<const std::uint8_t> actor) {
    return run(document, action, encoded, transport, actor, nullptr);
}

std::expected<void, action::ActionError> dispatch_by_with_context(crdt::Document& document,
                                                                  const action::Action& action,
                                                                  const action::EncodedAction& encoded,
                                                                  LocalTransport& transport,
                                                                  std::span<const std::uint8_t> actor,
                                                                  const context::ActionContext& context) {
    return run(document, action, encoded, transport, actor, &context);
}

}  // namespace zavo_actions::executor

#pragma once
// Applies actions to a document and hands what was applied to a transport.
#include "crdt/document.hpp"
#include "zavo_actions/action.hpp"
#include "zavo_actions/context.hpp"

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <vector>

namespace zavo_actions::executor {

// One applied action as a transport carries it to other replicas.
struct Delivery {
    action::EncodedAction action;
    std::vector<std::uint8_t> actor;
    std::optional<context::ActionContext> context;
};

// A transport that keeps its deliveries in this process.
struct LocalTransport {
    std::vector<Delivery> outbox;
};

// Applies `action` to `document` and commits it as one change (labelled by the context);
// on success the encoded action goes to the transport's outbox. A failed apply is returned
// and delivers nothing.
std::expected<void, action::ActionError> dispatch_by(crdt::Document& document, const action::Action& action,
                                                     const action::EncodedAction& encoded, LocalTransport& transport,
                                                     std::span<const std::uint8_t> actor);
std::expected<void, action::ActionError> dispatch_by_with_context(crdt::Document& document,
                                                                  const action::Action& action,
                                                                  const action::EncodedAction& encoded,
                                                                  LocalTransport& transport,
                                                                  std::span<const std::uint8_t> actor,
                                                                  const context::ActionContext& context);

}  // namespace zavo_actions::executor

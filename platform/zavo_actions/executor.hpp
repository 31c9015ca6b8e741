#pragma once
// Applies actions to a document and hands what was applied to a transport; finds the action a
// request names in an application's resources and checks its arguments.
#include "crdt/document.hpp"
#include "zavo_actions/action.hpp"
#include "zavo_actions/context.hpp"
#include "zavo_actions/params.hpp"
#include "zavo_actions/registry.hpp"
#include "zavo_actions/resource.hpp"

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
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
std::expected<void, action::ActionError> dispatch_by_with_context(
    crdt::Document& document, const action::Action& action, const action::EncodedAction& encoded,
    LocalTransport& transport, std::span<const std::uint8_t> actor, const context::ActionContext& context);

// Why the executor turned a request down. Nothing was changed.
struct Refusal {
    enum class Kind : std::uint8_t {
        UnknownResource,
        UnknownAction,
        Unavailable,       // the action's reason code and message
        InvalidArguments,  // unknown, repeated or oversized arguments
        Refused,           // the application would not start or run the operation
        NotHandled,        // the application does not handle the operation
        UnknownOperation,  // no started operation has that id
        Failed,            // the action could not be decoded or applied
    };
    Kind kind = Kind::Failed;
    std::string message;
    std::string reason_code;  // Unavailable only

    friend bool operator==(const Refusal&, const Refusal&) = default;
};

// The most bytes one argument value may have: well above what any action takes (an SSH input
// is at most 64 KiB), so that the action's own refusal is the one a caller gets.
inline constexpr std::size_t kMaxArgumentBytes = 1024 * 1024;

// The resource with `id`, searched depth first through the roots and their children.
const resource::Resource* find_resource(const std::vector<resource::Resource>& roots, std::string_view id);
const resource::ActionSpec* find_action(const resource::Resource& resource, std::string_view id);

// The action `action_id` of the resource `resource_id`, when it exists, is available, and
// `args` names only its parameters and holds no value over kMaxArgumentBytes. An argument left
// out is the action's to read (its encoder takes it as the empty text).
std::expected<const resource::ActionSpec*, Refusal> resolve(const std::vector<resource::Resource>& roots,
                                                            std::string_view resource_id, std::string_view action_id,
                                                            const params::ActionArgs& args);

// Decodes a plain action with the registry and applies it to `document` as one committed
// change labelled with the context.
std::expected<void, Refusal> apply_plain(const ActionRegistry& registry, crdt::Document& document,
                                         const action::EncodedAction& encoded, const context::ActionContext& context);

// The resources as JSON: an array of {id, kind, title, actions, children}; each action with
// its id, title, description, operation type and kind, availability, destructive mark,
// contract words, parameters and input hint.
std::string resources_json(const std::vector<resource::Resource>& roots);

}  // namespace zavo_actions::executor

#pragma once
// Encoding and decoding of the application's actions and operations, and the `ActionSpec`s that
// carry them.
#include "codecs/remote_action.hpp"
#include "codecs/remote_operation.hpp"
#include "profiles/saved_connection.hpp"
#include "zavo_actions/action.hpp"
#include "zavo_actions/params.hpp"
#include "zavo_actions/registry.hpp"
#include "zavo_actions/resource.hpp"

#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace remote {

inline constexpr std::string_view kRemoteActionType = "remote.action";
inline constexpr std::string_view kRemoteOperationType = "remote.operation";

RemoteAction rename_action(const Uuid& id, std::string name);
// The connection's configuration: id, name, host, port, user, kind, auth and group.
RemoteAction upsert_action(const SavedConnection& connection);

// Under "remote.action"; encoding cannot fail (a failure stops the program).
zavo_actions::action::EncodedAction encode_remote_action(const RemoteAction& action);
// A plain action that dispatches `action`.
zavo_actions::resource::ActionSpec remote_action_spec(std::string_view id, std::string_view label,
                                                      const RemoteAction& action);

// Under "remote.operation"; an operation that cannot be encoded gives an empty payload.
zavo_actions::action::EncodedAction encode_remote_operation(const RemoteOperation& operation);
// An `ActionSpec` carrying `operation`; when it cannot be encoded once, one that encodes it
// at each invocation.
zavo_actions::resource::ActionSpec operation_action_spec(std::string_view id, std::string_view label,
                                                         OperationKind kind, const RemoteOperation& operation);

// Payload makers for actions with input: Disconnect for the id, and SendText for the
// id with the argument "text" (empty when absent).
std::function<zavo_actions::action::EncodedAction(const zavo_actions::params::ActionArgs&)> disconnect_encoder(
    const Uuid& connection_id);
std::function<zavo_actions::action::EncodedAction(const zavo_actions::params::ActionArgs&)> send_text_encoder(
    const Uuid& connection_id);

// None when the encoded action is not a "remote.operation"; else the operation or the
// decoding error's text.
std::optional<std::expected<RemoteOperation, std::string>> decode_remote_operation(
    const zavo_actions::action::EncodedAction& encoded);

// The decoder registered under "remote.action".
std::expected<std::unique_ptr<zavo_actions::action::Action>, zavo_actions::action::ActionError> decode_remote_action(
    std::span<const std::uint8_t> payload);
// Registers that decoder, replacing any earlier one under the name.
void register_remote_actions(zavo_actions::ActionRegistry& registry);

// The first record with `id`; the list is consumed.
std::optional<SavedConnection> take_connection_by_id(std::vector<SavedConnection> connections, const Uuid& id);

}  // namespace remote

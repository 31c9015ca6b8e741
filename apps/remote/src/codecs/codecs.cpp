#include "codecs/codecs.hpp"

#include "framework_support/action_specs.hpp"

#include <spdlog/spdlog.h>

#include <cstdlib>

namespace remote {

using zavo_actions::action::EncodedAction;
using zavo_actions::params::ActionArgs;

RemoteAction rename_action(const Uuid& id, std::string name) {
    return RemoteAction{RemoteAction::RenameConnection{id, std::move(name)}};
}

RemoteAction upsert_action(const SavedConnection& c) {
    return RemoteAction{RemoteAction::UpsertConnection{c.id, c.name, c.host, c.port, c.user, c.kind, c.auth, c.group}};
}

EncodedAction encode_remote_action(const RemoteAction& action) {
    auto encoded = EncodedAction::encode(std::string(kRemoteActionType), action);
    if (!encoded) {
        spdlog::critical("RemoteAction is always serializable: {}", encoded.error().to_debug_string());
        std::abort();
    }
    return std::move(*encoded);
}

zavo_actions::resource::ActionSpec remote_action_spec(std::string_view id, std::string_view label,
                                                      const RemoteAction& action) {
    auto spec = framework_support::typed_action(id, label, kRemoteActionType, action);
    if (!spec) {
        spdlog::critical("encode remote action: {}", spec.error().to_debug_string());
        std::abort();
    }
    return std::move(*spec);
}

EncodedAction encode_remote_operation(const RemoteOperation& operation) {
    auto encoded = EncodedAction::encode(std::string(kRemoteOperationType), operation);
    if (!encoded) return EncodedAction{std::string(kRemoteOperationType), {}};
    return std::move(*encoded);
}

zavo_actions::resource::ActionSpec operation_action_spec(std::string_view id, std::string_view label,
                                                         OperationKind kind, const RemoteOperation& operation) {
    auto byte = static_cast<std::uint8_t>(kind);
    auto spec = framework_support::typed_operation(id, label, byte, kRemoteOperationType, operation);
    if (spec) return std::move(*spec);
    return framework_support::operation_with_input(
        id, label, "", byte, kRemoteOperationType, {},
        [operation](const ActionArgs&) { return encode_remote_operation(operation); });
}

std::function<EncodedAction(const ActionArgs&)> disconnect_encoder(const Uuid& connection_id) {
    return [connection_id](const ActionArgs&) {
        return encode_remote_operation(RemoteOperation{RemoteOperation::Disconnect{connection_id}});
    };
}

std::function<EncodedAction(const ActionArgs&)> send_text_encoder(const Uuid& connection_id) {
    return [connection_id](const ActionArgs& args) {
        return encode_remote_operation(
            RemoteOperation{RemoteOperation::SendText{connection_id, args.text("text").value_or("")}});
    };
}

std::optional<std::expected<RemoteOperation, std::string>> decode_remote_operation(const EncodedAction& encoded) {
    if (encoded.type_id != kRemoteOperationType) return std::nullopt;
    auto operation = RemoteOperation::deserialize_json(encoded.payload_text());
    if (!operation) return std::unexpected(operation.error().to_string());
    return std::move(*operation);
}

std::optional<SavedConnection> take_connection_by_id(std::vector<SavedConnection> connections, const Uuid& id) {
    for (auto& connection : connections)
        if (connection.id == id) return std::move(connection);
    return std::nullopt;
}

}  // namespace remote

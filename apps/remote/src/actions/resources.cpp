#include "actions/resources.hpp"

#include "app/remote_app.hpp"
#include "codecs/codecs.hpp"
#include "framework_support/action_specs.hpp"
#include "profiles/connection_list.hpp"
#include "profiles/text.hpp"

#include <fmt/format.h>

#include <array>
#include <cstdint>
#include <string>

namespace remote {
namespace {

using zavo_actions::resource::ActionSpec;
using zavo_actions::resource::Resource;
using Settings = std::array<std::uint8_t, 5>;

constexpr auto kSession = static_cast<std::uint8_t>(OperationKind::Session);

// Rename, favourite and delete change the document.
ActionSpec document_action(ActionSpec spec) {
    spec.contract.settings[0] = 1;
    return spec;
}

ActionSpec connect_action(const SavedConnection& record) {
    const ConnectionReadiness readiness = record.readiness();
    const std::string_view notice = readiness_notice(readiness, record.kind);
    auto spec = operation_action_spec("connect", "Connect", OperationKind::Session,
                                      RemoteOperation{RemoteOperation::Connect{record.id}})
                    .with_description(fmt::format("Open a live session to this saved connection. {}", notice))
                    .with_contract({"network", "session"}, Settings{0, 2, 0, 3, 1});
    if (readiness == ConnectionReadiness::Ready) return spec;
    return std::move(spec).unavailable(std::string(*reason_code(readiness)),
                                       std::string(record.readiness_reason(readiness)));
}

ActionSpec disconnect_action(const Uuid& id) {
    return operation_action_spec("disconnect", "Disconnect session", OperationKind::Session,
                                 RemoteOperation{RemoteOperation::Disconnect{id}})
        .with_contract({"network", "session"}, Settings{0, 0, 0, 1, 3});
}

ActionSpec send_text_action(const Uuid& id, bool ssh_connected) {
    auto spec = framework_support::operation_with_input(
                    "send-text", "Send text to session", "command or text", kSession, kRemoteOperationType,
                    {framework_support::text_parameter("text", "Text to deliver to the connected SSH terminal")},
                    send_text_encoder(id))
                    .with_contract({"remote-input", "session"}, Settings{0, 2, 0, 3, 3});
    if (ssh_connected) return spec;
    return std::move(spec).unavailable("terminal_not_connected", "Text input requires a connected SSH terminal");
}

std::optional<ActionSpec> host_key_action(const Uuid& id, const std::optional<HostKeyProblem>& problem) {
    if (!problem) return std::nullopt;
    if (const auto* unknown = std::get_if<HostKeyUnknown>(&*problem)) {
        const HostKeyIdentity& key = unknown->presented;
        return operation_action_spec("trust-host-key", "Trust SSH host key", OperationKind::Session,
                                     RemoteOperation{RemoteOperation::TrustSshHostKey{id, key}})
            .with_description(fmt::format("Explicitly trust {} {} for this device only after out-of-band verification.",
                                          key.algorithm, key.fingerprint))
            .with_contract({"ssh", "host-key", "device-private"}, Settings{0, 2, 0, 3, 3});
    }
    if (std::holds_alternative<HostKeyChanged>(*problem)) {
        return operation_action_spec("forget-host-key", "Forget SSH host key", OperationKind::Session,
                                     RemoteOperation{RemoteOperation::ForgetSshHostKey{id}})
            .with_description("Remove this device's stale SSH host-key pin; reconnect to inspect a replacement key.")
            .with_contract({"ssh", "host-key", "device-private"}, Settings{0, 2, 0, 2, 3});
    }
    return std::nullopt;  // an unreadable trust store offers neither
}

}  // namespace

std::vector<Resource> connection_list_resources(const ProfileDocument& document) {
    std::vector<Resource> connections;
    for (auto& record : load_connections(document)) connections.push_back(connection_resources(std::move(record)));
    auto list = Resource("remote.connections", "remote.connection-list", "Remote connections")
                    .with_action(operation_action_spec("open", "Show connections", OperationKind::View,
                                                       RemoteOperation{RemoteOperation::ShowConnections{}}))
                    .with_action(operation_action_spec("new", "New connection", OperationKind::View,
                                                       RemoteOperation{RemoteOperation::NewConnectionForm{}}))
                    .with_child(std::move(connections));
    std::vector<Resource> roots;
    roots.push_back(std::move(list));
    return roots;
}

Resource connection_resources(SavedConnection record) {
    const Uuid id = record.id;
    std::string title = trim_unicode(record.name).empty() ? record.host : record.name;
    const char* favorite_label = record.favorite ? "Remove from favourites" : "Add to favourites";
    auto rename = framework_support::text_action("rename", "Rename connection", "New name", "connection name", false,
                                                 framework_support::make_text_encoder([id](std::string_view name) {
                                                     return encode_remote_action(rename_action(id, std::string(name)));
                                                 }));
    return Resource("remote.connection:" + id.to_string(), "remote.connection", std::move(title))
        .with_action(operation_action_spec("open", "Open connection settings", OperationKind::View,
                                           RemoteOperation{RemoteOperation::EditConnection{id}}))
        .with_action(connect_action(record))
        .with_action(document_action(std::move(rename)))
        .with_action(document_action(remote_action_spec("favorite", favorite_label,
                                                        RemoteAction{RemoteAction::SetFavorite{id, !record.favorite}})))
        .with_action(document_action(
            remote_action_spec("delete", "Delete connection", RemoteAction{RemoteAction::DeleteConnection{id}})
                .destructive()));
}

Resource session_resource(const SavedConnection& record, bool ssh_connected,
                          const std::optional<HostKeyProblem>& problem) {
    auto resource = Resource("remote.session:" + record.id.to_string(), "remote.session", record.name + " session")
                        .with_action(disconnect_action(record.id))
                        .with_action(send_text_action(record.id, ssh_connected));
    if (auto host_key = host_key_action(record.id, problem))
        resource = std::move(resource).with_action(std::move(*host_key));
    return resource;
}

namespace app {

std::vector<zavo_actions::resource::Resource> RemoteApp::action_resources(const crdt::Document& document) {
    auto roots = connection_list_resources(document);
    if (!session.target()) return roots;
    const SavedConnection* record = find_connection(connections, *session.target());
    if (record == nullptr) return roots;
    roots.front().children.push_back(
        session_resource(*record, session.connected_ssh() != nullptr, session.host_key_problem(record->id)));
    return roots;
}

}  // namespace app
}  // namespace remote

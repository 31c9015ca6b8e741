#include "codecs/codecs.hpp"
#include "doc/profile_document.hpp"
#include "framework_support/action_specs.hpp"
#include "shared/overloaded.hpp"

namespace remote {
namespace {

void upsert(ProfileDocument& document, const RemoteAction::UpsertConnection& a) {
    // Favourite, presence and last use are not part of the action: keep the stored ones.
    std::optional<SavedConnection> stored = take_connection_by_id(load_connections(document), a.id);
    SavedConnection record;
    record.name = a.name;
    record.host = a.host;
    record.port = a.port;
    record.user = a.user;
    record.kind = a.kind;
    record.auth = a.auth;
    record.group = a.group;
    record.id = a.id;
    record.favorite = stored ? stored->favorite : false;
    record.presence = stored ? stored->presence : Presence::Unknown;
    record.last_used = stored ? std::move(stored->last_used) : std::string("Never");
    store_connection(document, record);
}

}  // namespace

std::expected<void, zavo_actions::action::ActionError> RemoteAction::apply(crdt::Document& document) const {
    std::visit(Overloaded{
                   [&](const UpsertConnection& a) { upsert(document, a); },
                   [&](const RenameConnection& a) { rename_connection(document, a.id, a.name); },
                   [&](const SetFavorite& a) { set_favorite(document, a.id, a.favorite); },
                   [&](const DeleteConnection& a) { delete_connection(document, a.id); },
               },
               value);
    return {};
}

std::expected<std::unique_ptr<zavo_actions::action::Action>, zavo_actions::action::ActionError> decode_remote_action(
    std::span<const std::uint8_t> payload) {
    return framework_support::typed_decoder<RemoteAction>(kRemoteActionType)(payload);
}

void register_remote_actions(zavo_actions::ActionRegistry& registry) {
    framework_support::register_action<RemoteAction>(registry, kRemoteActionType);
}

}  // namespace remote

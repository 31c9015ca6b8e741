#pragma once
// Changes of the saved-connection document, as they travel under "remote.action".
#include "crdt/document.hpp"
#include "doc/json_reader.hpp"
#include "profiles/saved_connection.hpp"
#include "profiles/uuid.hpp"
#include "zavo_actions/action.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <variant>

namespace remote {

struct RemoteAction {
    // A connection's configuration; favourite, presence and last use stay as stored.
    struct UpsertConnection {
        Uuid id;
        std::string name;
        std::string host;
        std::uint16_t port = 0;
        std::string user;
        ConnectionKind kind = ConnectionKind::Ssh;
        AuthKind auth = AuthKind::Password;
        std::string group;
        friend bool operator==(const UpsertConnection&, const UpsertConnection&) = default;
    };
    struct RenameConnection {
        Uuid id;
        std::string name;
        friend bool operator==(const RenameConnection&, const RenameConnection&) = default;
    };
    struct SetFavorite {
        Uuid id;
        bool favorite = false;
        friend bool operator==(const SetFavorite&, const SetFavorite&) = default;
    };
    struct DeleteConnection {
        Uuid id;
        friend bool operator==(const DeleteConnection&, const DeleteConnection&) = default;
    };

    std::variant<UpsertConnection, RenameConnection, SetFavorite, DeleteConnection> value;

    // The variant's name ("UpsertConnection").
    std::string_view variant_name() const;
    // Compact JSON: {"RenameConnection":{"id":"…","name":"…"}}.
    std::string serialize_json_writer() const;
    // The same structure as a JSON value, members in declared order.
    nlohmann::ordered_json serialize() const;
    static std::expected<RemoteAction, json::Error> deserialize_json(std::string_view bytes);
    // RenameConnection { id: 00000000-…, name: "abc" }
    std::string to_debug_string() const;
    // Applies the change to the profile document. Never fails: an id the document does not
    // hold leaves it unchanged (an upsert creates the record).
    std::expected<void, zavo_actions::action::ActionError> apply(crdt::Document& document) const;

    friend bool operator==(const RemoteAction&, const RemoteAction&) = default;
};

}  // namespace remote

#pragma once
// The saved connections inside the replicated document:
//
//   ROOT . "connections" . <id>   map, one per connection, keyed by the lower-case hyphenated id
//     "name"                       text object (merges character edits from several replicas)
//     "host" "user" "kind" "auth" "last_used" "presence" "group"   string scalars
//     "port"                       signed integer     "favorite"   boolean
//
// Reading never fails: a wrong shape gives an empty list, a skipped entry or a field default.
// Writing touches only what differs, so storing an unchanged connection adds no history.
// Other keys, at the root and inside a connection, are left as they are.
#include "crdt/document.hpp"
#include "profiles/saved_connection.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace remote {

// The framework's document, committing automatically.
using ProfileDocument = crdt::Document;

// ROOT . "connections", created (replacing whatever is there) unless it is a map. Where the
// key is absent it is made by one change that every replica makes alike, so that replicas
// starting apart share the map. Maps made concurrently are repaired first.
crdt::ObjId ensure_connections_map(ProfileDocument& doc);
// Moves the connections of "connections" maps made concurrently (each replica its own, before
// they met) into the one the document shows; returns whether anything changed. Every replica
// repairs to the same result, and a repaired document is left as it is. Reading needs no
// repair: load_connections reads such maps as one.
bool repair_connections_map(ProfileDocument& doc);
std::vector<SavedConnection> load_connections(const ProfileDocument& doc);
void store_connection(ProfileDocument& doc, const SavedConnection& connection);
// These three change nothing in the connection maps when the id is not stored.
void rename_connection(ProfileDocument& doc, const Uuid& id, std::string_view name);
void set_favorite(ProfileDocument& doc, const Uuid& id, bool favorite);
void delete_connection(ProfileDocument& doc, const Uuid& id);
// The string scalar under `key`; the empty text for anything else.
std::string read_string_property(const ProfileDocument& doc, const crdt::ObjId& map, std::string_view key);

}  // namespace remote

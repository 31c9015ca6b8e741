#pragma once
// Search, order and in-memory edits of the saved-connection list.
#include "profiles/saved_connection.hpp"
#include "profiles/uuid.hpp"

#include <compare>
#include <cstddef>
#include <string_view>
#include <vector>

namespace remote {

// The records matching `query` (trimmed and lower-cased here), favourites first, then by
// lower-cased name; equal records keep their list order. Pointers into `connections`,
// valid until the list changes.
std::vector<const SavedConnection*> visible_connections(const std::vector<SavedConnection>& connections,
                                                        std::string_view query);

// `query` already trimmed and lower-cased: empty, or a substring of the lower-cased name,
// host, user, group or stored kind name.
bool matches_query(std::string_view query, const SavedConnection& connection);

// Favourites first, then lower-cased names compared byte by byte.
std::weak_ordering compare_connections(const SavedConnection& a, const SavedConnection& b);

std::size_t online_count(const std::vector<SavedConnection>& connections);

// The first record with `id`, or null.
SavedConnection* find_connection(std::vector<SavedConnection>& connections, const Uuid& id);
const SavedConnection* find_connection(const std::vector<SavedConnection>& connections, const Uuid& id);

// Flips the first match's favourite flag; false when there is none.
bool toggle_favorite(std::vector<SavedConnection>& connections, const Uuid& id);
// Removes every record with `id`; true when one was removed.
bool remove_connection(std::vector<SavedConnection>& connections, const Uuid& id);
// Replaces the first record with the same id in place, or appends.
void upsert_connection(std::vector<SavedConnection>& connections, SavedConnection connection);

}  // namespace remote

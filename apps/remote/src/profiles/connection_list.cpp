#include "profiles/connection_list.hpp"

#include "profiles/text.hpp"

#include <algorithm>
#include <atomic>
#include <string>

namespace remote {
namespace {

bool is_ascii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// Whether the lower-cased `text` contains `query`; ASCII text is searched without copying.
bool contains_lowered(std::string_view text, std::string_view query) {
    if (!is_ascii(text)) return to_lower_full(text).find(query) != std::string::npos;
    if (query.size() > text.size()) return false;
    auto hit = std::search(text.begin(), text.end(), query.begin(), query.end(),
                           [](char t, char q) { return ascii_lower(t) == q; });
    return hit != text.end();
}

std::string_view lowered_stored_name(ConnectionKind kind) {
    switch (kind) {
        case ConnectionKind::Ssh: return "ssh";
        case ConnectionKind::Vnc: return "vnc";
        case ConnectionKind::Rdp: return "rdp";
        case ConnectionKind::Zavo: return "zavo";
    }
    return "";
}

std::weak_ordering compare_keys(bool a_favorite, std::string_view a_name, bool b_favorite, std::string_view b_name) {
    if (a_favorite != b_favorite) return a_favorite ? std::weak_ordering::less : std::weak_ordering::greater;
    // std::string_view compares as unsigned bytes (char_traits<char>::compare uses memcmp).
    int c = a_name.compare(b_name);
    return c < 0 ? std::weak_ordering::less : c > 0 ? std::weak_ordering::greater : std::weak_ordering::equivalent;
}

}  // namespace

bool matches_query(std::string_view query, const SavedConnection& connection) {
    if (query.empty()) return true;
    return contains_lowered(connection.name, query) || contains_lowered(connection.host, query) ||
           contains_lowered(connection.user, query) || contains_lowered(connection.group, query) ||
           lowered_stored_name(connection.kind).find(query) != std::string_view::npos;
}

std::weak_ordering compare_connections(const SavedConnection& a, const SavedConnection& b) {
    return compare_keys(a.favorite, to_lower_full(a.name), b.favorite, to_lower_full(b.name));
}

std::vector<const SavedConnection*> visible_connections(const std::vector<SavedConnection>& connections,
                                                        std::string_view query) {
    std::string prepared = to_lower_full(trim_unicode(query));
    std::vector<const SavedConnection*> kept;
    for (const auto& connection : connections)
        if (matches_query(prepared, connection)) kept.push_back(&connection);
    if (kept.size() < 2) return kept;

    // Each kept name is lower-cased once for this call, not once per comparison.
    struct Keyed {
        const SavedConnection* connection;
        std::string name;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(kept.size());
    for (const auto* connection : kept) keyed.push_back({connection, to_lower_full(connection->name)});
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        return compare_keys(a.connection->favorite, a.name, b.connection->favorite, b.name) < 0;
    });
    for (std::size_t i = 0; i < keyed.size(); ++i) kept[i] = keyed[i].connection;
    return kept;
}

std::size_t online_count(const std::vector<SavedConnection>& connections) {
    return static_cast<std::size_t>(std::count_if(connections.begin(), connections.end(),
                                                  [](const auto& c) { return c.presence == Presence::Online; }));
}

SavedConnection* find_connection(std::vector<SavedConnection>& connections, const Uuid& id) {
    auto it = std::find_if(connections.begin(), connections.end(), [&](const auto& c) { return c.id == id; });
    return it == connections.end() ? nullptr : &*it;
}

const SavedConnection* find_connection(const std::vector<SavedConnection>& connections, const Uuid& id) {
    return find_connection(const_cast<std::vector<SavedConnection>&>(connections), id);
}

bool toggle_favorite(std::vector<SavedConnection>& connections, const Uuid& id) {
    SavedConnection* connection = find_connection(connections, id);
    if (!connection) return false;
    connection->favorite = !connection->favorite;
    return true;
}

bool remove_connection(std::vector<SavedConnection>& connections, const Uuid& id) {
    return std::erase_if(connections, [&](const auto& c) { return c.id == id; }) > 0;
}

void upsert_connection(std::vector<SavedConnection>& connections, SavedConnection connection) {
    if (SavedConnection* existing = find_connection(connections, connection.id))
        *existing = std::move(connection);
    else
        connections.push_back(std::move(connection));
}

void ConnectionList::touch() {
    static std::atomic<std::uint64_t> next{1};
    revision_ = next.fetch_add(1, std::memory_order_relaxed);
}

bool toggle_favorite(ConnectionList& connections, const Uuid& id) {
    const bool found = toggle_favorite(static_cast<std::vector<SavedConnection>&>(connections), id);
    if (found) connections.touch();
    return found;
}

bool remove_connection(ConnectionList& connections, const Uuid& id) {
    const bool removed = remove_connection(static_cast<std::vector<SavedConnection>&>(connections), id);
    if (removed) connections.touch();
    return removed;
}

void upsert_connection(ConnectionList& connections, SavedConnection connection) {
    upsert_connection(static_cast<std::vector<SavedConnection>&>(connections), std::move(connection));
    connections.touch();
}

const std::vector<std::size_t>& ListCache::visible(const ConnectionList& list, std::string_view query) {
    const Key key = key_of(list);
    if (visible_key_ == key && query_ == query) return visible_;
    visible_.clear();
    for (const SavedConnection* c : visible_connections(list, query))
        visible_.push_back(static_cast<std::size_t>(c - list.data()));
    visible_key_ = key;
    query_ = query;
    return visible_;
}

const ListCache::Counts& ListCache::counts(const ConnectionList& list) {
    const Key key = key_of(list);
    const bool live = live_sessions_enabled();
    if (counts_key_ == key && counts_live_ == live) return counts_;
    counts_ = {list.size(), online_count(list),
               static_cast<std::size_t>(std::count_if(list.begin(), list.end(), [](const SavedConnection& c) {
                   return c.readiness() == ConnectionReadiness::Ready;
               }))};
    counts_key_ = key;
    counts_live_ = live;
    return counts_;
}

}  // namespace remote

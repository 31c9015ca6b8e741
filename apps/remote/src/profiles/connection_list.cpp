#include "profiles/connection_list.hpp"

#include "profiles/text.hpp"

#include <string.h>

#include <algorithm>
#include <atomic>
#include <string>

namespace remote {
namespace {

bool is_ascii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// Whether the lower-cased `text` contains `query`, in time linear in both (memmem's two-way
// search): a long name and a long pasted query that nearly match everywhere cost no more than
// reading them. ASCII text is lowered into a buffer kept from call to call.
bool contains_lowered(std::string_view text, std::string_view query) {
    thread_local std::string lowered;
    if (is_ascii(text)) {
        if (query.size() > text.size()) return false;
        lowered.resize(text.size());
        std::transform(text.begin(), text.end(), lowered.begin(), ascii_lower);
    } else {
        lowered = to_lower_full(text);
    }
    return ::memmem(lowered.data(), lowered.size(), query.data(), query.size()) != nullptr;
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

namespace {

// Rows placed one by one in the kept order, up to this many; more are sorted anew.
constexpr std::size_t kPlaceLimit = 128;
constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// SavedConnection::readiness reads the kind, the authentication and, for a device, the host
// (and the live-session switch, which the cache watches itself).
bool same_readiness_inputs(const SavedConnection& a, const SavedConnection& b) {
    return a.kind == b.kind && a.auth == b.auth && (a.kind != ConnectionKind::Zavo || a.host == b.host);
}

}  // namespace

ListCache::Row ListCache::row_of(const SavedConnection& record) {
    return {record, to_lower_full(record.name), record.readiness()};
}

bool ListCache::before(std::size_t a, std::size_t b) const {
    const Row& x = rows_[a];
    const Row& y = rows_[b];
    const auto order = compare_keys(x.record.favorite, x.sort_name, y.record.favorite, y.sort_name);
    return order != 0 ? order < 0 : a < b;
}

void ListCache::sort_order() {
    // Sorted as a compact copy of the keys, which the comparisons read without visiting the rows.
    struct Keyed {
        bool favorite;
        std::string_view name;
        std::size_t index;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(rows_.size());
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (matches_query(prepared_, rows_[i].record)) keyed.push_back({rows_[i].record.favorite, rows_[i].sort_name, i});
    std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        const auto order = compare_keys(a.favorite, a.name, b.favorite, b.name);
        return order != 0 ? order < 0 : a.index < b.index;
    });
    visible_.resize(keyed.size());
    for (std::size_t i = 0; i < keyed.size(); ++i) visible_[i] = keyed[i].index;
}

void ListCache::place(std::size_t index) {
    if (!matches_query(prepared_, rows_[index].record)) return;
    const auto at = std::lower_bound(visible_.begin(), visible_.end(), index,
                                     [this](std::size_t a, std::size_t b) { return before(a, b); });
    visible_.insert(at, index);
}

void ListCache::refresh(const ConnectionList& list) {
    const Key key = key_of(list);
    const bool live = live_sessions_enabled();
    if (key_ == key && live_ == live) return;
    const bool rejudge = key_ && live != live_;
    key_ = key;
    live_ = live;

    // One pass pairs the records with the rows kept, both in list order: a record with the id
    // of the row at its place is that row; a row a place out of line was removed; a record
    // whose next one has the row's id was added; anything else is a new record in place of an
    // old one. A paired row that differs from its record is brought up to date there.
    std::vector<std::size_t> source(list.size(), kNone);  // the kept row of each record
    std::vector<std::size_t> target(rows_.size(), kNone);  // the record of each unchanged row
    std::vector<std::size_t> fresh;                         // records new or changed
    std::vector<std::size_t> judge;                         // kept rows to judge again
    bool aligned = list.size() == rows_.size();
    const auto row_is = [&](std::size_t at, const Uuid& id) { return at < rows_.size() && rows_[at].record.id == id; };
    for (std::size_t i = 0, j = 0; i < list.size(); ++i) {
        const SavedConnection& record = list[i];
        if (!row_is(j, record.id) && row_is(j + 1, record.id)) ++j;  // row j was removed
        if (!row_is(j, record.id)) {
            fresh.push_back(i);
            aligned = false;
            // Unless the next record is row j's (this one was added), this one takes its place.
            if (!(i + 1 < list.size() && row_is(j, list[i + 1].id))) ++j;
            continue;
        }
        source[i] = j;
        aligned = aligned && i == j;
        Row& row = rows_[j++];
        if (row.record == record) {
            target[source[i]] = i;
        } else {
            fresh.push_back(i);
            const bool renamed = row.record.name != record.name;
            if (!same_readiness_inputs(row.record, record)) judge.push_back(j - 1);
            row.record = record;
            if (renamed) row.sort_name = to_lower_full(record.name);
        }
    }
    for (std::size_t j : judge) rows_[j].readiness = rows_[j].record.readiness();

    // The order loses the rows that went or changed and names the others by their new places;
    // the fresh ones are placed once the rows are current.
    const std::size_t unchanged = list.size() - fresh.size();
    const bool incremental = ordered_ && fresh.size() <= kPlaceLimit && rows_.size() - unchanged <= kPlaceLimit;
    if (incremental) {
        std::erase_if(visible_, [&](std::size_t old) { return target[old] == kNone; });
        for (std::size_t& index : visible_) index = target[index];
    }
    if (!aligned) {
        std::vector<Row> rows;
        rows.reserve(list.size());
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (source[i] != kNone)
                rows.push_back(std::move(rows_[source[i]]));
            else
                rows.push_back(row_of(list[i]));
        }
        rows_ = std::move(rows);
    }
    if (rejudge)
        for (Row& row : rows_) row.readiness = row.record.readiness();
    counts_ = {rows_.size(), 0, 0};
    for (const Row& row : rows_) {
        counts_.online += row.record.presence == Presence::Online;
        counts_.ready += row.readiness == ConnectionReadiness::Ready;
    }

    if (incremental)
        for (std::size_t index : fresh) place(index);
    else if (ordered_)
        sort_order();
}

const std::vector<std::size_t>& ListCache::visible(const ConnectionList& list, std::string_view query) {
    refresh(list);
    if (!ordered_ || query_ != query) {
        query_ = query;
        prepared_ = to_lower_full(trim_unicode(query));
        sort_order();
        ordered_ = true;
    }
    return visible_;
}

const ListCache::Counts& ListCache::counts(const ConnectionList& list) {
    refresh(list);
    return counts_;
}

}  // namespace remote

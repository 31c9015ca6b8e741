#pragma once
// Search, order and in-memory edits of the saved-connection list.
#include "profiles/saved_connection.hpp"
#include "profiles/uuid.hpp"

#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace remote {

// The application's in-memory saved connections: a vector with a revision that assignment and
// the list operations below renew, so that what is derived from the list (its display order,
// its counts) can be kept until the list changes. A revision names one content: copies keep
// it, and a record changed in place by other means calls touch().
class ConnectionList : public std::vector<SavedConnection> {
public:
    ConnectionList() = default;
    explicit ConnectionList(std::vector<SavedConnection> list) : std::vector<SavedConnection>(std::move(list)) {}
    ConnectionList& operator=(std::vector<SavedConnection> list) {
        std::vector<SavedConnection>::operator=(std::move(list));
        touch();
        return *this;
    }
    std::uint64_t revision() const { return revision_; }
    void touch();

private:
    std::uint64_t revision_ = 0;
};

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
bool toggle_favorite(ConnectionList& connections, const Uuid& id);
// Removes every record with `id`; true when one was removed.
bool remove_connection(std::vector<SavedConnection>& connections, const Uuid& id);
bool remove_connection(ConnectionList& connections, const Uuid& id);
// Replaces the first record with the same id in place, or appends.
void upsert_connection(std::vector<SavedConnection>& connections, SavedConnection connection);
void upsert_connection(ConnectionList& connections, SavedConnection connection);

// The display order of a list for a query and the list's counts, kept between frames: the list
// view asks for them every frame. A list with the same revision, storage and size is taken as
// unchanged. Otherwise its records are compared with the ones last seen, and only the records
// that differ are measured again (sort key, readiness) and moved in the order, so that a sync
// which replaces the list for one edited connection costs about one row. The live-session
// switch is read on each call; when it flips every readiness is judged again.
class ListCache {
public:
    struct Counts {
        std::size_t saved = 0;
        std::size_t online = 0;
        std::size_t ready = 0;  // readiness Ready
        friend bool operator==(const Counts&, const Counts&) = default;
    };
    // visible_connections of `query`, as indices into `list`.
    const std::vector<std::size_t>& visible(const ConnectionList& list, std::string_view query);
    const Counts& counts(const ConnectionList& list);

private:
    struct Key {
        std::uint64_t revision = 0;
        const SavedConnection* data = nullptr;
        std::size_t size = 0;
        friend bool operator==(const Key&, const Key&) = default;
    };
    static Key key_of(const ConnectionList& list) { return {list.revision(), list.data(), list.size()}; }

    // What is kept of one record: the record as last seen and what was worked out from it.
    struct Row {
        SavedConnection record;
        std::string sort_name;  // the lower-cased name
        ConnectionReadiness readiness = ConnectionReadiness::Ready;
    };
    static Row row_of(const SavedConnection& record);
    // Brings the rows, the counts and the order up to date with `list`.
    void refresh(const ConnectionList& list);
    // Whether row `a` comes before row `b` in the order.
    bool before(std::size_t a, std::size_t b) const;
    void sort_order();
    // Puts row `index` where it belongs in the order, when it matches the query.
    void place(std::size_t index);

    std::optional<Key> key_;
    bool live_ = false;
    std::vector<Row> rows_;
    Counts counts_;
    // The order for query_ (prepared_ is it trimmed and lower-cased); none until asked for.
    bool ordered_ = false;
    std::string query_;
    std::string prepared_;
    std::vector<std::size_t> visible_;
};

}  // namespace remote

#include "doc/profile_document.hpp"

#include "framework_support/put_if_changed.hpp"
#include "zavo_ui/doc.hpp"

#include <spdlog/spdlog.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <map>
#include <optional>
#include <span>
#include <variant>

namespace remote {

namespace {

constexpr std::string_view kConnections = "connections";
// The actor of the change that makes the connections map on every replica.
constexpr std::string_view kMapActor = "zavo/connections";

[[noreturn]] void assertion_failed(const char* message) {
    spdlog::critical("{}", message);
    std::abort();
}

// The id of the object of `type` under `key`, if that is what the key holds.
std::optional<crdt::ObjId> object_at(const ProfileDocument& doc, const crdt::ObjId& obj, std::string_view key,
                                     crdt::ObjType type) {
    auto entry = doc.get(obj, key);
    if (!entry || !*entry || !(*entry)->value.is_object(type)) return std::nullopt;
    return (*entry)->id;
}

crdt::ObjId object_or_new(ProfileDocument& doc, const crdt::ObjId& obj, std::string_view key, crdt::ObjType type,
                          const char* failure) {
    if (auto found = object_at(doc, obj, key, type)) return *found;
    auto made = doc.put_object(obj, key, type);
    if (!made) assertion_failed(failure);
    return *made;
}

std::int64_t saturating_trunc(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 9223372036854775807.0) return std::numeric_limits<std::int64_t>::max();
    if (v <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(v);
}

// The integer reading of a stored scalar, if it has one.
struct IntegerReading {
    std::optional<std::uint64_t> operator()(std::int64_t x) const { return static_cast<std::uint64_t>(x); }
    std::optional<std::uint64_t> operator()(std::uint64_t x) const { return x; }
    std::optional<std::uint64_t> operator()(double x) const { return static_cast<std::uint64_t>(saturating_trunc(x)); }
    std::optional<std::uint64_t> operator()(crdt::Counter c) const { return static_cast<std::uint64_t>(c.value); }
    std::optional<std::uint64_t> operator()(crdt::Timestamp t) const { return static_cast<std::uint64_t>(t.millis); }
    template <class T>
    std::optional<std::uint64_t> operator()(const T&) const {
        return std::nullopt;
    }
};

// A stored port reduced to 16 bits; 0 for anything that is not a number.
std::uint16_t port_of(const crdt::ScalarValue& v) {
    return static_cast<std::uint16_t>(std::visit(IntegerReading{}, v).value_or(0) & 0xffff);
}

void set_name(ProfileDocument& doc, const crdt::ObjId& connection, std::string_view name) {
    const crdt::ObjId text = object_or_new(doc, connection, "name", crdt::ObjType::Text, "put_object name never fails");
    (void)zavo_ui::doc::splice_text_diffed(doc, text, name);  // reads exactly `name` afterwards
}

// The change that makes the connections map, the same on every replica (one actor, time 0, no
// dependencies), so that replicas which start apart share one map instead of hiding each
// other's behind a conflict.
const crdt::Change& first_connections_change() {
    static const crdt::Change change = [] {
        ProfileDocument made(crdt::ActorId(std::vector<std::uint8_t>(kMapActor.begin(), kMapActor.end())));
        (void)made.put_object(crdt::ROOT, kConnections, crdt::ObjType::Map);
        return *made.get_change(*made.commit(std::nullopt, 0));
    }();
    return change;
}

// The connections maps under ROOT . "connections", the winner first, then the concurrent ones
// it hides in descending op id order.
std::vector<crdt::ObjId> connection_maps(const ProfileDocument& doc) {
    std::vector<crdt::ObjId> maps;
    auto all = doc.get_all(crdt::ROOT, kConnections);
    if (!all || all->empty() || !all->back().value.is_object(crdt::ObjType::Map)) return maps;
    for (auto it = all->rbegin(); it != all->rend(); ++it)
        if (it->value.is_object(crdt::ObjType::Map)) maps.push_back(it->id);
    return maps;
}

// Puts a copy of `entry` under `key` of `map`. Nested objects are copied through a work list,
// not by recursion, however deep they are.
void copy_entry(ProfileDocument& doc, const crdt::ObjId& map, const std::string& key, const crdt::Entry& entry) {
    std::vector<std::pair<crdt::ObjId, crdt::ObjId>> work;  // (from, to) objects made empty so far
    // A scalar is put at once; an object is made empty where `make` makes it and filled later.
    const auto copy = [&](const crdt::Entry& e, const auto& make, const auto& put) {
        if (const crdt::ObjType* type = e.value.object_type()) {
            if (auto made = make(*type)) work.emplace_back(e.id, *made);
        } else {
            (void)put(*e.value.scalar());
        }
    };
    const auto into_map = [&](const crdt::ObjId& to, const std::string& k, const crdt::Entry& e) {
        copy(
            e, [&](crdt::ObjType t) { return doc.put_object(to, k, t); },
            [&](const crdt::ScalarValue& v) { return doc.put(to, k, v); });
    };
    into_map(map, key, entry);
    while (!work.empty()) {
        const auto [from, to] = std::move(work.back());
        work.pop_back();
        switch (doc.object_type(from).value_or(crdt::ObjType::Map)) {
            case crdt::ObjType::Text: (void)doc.splice_text(to, 0, 0, doc.text(from).value_or("")); break;
            case crdt::ObjType::List:
                for (std::size_t i = 0, n = doc.length(from).value_or(0); i < n; ++i)
                    if (auto e = doc.get(from, i); e && *e)
                        copy(
                            **e, [&](crdt::ObjType t) { return doc.insert_object(to, i, t); },
                            [&](const crdt::ScalarValue& v) { return doc.insert(to, i, v); });
                break;
            case crdt::ObjType::Map:
                for (const std::string& k : doc.keys(from).value_or(std::vector<std::string>{}))
                    if (auto e = doc.get(from, k); e && *e) into_map(to, k, **e);
                break;
        }
    }
}

}  // namespace

bool repair_connections_map(ProfileDocument& doc) {
    const std::vector<crdt::ObjId> maps = connection_maps(doc);
    bool changed = false;
    // Every entry of a hidden map moves to the winner, unless the winner (or a map that ranks
    // higher) already holds its key; the hidden maps end empty, so that repairing again, or on
    // another replica, finds nothing to do.
    for (std::size_t m = 1; m < maps.size(); ++m) {
        for (const std::string& key : doc.keys(maps[m]).value_or(std::vector<std::string>{})) {
            auto entry = doc.get(maps[m], key);
            if (!entry || !*entry) continue;
            auto there = doc.get(maps[0], key);
            if (!there) continue;
            if (!*there) copy_entry(doc, maps[0], key, **entry);
            (void)doc.delete_key(maps[m], key);
            changed = true;
        }
    }
    return changed;
}

crdt::ObjId ensure_connections_map(ProfileDocument& doc) {
    if (auto found = object_at(doc, crdt::ROOT, kConnections, crdt::ObjType::Map)) {
        repair_connections_map(doc);
        return *found;
    }
    if (auto entry = doc.get(crdt::ROOT, kConnections); entry && !*entry) {
        (void)doc.apply_changes(std::span(&first_connections_change(), 1));
        if (auto found = object_at(doc, crdt::ROOT, kConnections, crdt::ObjType::Map)) return *found;
    }
    return object_or_new(doc, crdt::ROOT, kConnections, crdt::ObjType::Map,
                         "put_object connections on root never fails");
}

std::string read_string_property(const ProfileDocument& doc, const crdt::ObjId& map, std::string_view key) {
    auto entry = doc.get(map, key);
    if (!entry || !*entry) return {};
    auto* scalar = std::get_if<crdt::ScalarValue>(&(*entry)->value.data);
    if (!scalar) return {};
    std::string* text = std::get_if<std::string>(scalar);
    return text ? std::move(*text) : std::string();
}

namespace {

// The connection under `key`, unless the key is no id or its value is no map.
std::optional<SavedConnection> read_connection(const ProfileDocument& doc, std::string_view key,
                                               const crdt::Value& value, const crdt::ObjId* map) {
    if (!map || !value.is_object(crdt::ObjType::Map)) return std::nullopt;
    auto id = Uuid::parse(key);
    if (!id) return std::nullopt;
    struct Read {
        const ProfileDocument& doc;
        SavedConnection c;
        std::string_view kind, auth, presence;
    } r{doc, {}, {}, {}, {}};
    auto& c = r.c;
    // One reference captured: the visitor is not allocated.
    (void)doc.for_each_entry(*map, [&r](std::string_view field, const crdt::Value& v, const crdt::ObjId* object) {
        auto& c = r.c;
        const crdt::ScalarValue* scalar = v.scalar();
        const std::string* text = scalar ? std::get_if<std::string>(scalar) : nullptr;
        if (field == "name") {
            if (object && v.is_object(crdt::ObjType::Text))
                if (auto name = r.doc.text(*object)) c.name = std::move(*name);
        } else if (field == "host") {
            if (text) c.host = *text;
        } else if (field == "user") {
            if (text) c.user = *text;
        } else if (field == "group") {
            if (text) c.group = *text;
        } else if (field == "last_used") {
            if (text) c.last_used = *text;
        } else if (field == "kind") {
            if (text) r.kind = *text;
        } else if (field == "auth") {
            if (text) r.auth = *text;
        } else if (field == "presence") {
            if (text) r.presence = *text;
        } else if (field == "port") {
            if (scalar) c.port = port_of(*scalar);
        } else if (field == "favorite") {
            if (const bool* b = scalar ? std::get_if<bool>(scalar) : nullptr) c.favorite = *b;
        }
    });
    c.kind = connection_kind_from_label(r.kind);
    c.auth = auth_kind_from_label(r.auth);
    c.presence = presence_from_stored_name(r.presence);
    c.id = *id;
    return std::move(c);
}

}  // namespace

std::vector<SavedConnection> load_connections(const ProfileDocument& doc) {
    std::vector<SavedConnection> out;
    const std::vector<crdt::ObjId> maps = connection_maps(doc);
    if (maps.empty()) return out;
    if (maps.size() == 1) {
        out.reserve(doc.length(maps[0]).value_or(0));
        // One pass over the map, reading the winning values in place.
        (void)doc.for_each_entry(maps[0], [&](std::string_view key, const crdt::Value& value, const crdt::ObjId* map) {
            if (auto c = read_connection(doc, key, value, map)) out.push_back(std::move(*c));
        });
        return out;
    }
    // Maps made concurrently before they were repaired: their union, read as the repair will
    // leave it (a key belongs to the highest-ranked map that holds it).
    std::map<std::string, std::optional<SavedConnection>, std::less<>> keyed;
    for (const crdt::ObjId& m : maps)
        (void)doc.for_each_entry(m, [&](std::string_view key, const crdt::Value& value, const crdt::ObjId* map) {
            if (!keyed.contains(key)) keyed.emplace(key, read_connection(doc, key, value, map));
        });
    for (auto& [key, c] : keyed)
        if (c) out.push_back(std::move(*c));
    return out;
}

void store_connection(ProfileDocument& doc, const SavedConnection& c) {
    using zavo_ui::doc::put_scalar_if_changed;
    const crdt::ObjId connections = ensure_connections_map(doc);
    const crdt::ObjId map = object_or_new(doc, connections, c.id.to_string(), crdt::ObjType::Map,
                                          "put_object connection map never fails");
    set_name(doc, map, c.name);
    put_scalar_if_changed(doc, map, "host", std::string_view(c.host));
    put_scalar_if_changed(doc, map, "port", std::int64_t{c.port});
    put_scalar_if_changed(doc, map, "user", std::string_view(c.user));
    put_scalar_if_changed(doc, map, "kind", stored_name(c.kind));
    put_scalar_if_changed(doc, map, "auth", label(c.auth));
    put_scalar_if_changed(doc, map, "last_used", std::string_view(c.last_used));
    put_scalar_if_changed(doc, map, "presence", stored_name(c.presence));
    put_scalar_if_changed(doc, map, "group", std::string_view(c.group));
    put_scalar_if_changed(doc, map, "favorite", c.favorite);
}

void rename_connection(ProfileDocument& doc, const Uuid& id, std::string_view name) {
    const crdt::ObjId connections = ensure_connections_map(doc);
    if (auto map = object_at(doc, connections, id.to_string(), crdt::ObjType::Map)) set_name(doc, *map, name);
}

void set_favorite(ProfileDocument& doc, const Uuid& id, bool favorite) {
    const crdt::ObjId connections = ensure_connections_map(doc);
    if (auto map = object_at(doc, connections, id.to_string(), crdt::ObjType::Map))
        zavo_ui::doc::put_scalar_if_changed(doc, *map, "favorite", favorite);
}

void delete_connection(ProfileDocument& doc, const Uuid& id) {
    const crdt::ObjId connections = ensure_connections_map(doc);
    (void)doc.delete_key(connections, id.to_string());
}

}  // namespace remote

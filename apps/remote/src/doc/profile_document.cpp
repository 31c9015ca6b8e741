#include "doc/profile_document.hpp"

#include "framework_support/put_if_changed.hpp"
#include "zavo_ui/doc.hpp"

#include <spdlog/spdlog.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <variant>

namespace remote {

namespace {

constexpr std::string_view kConnections = "connections";

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

}  // namespace

crdt::ObjId ensure_connections_map(ProfileDocument& doc) {
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

std::vector<SavedConnection> load_connections(const ProfileDocument& doc) {
    std::vector<SavedConnection> out;
    const auto connections = object_at(doc, crdt::ROOT, kConnections, crdt::ObjType::Map);
    if (!connections) return out;
    auto keys = doc.keys(*connections);
    if (!keys) return out;
    out.reserve(keys->size());
    for (const std::string& key : *keys) {
        auto id = Uuid::parse(key);
        if (!id) continue;
        const auto map = object_at(doc, *connections, key, crdt::ObjType::Map);
        if (!map) continue;
        SavedConnection c;
        if (auto name = object_at(doc, *map, "name", crdt::ObjType::Text)) {
            if (auto text = doc.text(*name)) c.name = std::move(*text);
        }
        c.host = read_string_property(doc, *map, "host");
        c.user = read_string_property(doc, *map, "user");
        c.group = read_string_property(doc, *map, "group");
        c.last_used = read_string_property(doc, *map, "last_used");
        c.kind = connection_kind_from_label(read_string_property(doc, *map, "kind"));
        c.auth = auth_kind_from_label(read_string_property(doc, *map, "auth"));
        c.presence = presence_from_stored_name(read_string_property(doc, *map, "presence"));
        if (auto port = doc.get(*map, "port"); port && *port) {
            if (const crdt::ScalarValue* s = (*port)->value.scalar()) c.port = port_of(*s);
        }
        if (auto fav = doc.get(*map, "favorite"); fav && *fav) {
            if (const crdt::ScalarValue* s = (*fav)->value.scalar())
                if (const bool* b = std::get_if<bool>(s)) c.favorite = *b;
        }
        c.id = *id;
        out.push_back(std::move(c));
    }
    return out;
}

void store_connection(ProfileDocument& doc, const SavedConnection& c) {
    using zavo_ui::doc::put_scalar_if_changed;
    const crdt::ObjId connections = ensure_connections_map(doc);
    const crdt::ObjId map =
        object_or_new(doc, connections, c.id.to_string(), crdt::ObjType::Map, "put_object connection map never fails");
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

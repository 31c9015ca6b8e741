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
    auto length = doc.length(*connections);
    if (!length) return out;
    out.reserve(*length);
    // One pass over each map, reading the winning values in place.
    (void)doc.for_each_entry(*connections, [&](std::string_view key, const crdt::Value& value, const crdt::ObjId* map) {
        if (!map || !value.is_object(crdt::ObjType::Map)) return;
        auto id = Uuid::parse(key);
        if (!id) return;
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
        out.push_back(std::move(c));
    });
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

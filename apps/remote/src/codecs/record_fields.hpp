#pragma once
// Payloads whose variants are records, with each record's fields listed once: the name a field
// has in encoded form and the member that holds it. The compact JSON text, the JSON value, the
// reader and the debug text all walk that one list.
//
//   template <> struct RecordFields<Payload::Rename> {
//       static constexpr std::string_view name = "Rename";
//       static constexpr std::string_view expectation = "struct variant Payload::Rename";
//       static constexpr std::tuple fields{field("id", &Payload::Rename::id), field("name", &Payload::Rename::name)};
//   };
//
// A variant without fields is a unit variant: its JSON text is its name as a string.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>

#include <nlohmann/json.hpp>

#include "doc/json_schema.hpp"
#include "known_hosts/known_hosts_json.hpp"

namespace remote::codec {

template <class R, class T>
struct Field {
    std::string_view name;
    T R::*member;
};

template <class R, class T>
constexpr Field<R, T> field(std::string_view name, T R::*member) {
    return {name, member};
}

// The name, the shape expectation and the fields of each record variant.
template <class R>
struct RecordFields;

// --- one value of each type that fields hold

inline void write_value(json::Writer& w, const Uuid& v) { w.string(v.to_string()); }
inline void write_value(json::Writer& w, const std::string& v) { w.string(v); }
inline void write_value(json::Writer& w, std::uint16_t v) { w.unsigned_number(v); }
inline void write_value(json::Writer& w, bool v) { w.boolean(v); }
inline void write_value(json::Writer& w, ConnectionKind v) { w.string(json::variant_name(v)); }
inline void write_value(json::Writer& w, AuthKind v) { w.string(json::variant_name(v)); }
inline void write_value(json::Writer& w, const HostKeyIdentity& v) { write_host_key_identity(w, v); }

inline nlohmann::ordered_json json_value(const Uuid& v) { return v.to_string(); }
inline nlohmann::ordered_json json_value(const std::string& v) { return v; }
inline nlohmann::ordered_json json_value(std::uint16_t v) { return std::uint64_t{v}; }
inline nlohmann::ordered_json json_value(bool v) { return v; }
inline nlohmann::ordered_json json_value(ConnectionKind v) { return std::string(json::variant_name(v)); }
inline nlohmann::ordered_json json_value(AuthKind v) { return std::string(json::variant_name(v)); }

inline json::Result<Uuid> read_value(json::Reader& r, std::type_identity<Uuid>) { return json::read_uuid(r); }
inline json::Result<std::string> read_value(json::Reader& r, std::type_identity<std::string>) {
    return json::read_text(r);
}
inline json::Result<std::uint16_t> read_value(json::Reader& r, std::type_identity<std::uint16_t>) {
    return json::read_u16(r);
}
inline json::Result<bool> read_value(json::Reader& r, std::type_identity<bool>) { return json::read_flag(r); }
inline json::Result<ConnectionKind> read_value(json::Reader& r, std::type_identity<ConnectionKind>) {
    return json::read_connection_kind(r);
}
inline json::Result<AuthKind> read_value(json::Reader& r, std::type_identity<AuthKind>) {
    return json::read_auth_kind(r);
}
inline json::Result<HostKeyIdentity> read_value(json::Reader& r, std::type_identity<HostKeyIdentity>) {
    return read_host_key_identity(r);
}

inline std::string debug_value(const Uuid& v) { return v.to_string(); }
inline std::string debug_value(const std::string& v) { return json::debug_quoted(v); }
inline std::string debug_value(std::uint16_t v) { return std::to_string(v); }
inline std::string debug_value(bool v) { return v ? "true" : "false"; }
inline std::string debug_value(ConnectionKind v) { return json::to_debug_string(v); }
inline std::string debug_value(AuthKind v) { return json::to_debug_string(v); }

// --- one record

template <class R>
constexpr std::size_t field_count = std::tuple_size_v<std::remove_cvref_t<decltype(RecordFields<R>::fields)>>;

// The record's shape for the reader: its expectation and its field names in declared order.
template <class R>
struct Shape {
    static constexpr auto names = std::apply(
        [](const auto&... f) { return std::array<std::string_view, sizeof...(f)>{f.name...}; },
        RecordFields<R>::fields);
    static constexpr json::RecordShape record{RecordFields<R>::expectation, names};
};

// A unit variant has neither fields nor a record to read.
template <class R>
constexpr const json::RecordShape* record_shape() {
    if constexpr (field_count<R> == 0) {
        return nullptr;
    } else {
        return &Shape<R>::record;
    }
}

// {"name":value,...}
template <class R>
void write_record(json::Writer& w, const R& record) {
    w.begin_object();
    std::apply([&](const auto&... f) { ((w.key(f.name), write_value(w, record.*(f.member))), ...); },
               RecordFields<R>::fields);
    w.end_object();
}

template <class R>
nlohmann::ordered_json json_record(const R& record) {
    nlohmann::ordered_json out = nlohmann::ordered_json::object();
    std::apply([&](const auto&... f) { ((out[std::string(f.name)] = json_value(record.*(f.member))), ...); },
               RecordFields<R>::fields);
    return out;
}

// Reads field number `index` into the record.
template <class R>
json::Result<void> read_field(json::Reader& r, R& record, std::size_t index) {
    json::Result<void> result;
    std::size_t i = 0;
    std::apply(
        [&](const auto&... f) {
            (void)((i++ == index &&
                    (result = json::assign(
                         record.*(f.member),
                         read_value(r, std::type_identity<std::remove_cvref_t<decltype(record.*(f.member))>>{})),
                     true)) ||
                   ...);
        },
        RecordFields<R>::fields);
    return result;
}

// Name { field: value, ... }
template <class R>
std::string debug_record(const R& record) {
    std::string out(RecordFields<R>::name);
    out += " {";
    const char* separator = " ";
    std::apply(
        [&](const auto&... f) {
            ((out += separator, out += f.name, out += ": ", out += debug_value(record.*(f.member)), separator = ", "),
             ...);
        },
        RecordFields<R>::fields);
    out += " }";
    return out;
}

// --- a variant of records

template <class V>
struct Variants;

template <class... R>
struct Variants<std::variant<R...>> {
    // The reader's view of each variant, in declared order; a unit variant has no record.
    static constexpr std::array<json::VariantShape, sizeof...(R)> shapes{
        {{RecordFields<R>::name, record_shape<R>()}...}};

    static std::string_view name(const std::variant<R...>& value) { return shapes.at(value.index()).name; }

    // "Unit", or {"Name":{...}}.
    static std::string write(const std::variant<R...>& value) {
        json::Writer w;
        std::visit(
            [&](const auto& record) {
                using T = std::remove_cvref_t<decltype(record)>;
                if constexpr (field_count<T> == 0) {
                    w.string(RecordFields<T>::name);
                } else {
                    w.begin_object();
                    w.key(RecordFields<T>::name);
                    write_record(w, record);
                    w.end_object();
                }
            },
            value);
        return w.take();
    }

    // {"Name":{...}}, for record variants.
    static nlohmann::ordered_json json(const std::variant<R...>& value) {
        nlohmann::ordered_json out = nlohmann::ordered_json::object();
        std::visit([&](const auto& record) { out[std::string(name(value))] = json_record(record); }, value);
        return out;
    }

    static std::string debug(const std::variant<R...>& value) {
        return std::visit([](const auto& record) { return debug_record(record); }, value);
    }

    // Either form of json::read_enum.
    static json::Result<std::variant<R...>> read(json::Reader& reader) {
        // Built from values: the records' default constructors are not visible to std::tuple
        // (nested types with member initializers).
        std::tuple<R...> records{R{}...};
        auto index = read_enum(reader, records, std::index_sequence_for<R...>{});
        if (!index) return std::unexpected(std::move(index.error()));
        return take(records, *index, std::index_sequence_for<R...>{});
    }

private:
    template <std::size_t... I>
    static json::Result<std::size_t> read_enum(json::Reader& reader, std::tuple<R...>& records,
                                               std::index_sequence<I...>) {
        return json::read_enum(
            reader, shapes, [&](json::Reader& r, std::size_t variant, std::size_t field) -> json::Result<void> {
                json::Result<void> result;
                (void)((variant == I && (result = read_field(r, std::get<I>(records), field), true)) || ...);
                return result;
            });
    }

    template <std::size_t... I>
    static std::variant<R...> take(std::tuple<R...>& records, std::size_t index, std::index_sequence<I...>) {
        using Take = std::variant<R...> (*)(std::tuple<R...>&);
        static constexpr Take take_record[] = {[](std::tuple<R...>& t) {
            return std::variant<R...>(std::in_place_index<I>, std::move(std::get<I>(t)));
        }...};
        return take_record[index](records);
    }
};

}  // namespace remote::codec

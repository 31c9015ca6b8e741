#pragma once
// The one schema every encoded value follows: records are objects with each field under its
// name (or arrays of the field values in declared order on input); enumerations are tagged by
// variant name, a bare string for a variant without fields.
#include "doc/json_reader.hpp"
#include "doc/json_writer.hpp"
#include "profiles/saved_connection.hpp"
#include "profiles/uuid.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace remote::json {

struct RecordShape {
    std::string_view expectation;  // "struct KnownHostEntry"
    std::span<const std::string_view> fields;
};

struct VariantShape {
    std::string_view name;
    // The record of a variant with fields; none for a unit variant.
    const RecordShape* record = nullptr;
};

// Reads the value of field `index` of a record.
using FieldReader = std::function<Result<void>(Reader&, std::size_t index)>;

// A record in object form (any member order, unknown members skipped, duplicate and missing
// fields refused) or in array form (the field values in declared order).
Result<void> read_record(Reader& reader, const RecordShape& shape, const FieldReader& field);

// Reads field `field` of the record of variant `variant`.
using VariantFieldReader = std::function<Result<void>(Reader&, std::size_t variant, std::size_t field)>;

// An enumeration: a string naming a unit variant, or an object with one member named after
// the variant holding null (unit) or the variant's record. Returns the variant's index.
Result<std::size_t> read_enum(Reader& reader, std::span<const VariantShape> variants, const VariantFieldReader& field);

// An array whose elements `element` reads, one call each.
Result<void> read_sequence(Reader& reader, const std::function<Result<void>(Reader&)>& element);

Result<std::string> read_text(Reader& reader);
Result<std::uint16_t> read_u16(Reader& reader);
Result<bool> read_flag(Reader& reader);
Result<Uuid> read_uuid(Reader& reader);
Result<ConnectionKind> read_connection_kind(Reader& reader);
Result<AuthKind> read_auth_kind(Reader& reader);

// Stores a read value into `slot`.
template <class T>
Result<void> assign(T& slot, Result<T> value) {
    if (!value) return std::unexpected(std::move(value.error()));
    slot = std::move(*value);
    return {};
}

// Reads a whole text with `read`; only whitespace may follow the value.
template <class T>
Result<T> decode(std::string_view bytes, const std::function<Result<T>(Reader&)>& read) {
    Reader reader(bytes);
    Result<T> value = read(reader);
    if (!value) return value;
    if (auto end = reader.finish(); !end) return std::unexpected(std::move(end.error()));
    return value;
}

// Variant names of the kinds inside encoded values ("Ssh", "PublicKey"); also their debug form.
std::string_view variant_name(ConnectionKind kind);
std::string_view variant_name(AuthKind auth);
std::string to_debug_string(ConnectionKind kind);
std::string to_debug_string(AuthKind auth);

}  // namespace remote::json

#include "doc/json_schema.hpp"

#include <fmt/format.h>

#include <array>
#include <vector>

namespace remote::json {
namespace {

std::string length_expectation(const RecordShape& shape) {
    return fmt::format("{} with {} element{}", shape.expectation, shape.fields.size(),
                       shape.fields.size() == 1 ? "" : "s");
}

Result<void> read_record_object(Reader& reader, const RecordShape& shape, const FieldReader& field) {
    reader.advance();  // '{'
    std::vector<bool> seen(shape.fields.size(), false);
    while (true) {
        auto c = reader.peek();
        if (!c) return std::unexpected(reader.peek_error("EOF while parsing an object"));
        if (*c == '}') {
            reader.advance();
            break;
        }
        if (*c != '"') return std::unexpected(reader.peek_error("key must be a string"));
        auto key = reader.string();
        if (!key) return std::unexpected(key.error());
        std::size_t index = shape.fields.size();
        for (std::size_t i = 0; i < shape.fields.size(); ++i)
            if (shape.fields[i] == *key) index = i;
        if (index < shape.fields.size() && seen[index])
            return std::unexpected(reader.error(fmt::format("duplicate field `{}`", *key)));
        if (auto colon = reader.colon(); !colon) return colon;
        if (index < shape.fields.size()) {
            seen[index] = true;
            if (auto value = field(reader, index); !value) return value;
        } else if (auto skipped = reader.skip_value(); !skipped) {
            return skipped;
        }
        auto n = reader.peek();
        if (!n) return std::unexpected(reader.peek_error("EOF while parsing an object"));
        if (*n == '}') {
            reader.advance();
            break;
        }
        if (*n != ',') return std::unexpected(reader.peek_error("expected `,` or `}`"));
        reader.advance();
        // After a comma another member must follow.
        if (reader.peek() == '}') return std::unexpected(reader.peek_error("trailing comma"));
    }
    for (std::size_t i = 0; i < shape.fields.size(); ++i)
        if (!seen[i]) return std::unexpected(reader.error(fmt::format("missing field `{}`", shape.fields[i])));
    return {};
}

Result<void> read_record_array(Reader& reader, const RecordShape& shape, const FieldReader& field) {
    reader.advance();  // '['
    for (std::size_t i = 0; i < shape.fields.size(); ++i) {
        auto c = reader.peek();
        if (!c) return std::unexpected(reader.peek_error("EOF while parsing a list"));
        if (i > 0) {
            if (*c == ',') {
                reader.advance();
                c = reader.peek();
                if (c == ']') return std::unexpected(reader.peek_error("trailing comma"));
            } else if (*c != ']') {
                return std::unexpected(reader.peek_error("expected `,` or `]`"));
            }
        }
        if (c == ']') {
            reader.advance();
            return std::unexpected(
                reader.error(fmt::format("invalid length {}, expected {}", i, length_expectation(shape))));
        }
        if (auto value = field(reader, i); !value) return value;
    }
    auto c = reader.peek();
    if (!c) return std::unexpected(reader.peek_error("EOF while parsing a list"));
    if (*c == ']') {
        reader.advance();
        return {};
    }
    if (*c == ',') {
        reader.advance();
        if (reader.peek() == ']') return std::unexpected(reader.peek_error("trailing comma"));
    }
    return std::unexpected(reader.peek_error("trailing characters"));
}

std::string unknown_variant(std::string_view name, std::span<const VariantShape> variants) {
    std::string list;
    for (const auto& v : variants) {
        if (!list.empty()) list += ", ";
        list += fmt::format("`{}`", v.name);
    }
    return fmt::format("unknown variant `{}`, expected one of {}", name, list);
}

template <class E, std::size_t N>
Result<E> read_unit_enum(Reader& reader, const std::array<VariantShape, N>& variants) {
    auto index = read_enum(reader, variants, [](Reader&, std::size_t, std::size_t) -> Result<void> { return {}; });
    if (!index) return std::unexpected(std::move(index.error()));
    return static_cast<E>(*index);
}

constexpr std::array<VariantShape, 4> kKindVariants{{{"Ssh"}, {"Vnc"}, {"Rdp"}, {"Zavo"}}};
constexpr std::array<VariantShape, 3> kAuthVariants{{{"Password"}, {"PublicKey"}, {"DeviceIdentity"}}};

}  // namespace

Result<void> read_record(Reader& reader, const RecordShape& shape, const FieldReader& field) {
    auto c = reader.peek();
    if (c == '{') return read_record_object(reader, shape, field);
    if (c == '[') return read_record_array(reader, shape, field);
    return std::unexpected(reader.invalid_type(shape.expectation));
}

Result<std::size_t> read_enum(Reader& reader, std::span<const VariantShape> variants, const VariantFieldReader& field) {
    auto find = [&](std::string_view name) -> std::optional<std::size_t> {
        for (std::size_t i = 0; i < variants.size(); ++i)
            if (variants[i].name == name) return i;
        return std::nullopt;
    };
    auto c = reader.peek();
    if (!c) return std::unexpected(reader.peek_error("EOF while parsing a value"));
    if (*c == '"') {
        auto name = reader.string();
        if (!name) return std::unexpected(name.error());
        auto index = find(*name);
        if (!index) return std::unexpected(reader.error(unknown_variant(*name, variants)));
        if (variants[*index].record)
            return std::unexpected(reader.error("invalid type: unit variant, expected struct variant"));
        return *index;
    }
    if (*c != '{') return std::unexpected(reader.peek_error("expected value"));
    reader.advance();
    auto k = reader.peek();
    if (k != '"') {
        if (!k) return std::unexpected(reader.peek_error("EOF while parsing a value"));
        return std::unexpected(reader.invalid_type("variant identifier"));
    }
    auto name = reader.string();
    if (!name) return std::unexpected(name.error());
    auto index = find(*name);
    if (!index) return std::unexpected(reader.error(unknown_variant(*name, variants)));
    if (auto colon = reader.colon(); !colon) return std::unexpected(colon.error());
    if (const RecordShape* record = variants[*index].record) {
        std::size_t variant = *index;
        auto content = read_record(reader, *record, [&](Reader& r, std::size_t f) { return field(r, variant, f); });
        if (!content) return std::unexpected(content.error());
    } else {
        auto v = reader.peek();
        if (v == 'n') {
            if (auto null = reader.literal("null"); !null) return std::unexpected(null.error());
        } else {
            return std::unexpected(reader.invalid_type("unit"));
        }
    }
    auto end = reader.peek();
    if (!end) return std::unexpected(reader.peek_error("EOF while parsing an object"));
    if (*end != '}') return std::unexpected(reader.peek_error("expected value"));
    reader.advance();
    return *index;
}

Result<void> read_sequence(Reader& reader, const std::function<Result<void>(Reader&)>& element) {
    auto c = reader.peek();
    if (c != '[') return std::unexpected(reader.invalid_type("a sequence"));
    reader.advance();
    bool first = true;
    while (true) {
        auto n = reader.peek();
        if (!n) return std::unexpected(reader.peek_error("EOF while parsing a list"));
        if (*n == ']') {
            reader.advance();
            return {};
        }
        if (!first) {
            if (*n != ',') return std::unexpected(reader.peek_error("expected `,` or `]`"));
            reader.advance();
            if (reader.peek() == ']') return std::unexpected(reader.peek_error("trailing comma"));
        }
        first = false;
        if (auto e = element(reader); !e) return e;
    }
}

Result<std::string> read_text(Reader& reader) {
    if (reader.peek() != '"') return std::unexpected(reader.invalid_type("a string"));
    return reader.string();
}

Result<std::uint16_t> read_u16(Reader& reader) {
    auto c = reader.peek();
    if (!c || !(*c == '-' || (*c >= '0' && *c <= '9'))) return std::unexpected(reader.invalid_type("u16"));
    auto n = reader.number();
    if (!n) return std::unexpected(n.error());
    if (n->kind == Number::Kind::Unsigned && n->unsigned_value <= 65535)
        return static_cast<std::uint16_t>(n->unsigned_value);
    if (n->kind == Number::Kind::Float)
        return std::unexpected(reader.error(fmt::format("invalid type: {}, expected u16", Reader::describe(*n))));
    return std::unexpected(reader.error(fmt::format("invalid value: {}, expected u16", Reader::describe(*n))));
}

Result<bool> read_flag(Reader& reader) {
    auto c = reader.peek();
    if (c == 't') {
        if (auto l = reader.literal("true"); !l) return std::unexpected(l.error());
        return true;
    }
    if (c == 'f') {
        if (auto l = reader.literal("false"); !l) return std::unexpected(l.error());
        return false;
    }
    return std::unexpected(reader.invalid_type("a boolean"));
}

Result<Uuid> read_uuid(Reader& reader) {
    if (reader.peek() != '"') return std::unexpected(reader.invalid_type("a formatted UUID string"));
    auto text = reader.string();
    if (!text) return std::unexpected(text.error());
    auto id = Uuid::parse(*text);
    if (!id) return std::unexpected(reader.error(fmt::format("UUID parsing failed: {}", id.error())));
    return *id;
}

Result<ConnectionKind> read_connection_kind(Reader& reader) {
    return read_unit_enum<ConnectionKind>(reader, kKindVariants);
}

Result<AuthKind> read_auth_kind(Reader& reader) { return read_unit_enum<AuthKind>(reader, kAuthVariants); }

std::string_view variant_name(ConnectionKind kind) { return kKindVariants.at(static_cast<std::size_t>(kind)).name; }
std::string_view variant_name(AuthKind auth) { return kAuthVariants.at(static_cast<std::size_t>(auth)).name; }
std::string to_debug_string(ConnectionKind kind) { return std::string(variant_name(kind)); }
std::string to_debug_string(AuthKind auth) { return std::string(variant_name(auth)); }

}  // namespace remote::json

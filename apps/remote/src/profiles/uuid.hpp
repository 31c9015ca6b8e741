#pragma once
// Connection ids: random version-4 UUIDs, written as 36-character lower-case hyphenated text.
#include <array>
#include <compare>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace remote {

struct Uuid {
    std::array<std::uint8_t, 16> bytes{};

    static Uuid new_v4();
    // The same id for the same name at every call and on every machine, shaped like a random
    // one: the SHA-1 name-based UUID of `name` in this program's namespace, marked version 4.
    static Uuid v4_from_name(std::string_view name);
    static Uuid nil() { return Uuid{}; }
    // Accepts the hyphenated, simple (32 hex digits), braced and URN forms, hex digits in
    // either case; the error says why the text is not a UUID.
    static std::expected<Uuid, std::string> parse(std::string_view text);
    // 36 characters, lower-case, grouped 8-4-4-4-12.
    std::string to_string() const;

    friend bool operator==(const Uuid&, const Uuid&) = default;
    friend auto operator<=>(const Uuid&, const Uuid&) = default;
};

}  // namespace remote

#include "profiles/uuid.hpp"

#include <uuid/uuid.h>

#include <algorithm>

#include <fmt/format.h>

namespace remote {
namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string invalid_char(char c, std::size_t index) {
    return fmt::format(
        "invalid character: expected an optional prefix of `urn:uuid:` followed by [0-9a-fA-F-], found `{}` at {}", c,
        index + 1);
}

}  // namespace

Uuid Uuid::new_v4() {
    Uuid id;
    uuid_generate_random(id.bytes.data());
    return id;
}

Uuid Uuid::v4_from_name(std::string_view name) {
    static constexpr uuid_t kNamespace = {0x5b, 0x0e, 0x6f, 0x51, 0x2c, 0x4d, 0x4a, 0x8e,
                                          0x9d, 0x63, 0x1f, 0x0c, 0x8a, 0x27, 0x44, 0xd2};
    Uuid id;
    uuid_generate_sha1(id.bytes.data(), kNamespace, name.data(), name.size());
    id.bytes[6] = static_cast<std::uint8_t>((id.bytes[6] & 0x0f) | 0x40);
    return id;
}

std::expected<Uuid, std::string> Uuid::parse(std::string_view text) {
    std::size_t offset = 0;
    std::string_view body = text;
    if (body.starts_with("urn:uuid:")) {
        offset = 9;
        body.remove_prefix(9);
    } else if (body.size() >= 2 && body.front() == '{' && body.back() == '}') {
        offset = 1;
        body = body.substr(1, body.size() - 2);
    }

    // The hex digits; only a well-formed text has exactly 32, and no other reaches the decoding.
    char buffer[32];
    std::size_t count_digits = 0;
    if (body.size() == 32) {
        std::copy(body.begin(), body.end(), buffer);
        count_digits = 32;
    } else {
        // Hyphenated: groups of 8-4-4-4-12.
        static constexpr std::size_t kGroups[] = {8, 4, 4, 4, 12};
        std::size_t group = 0, run = 0, count = 1;
        for (char c : body) count += c == '-';
        if (count != 5) {
            for (std::size_t i = 0; i < body.size(); ++i)
                if (body[i] != '-' && hex_value(body[i]) < 0) return std::unexpected(invalid_char(body[i], offset + i));
            if (count == 1)
                return std::unexpected(
                    fmt::format("invalid length: expected length 32 for simple format, found {}", body.size()));
            return std::unexpected(fmt::format("invalid group count: expected 5, found {}", count));
        }
        for (std::size_t i = 0; i <= body.size(); ++i) {
            if (i == body.size() || body[i] == '-') {
                if (run != kGroups[group])
                    return std::unexpected(fmt::format("invalid group length in group {}: expected {}, found {}", group,
                                                       kGroups[group], run));
                ++group;
                run = 0;
            } else {
                if (count_digits < sizeof buffer) buffer[count_digits] = body[i];
                ++count_digits;
                ++run;
            }
        }
    }
    const std::string_view digits(buffer, std::min(count_digits, sizeof buffer));
    for (std::size_t i = 0; i < digits.size(); ++i)
        if (hex_value(digits[i]) < 0) {
            std::size_t at = body.find(digits[i]);
            return std::unexpected(invalid_char(digits[i], offset + at));
        }
    Uuid id;
    for (std::size_t i = 0; i < 16; ++i)
        id.bytes[i] = static_cast<std::uint8_t>(hex_value(digits[2 * i]) << 4 | hex_value(digits[2 * i + 1]));
    return id;
}

std::string Uuid::to_string() const {
    static const char* hex = "0123456789abcdef";
    std::string out;
    out.reserve(36);
    for (std::size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
        out.push_back(hex[bytes[i] >> 4]);
        out.push_back(hex[bytes[i] & 15]);
    }
    return out;
}

}  // namespace remote

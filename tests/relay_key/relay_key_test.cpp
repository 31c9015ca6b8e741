#include "relay_key/relay_key.hpp"

#include <gtest/gtest.h>

#include <string>

using relay_key::PublicKey;
using relay_key::SecretKey;

namespace {

// RFC 8032, test 1.
constexpr const char* kSecretHex = "9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60";
constexpr const char* kPublicHex = "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a";
constexpr const char* kPublicBase32 = "25NJQAMCWEFLPVKL73J4SZAHHIHOC4XT3KTCGJNPAINGR5YHKENA";

std::string y_hex(unsigned y, bool sign = false) {
    std::string out = std::string(64, '0');
    const char* digits = "0123456789abcdef";
    out[0] = digits[(y >> 4) & 15];
    out[1] = digits[y & 15];
    if (sign) out[62] = '8';
    return out;
}

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

TEST(PublicKey, AcceptsTheTextFormsOfValidPoints) {
    struct Case {
        std::string text;
        bool valid;
    } cases[] = {
        {std::string(64, '0'), true},  // y = 0 is on the curve
        {y_hex(1), true},
        {y_hex(1, true), true},  // the sign bit plays no part
        {y_hex(2), false},       // (y^2 - 1) / (d y^2 + 1) is not a square
        {y_hex(7), false},
        {kPublicHex, true},
        {kPublicBase32, true},
        {lower(kPublicBase32), true},
        {std::string(kPublicBase32) + "A", false},                // 53 characters
        {std::string(kPublicBase32).substr(0, 51) + "B", false},  // non-zero trailing bits
        {"D75A980182B10AB7D54BFED3C964073A0EE172F3DAA62325AF021A68F707511A", false},
        {std::string(" ") + kPublicHex, false},
        {std::string(kPublicHex) + " ", false},
        {"", false},
        {"abc", false},
    };
    for (const auto& c : cases) EXPECT_EQ(PublicKey::from_str(c.text).has_value(), c.valid) << c.text;
}

TEST(PublicKey, DisplaysAsLowerCaseHexWhateverItWasReadFrom) {
    auto from_base32 = PublicKey::from_str(kPublicBase32);
    ASSERT_TRUE(from_base32);
    EXPECT_EQ(from_base32->to_string(), kPublicHex);
    EXPECT_EQ(*from_base32, *PublicKey::from_str(kPublicHex));
}

TEST(SecretKey, DerivesTheEd25519PublicKey) {
    SecretKey::Bytes secret{};
    for (std::size_t i = 0; i < secret.size(); ++i)
        secret[i] = static_cast<std::uint8_t>(std::stoi(std::string(kSecretHex + 2 * i, 2), nullptr, 16));
    EXPECT_EQ(SecretKey::from_bytes(secret).public_key().to_string(), kPublicHex);
}

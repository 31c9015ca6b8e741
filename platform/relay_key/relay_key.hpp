#pragma once
// Endpoint keys of the device relay: Ed25519 public keys, written as 64 lower-case hex digits
// (or read from 52 base32 characters).
#include <array>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace relay_key {

class PublicKey {
public:
    using Bytes = std::array<std::uint8_t, 32>;

    // Accepts exactly 64 lower-case hex digits, or 52 RFC 4648 base32 characters without
    // padding in either letter case, that decode to 32 bytes forming a valid compressed
    // Ed25519 point. Nothing else: no blanks, no upper-case hex.
    static std::expected<PublicKey, std::string> from_str(std::string_view text);
    // The same point check for raw bytes.
    static std::expected<PublicKey, std::string> from_bytes(const Bytes& bytes);

    const Bytes& as_bytes() const { return bytes_; }
    // 64 lower-case hex digits.
    std::string to_string() const;

    friend bool operator==(const PublicKey&, const PublicKey&) = default;
    friend auto operator<=>(const PublicKey&, const PublicKey&) = default;

private:
    friend class SecretKey;
    explicit PublicKey(const Bytes& b) : bytes_(b) {}
    Bytes bytes_{};
};

// True when the 32 bytes decompress to a point of the Ed25519 curve: y is the low 255 bits
// reduced modulo 2^255 - 19, the sign bit plays no part.
bool is_valid_point(const PublicKey::Bytes& bytes);

class SecretKey {
public:
    using Bytes = std::array<std::uint8_t, 32>;
    static SecretKey from_bytes(const Bytes& bytes) { return SecretKey(bytes); }
    const Bytes& to_bytes() const { return bytes_; }
    // The Ed25519 public key of this secret.
    PublicKey public_key() const;

private:
    explicit SecretKey(const Bytes& b) : bytes_(b) {}
    Bytes bytes_{};
};

}  // namespace relay_key
